// What the table's document decides for opens, saves and the exit save, as
// facts: no window, no words.

#include <QtTest>

#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "session/TableDocument.h"
#include "tests/support/FileBytes.h"

namespace {

QByteArray TableBytes(const QString& code)
{
    ConfigTable table;
    InitTable(table);
    table.SetCellText(1, 1, code);
    return WriteTableFile(table.Content());
}

struct DocRig {
    QTemporaryDir dir;
    ConfigTable table;
    TableDocument doc{table};
    QString path = dir.filePath(QStringLiteral("data.dat"));
    DocRig()
    {
        InitTable(table);
        doc.SetPath(path);
    }
};

}  // namespace

class TestTableDocument : public QObject {
    Q_OBJECT
private slots:
    // An open that loads makes the file current; one refused changes nothing.
    void Open_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<LoadRefusal>("why");
        QTest::newRow("a table") << "table" << true << LoadRefusal::NotATable;
        QTest::newRow("no table") << "junk" << false << LoadRefusal::NotATable;
        QTest::newRow("damaged, a copy loads") << "junk+bak" << false << LoadRefusal::NotATable;
        QTest::newRow("unreadable name") << "name" << false << LoadRefusal::UnreadableName;
        QTest::newRow("too large") << "large" << false << LoadRefusal::TooLargeFile;
        QTest::newRow("held") << "held" << false << LoadRefusal::Held;
    }
    void Open()
    {
        QFETCH(QString, file);
        QFETCH(bool, loaded);
        QFETCH(LoadRefusal, why);
        DocRig rig;
        QString path = rig.dir.filePath(file == "name" ? QStringLiteral("a\uFFFD.dat") : QStringLiteral("other.dat"));
        WriteAll(path, file == "junk" || file == "junk+bak" ? QByteArray(600, 'x') : TableBytes(QStringLiteral("11")));
        if (file == "junk+bak") WriteAll(path + ".bak", TableBytes(QStringLiteral("11")));
        if (file == "large") QFile(path).resize(TableFileFormat::LargestFileSize + 1);
        rig.doc.Hold(file == "held");
        const LoadOutcome o = rig.doc.Open(path);
        QCOMPARE(o.loaded, loaded);
        if (!loaded) QCOMPARE(o.why, why);
        QCOMPARE(o.copy, file == "junk+bak" ? path + ".bak" : QString());
        QCOMPARE(o.bytes, file == "large" ? TableFileFormat::LargestFileSize : 0);
        QCOMPARE(rig.doc.Path(), loaded ? path : rig.path);
        QCOMPARE(rig.table.GetCellText(1, 1), loaded ? QStringLiteral("11") : QString());
    }

    // Which file was written, what was kept first and why, or why nothing was.
    void Save_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<SaveRefusal>("why");
        QTest::addColumn<KeptBecause>("kept");
        QTest::newRow("new file") << "none" << SaveRefusal::None << KeptBecause::None;
        QTest::newRow("its own table") << "table" << SaveRefusal::None << KeptBecause::None;
        QTest::newRow("did not load") << "junk" << SaveRefusal::None << KeptBecause::HeldMore;
        QTest::newRow("changed elsewhere") << "changed" << SaveRefusal::None << KeptBecause::ChangedElsewhere;
        QTest::newRow("a read replaced it") << "read" << SaveRefusal::None << KeptBecause::ReadReplaced;
        QTest::newRow("no folder") << "nofolder" << SaveRefusal::NoPlace << KeptBecause::None;
        QTest::newRow("held") << "held" << SaveRefusal::Held << KeptBecause::None;
    }
    void Save()
    {
        QFETCH(QString, before);
        QFETCH(SaveRefusal, why);
        QFETCH(KeptBecause, kept);
        DocRig rig;
        if (before == "nofolder") rig.doc.SetPath(rig.dir.filePath(QStringLiteral("none/data.dat")));
        const QByteArray old = before == "junk" ? QByteArray(600, 'x') : TableBytes(QStringLiteral("11"));
        if (before != "none" && before != "nofolder") WriteAll(rig.path, old);
        rig.doc.Load();
        if (before == "changed") WriteAll(rig.path, TableBytes(QStringLiteral("1122")));
        if (before == "read") QVERIFY(rig.doc.NoteReplacedByRead());
        rig.doc.Hold(before == "held");
        rig.table.SetCellText(2, 1, QStringLiteral("33"));
        const SaveOutcome o = rig.doc.Save();
        QCOMPARE(o.result, why == SaveRefusal::None ? SaveResult::Written : SaveResult::Refused);
        QCOMPARE(o.why, why);
        QCOMPARE(o.kept, kept);
        QCOMPARE(o.detail.isEmpty(), why != SaveRefusal::NoPlace);
        if (kept != KeptBecause::None) QCOMPARE(ReadAll(o.copy), before == "changed" ? TableBytes(QStringLiteral("1122")) : old);
        if (kept == KeptBecause::HeldMore) QCOMPARE(o.copy, rig.path + ".bak");
        if (o.result == SaveResult::Written) QCOMPARE(ReadAll(rig.path), WriteTableFile(rig.table.Content()));
    }

    // A name refused by save as leaves the current file as it was.
    void SaveAsRefusesUnreadableName()
    {
        DocRig rig;
        const SaveOutcome o = rig.doc.SaveAs(rig.dir.filePath(QStringLiteral("a\uFFFD.dat")));
        QCOMPARE(o.why, SaveRefusal::UnreadableName);
        QCOMPARE(rig.doc.Path(), rig.path);
    }

    // At exit: a newer file the table would only put back is left; a file
    // that cannot take the table has it rescued into the given folder.
    void ExitSave()
    {
        DocRig rig;
        WriteAll(rig.path, TableBytes(QStringLiteral("11")));
        rig.doc.Load();
        WriteAll(rig.path, TableBytes(QStringLiteral("1122")));
        QCOMPARE(rig.doc.SaveAtExit(rig.dir.path()).save.result, SaveResult::LeftNewer);
        QCOMPARE(ReadAll(rig.path), TableBytes(QStringLiteral("1122")));

        rig.table.SetCellText(2, 1, QStringLiteral("33"));
        rig.doc.SetPath(rig.dir.path());  // a folder
        const ExitSaveOutcome o = rig.doc.SaveAtExit(rig.dir.filePath(QStringLiteral("rescue")));
        QCOMPARE(o.save.result, SaveResult::Refused);
        QVERIFY(o.Kept() && o.rescue.startsWith(rig.dir.filePath(QStringLiteral("rescue/"))));
        QCOMPARE(ReadAll(o.rescue), WriteTableFile(rig.table.Content()));
    }
};

QTEST_GUILESS_MAIN(TestTableDocument)
#include "test_tabledocument.moc"
