// Every text the window shows, written as Texts::tr("…") or
// QT_TRANSLATE_NOOP("Velmora", "…") in src/, has a finished English
// translation in translations/velmora_en.ts with the same %n placeholders.
// A text added without one fails here until the update-translations target
// has brought it into the .ts and it is translated there.

#include <QtTest>
#include <QDirIterator>
#include <QRegularExpression>
#include <QXmlStreamReader>

class TranslationsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyWindowTextHasAFinishedEnglishTranslation()
    {
        const QString root = qEnvironmentVariable("VELMORA_SOURCE_DIR");
        QHash<QString, QString> english;  // source text → finished translation
        QFile ts(root + QStringLiteral("/translations/velmora_en.ts"));
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&ts);
        QString source;
        while (xml.readNextStartElement() || !xml.atEnd()) {
            if (xml.name() == QLatin1String("source")) source = xml.readElementText();
            if (xml.name() == QLatin1String("translation") && xml.attributes().value(QLatin1String("type")).isEmpty())
                english.insert(source, xml.readElementText());
        }

        static const QRegularExpression use(
            QStringLiteral("(?:Texts::tr\\(|QT_TRANSLATE_NOOP\\(\"Velmora\",)\\s*\"((?:[^\"\\\\]|\\\\.)*)\""));
        static const QRegularExpression placeholder(QStringLiteral("%\\d+"));
        auto placeholders = [](const QString& text) {
            QStringList found;
            for (const QRegularExpressionMatch& m : placeholder.globalMatch(text)) found << m.captured();
            found.sort();
            return found;
        };
        QStringList problems;
        int texts = 0;
        QDirIterator files(root + QStringLiteral("/src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString code = QString::fromUtf8(file.readAll());
            for (const QRegularExpressionMatch& m : use.globalMatch(code)) {
                const qsizetype line = code.lastIndexOf(QLatin1Char('\n'), m.capturedStart()) + 1;
                if (QStringView(code).mid(line, m.capturedStart() - line).contains(QLatin1String("//"))) continue;
                QString text = m.captured(1);
                text.replace(QStringLiteral("\\r"), QStringLiteral("\r")).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
                text.replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
                ++texts;
                const QString where = QDir(root).relativeFilePath(file.fileName()) + QStringLiteral(": ") + text;
                if (english.value(text).isEmpty()) problems << where + QStringLiteral(" has no finished translation");
                else if (placeholders(english.value(text)) != placeholders(text)) problems << where + QStringLiteral(" differs in %n");
            }
        }
        QVERIFY(texts > 50);
        QVERIFY2(problems.isEmpty(), qPrintable(QStringLiteral("\n") + problems.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TranslationsTest)
#include "test_translations.moc"
