// Which language the window speaks, from the desktop's locale, --language and
// the remembered choice, and what the window and Qt's own boxes then say.

#include <QtTest>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include "app/LanguageChoice.h"
#include "app/SettingsFile.h"
#include "config/ConfigTable.h"
#include "ui/MainWindow.h"
#include "tests/support/FakeUiServices.h"
#include "ui/BoxPresenter.h"
#include "ui/Translations.h"

class LanguageTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theLanguageComesFromTheArgumentThenTheSettingThenTheLocale_data()
    {
        QTest::addColumn<QString>("environment");  // NAME=value … of the locale variables
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("readButton");
        QTest::addColumn<QString>("okButton");
        QTest::addColumn<QString>("rememberedAfter");
        const QString zh = QStringLiteral("读取模块"), en = QStringLiteral("Read module");
        const QString zhOk = QStringLiteral("确定"), enOk = QStringLiteral("OK");
        QTest::newRow("zh_CN") << "LANG=zh_CN.UTF-8" << "" << "" << zh << zhOk << "";
        QTest::newRow("zh_TW") << "LANG=zh_TW.UTF-8" << "" << "" << zh << zhOk << "";
        QTest::newRow("C.UTF-8") << "LANG=C.UTF-8" << "" << "" << zh << zhOk << "";
        QTest::newRow("POSIX") << "LC_ALL=POSIX" << "" << "" << zh << zhOk << "";
        QTest::newRow("nothing set") << "" << "" << "" << zh << zhOk << "";
        QTest::newRow("en_US") << "LANG=en_US.UTF-8" << "" << "" << en << enOk << "";
        QTest::newRow("de_DE") << "LANG=de_DE.UTF-8" << "" << "" << en << enOk << "";
        QTest::newRow("LC_ALL over LANG") << "LC_ALL=en_GB.UTF-8 LANG=zh_CN.UTF-8" << "" << "" << en << enOk << "";
        QTest::newRow("LC_MESSAGES over LANG") << "LC_MESSAGES=zh_CN.UTF-8 LANG=en_US.UTF-8" << "" << "" << zh << zhOk << "";
        QTest::newRow("LANGUAGE first") << "LANG=en_US.UTF-8 LANGUAGE=zh_CN:en" << "" << "" << zh << zhOk << "";
        QTest::newRow("C ignores LANGUAGE") << "LC_ALL=C LANGUAGE=en" << "" << "" << zh << zhOk << "";
        QTest::newRow("remembered en") << "LANG=C.UTF-8" << "" << "en" << en << enOk << "en";
        QTest::newRow("remembered zh") << "LANG=en_US.UTF-8" << "" << "zh" << zh << zhOk << "zh";
        QTest::newRow("remembered nonsense") << "LANG=en_US.UTF-8" << "" << "fr" << en << enOk << "fr";
        QTest::newRow("--language en") << "LANG=zh_CN.UTF-8" << "en" << "" << en << enOk << "en";
        QTest::newRow("--language zh over remembered") << "LANG=en_US.UTF-8" << "zh" << "en" << zh << zhOk << "zh";
    }
    void theLanguageComesFromTheArgumentThenTheSettingThenTheLocale()
    {
        QFETCH(QString, environment);
        QFETCH(QString, argument);
        QFETCH(QString, remembered);
        QFETCH(QString, readButton);
        QFETCH(QString, okButton);
        QFETCH(QString, rememberedAfter);
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}) qunsetenv(name);
        for (const QString& pair : environment.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            qputenv(pair.section(QLatin1Char('='), 0, 0).toLatin1(), pair.section(QLatin1Char('='), 1).toUtf8());
        QTemporaryDir dir;
        const QString settingsFile = dir.filePath(QStringLiteral("velmora.conf"));
        if (!remembered.isEmpty()) QSettings(settingsFile, QSettings::IniFormat).setValue("window/language", remembered);

        FakeUiServices ui;
        SettingsFile settings(settingsFile, ui);
        const Language language = ChooseLanguage(argument, settings, DesktopLocaleName());
        Translations translations;
        // Both built into the program.
        QVERIFY(QFile::exists(QStringLiteral(":/i18n/velmora_en.qm")));
        QVERIFY(QFile::exists(QStringLiteral(":/i18n/qtbase_zh_CN.qm")));
        QVERIFY(translations.Install(language));
        QVERIFY(translations.InstallQtCatalogue());

        ConfigTable table;
        MainWindow window(table, WindowHandlers{});
        QCOMPARE(window.findChild<QPushButton*>(QStringLiteral("Button_ReadModule"))->text(), readButton);
        QMessageBox box(QMessageBox::NoIcon, QString(), QString(), QMessageBox::Ok | QMessageBox::Cancel);
        QVERIFY2(box.button(QMessageBox::Ok)->text().startsWith(okButton), qPrintable(box.button(QMessageBox::Ok)->text()));
        // The file dialog's dates and file types go by the default locale.
        QCOMPARE(QLocale().language(), readButton == QLatin1String("Read module") ? QLocale::English : QLocale::Chinese);
        QCOMPARE(QSettings(settingsFile, QSettings::IniFormat).value("window/language").toString(), rememberedAfter);
        // Qt's own file dialog: a folder's type and date in the window's language as well.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        FileDialogRequest request;
        request.initialName = dir.filePath(QStringLiteral("x.dat"));
        const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(request);
        const auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("treeView"));
        QTRY_VERIFY(view->model()->index(0, 2, view->rootIndex()).isValid());
        const QModelIndex sub = view->model()->index(0, 2, view->rootIndex());
        QCOMPARE(sub.data().toString(), readButton == "Read module" ? "Folder" : "文件夹");
        const QDateTime modified = QFileInfo(dir.filePath(QStringLiteral("sub"))).lastModified();
        QCOMPARE(sub.siblingAtColumn(3).data().toString(), QLocale().toString(modified, QLocale::ShortFormat));
    }
};

QTEST_MAIN(LanguageTest)
#include "test_language.moc"
