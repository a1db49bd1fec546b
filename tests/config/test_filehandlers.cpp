#include <QtTest>

#include <memory>
#include <sys/stat.h>

#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "core/Program.h"
#include "config/FileHandlers.h"
#include "config/TableFile.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeUiServices.h"
#include "tests/support/FileBytes.h"
#include "tests/support/ReadOnlyPath.h"
#include "tests/support/SpecialFiles.h"

namespace {
const QByteArray kNotATable = QByteArray("KTBF\x09\0\0\0", 8) + QByteArray(600, 'x');
const QString kSaveFailed = QStringLiteral("保存失败，请检查路径或文件是否被占用。");

// One program context with the recording fakes and a laid-out table.
struct Rig {
    FakeUiServices ui;
    SerialLibrary serial{ui, {}};
    ConfigTable table;
    WindowProgram window{ui, serial, table};
    Program& p = window.program;
    Rig(const QString& path)
    {
        InitTable(table);
        p.state.currentFilePath = path;
    }
};

// The files the exit save had to put into the user's data folder.
QStringList RescuedFiles()
{
    const QDir user(UserDataFolder());
    QStringList out;
    for (const QString& name : user.entryList({QStringLiteral("*-*.dat")}, QDir::Files)) out << user.filePath(name);
    return out;
}

// A table file made by another run of the program, with one code in it.
void WriteTableWithCode(const QString& path, const QString& code)
{
    ConfigTable other;
    InitTable(other);
    other.SetCellText(2, 2, code);
    QVERIFY(other.SaveTable(path));
}
}  // namespace

class FileHandlersTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QDir(UserDataFolder()).removeRecursively(); }
    void cleanupTestCase() { QDir(UserDataFolder()).removeRecursively(); }

    void openTakesOnlyAnExactDatExtension()
    {
        WriteTableWithCode(Path("CONFIG.DAT"), QStringLiteral("11"));
        WriteTableWithCode(Path("config.dat"), QStringLiteral("22 33"));
        Rig rig(Path("data.dat"));
        rig.ui.title = QStringLiteral("before");
        rig.ui.dialogAnswers = {QString(), Path("CONFIG.DAT"), Path("config.dat")};

        OpenFile(rig.p);  // cancelled
        OpenFile(rig.p);  // upper-case extension: nothing happens
        QCOMPARE(rig.p.state.currentFilePath, Path("data.dat"));
        QCOMPARE(rig.ui.title, QStringLiteral("before"));
        QVERIFY(rig.table.GetCellText(2, 2).isEmpty());

        OpenFile(rig.p);
        QCOMPARE(rig.ui.dialogKindsShown, (QVector<int>{0, 0, 0}));
        QCOMPARE(rig.ui.defaultExtension, QStringLiteral(".dat"));
        QCOMPARE(rig.p.state.currentFilePath, Path("config.dat"));
        QCOMPARE(rig.ui.title, QStringLiteral("Velmora-自定义设备版   ") + Path("config.dat"));
        QCOMPARE(rig.table.GetCellText(2, 2), QStringLiteral("22 33"));
        QVERIFY(rig.ui.boxes.isEmpty());
    }

    void saveReportsSuccessAndFailure()
    {
        Rig rig(Path("saved.dat"));
        rig.table.SetCellText(1, 1, QStringLiteral("AA BB "));
        SaveFile(rig.p);
        QCOMPARE(rig.ui.boxes.size(), 1);
        QCOMPARE(rig.ui.boxes.at(0).text, QStringLiteral("保存成功！"));
        QCOMPARE(rig.ui.boxes.at(0).caption, QStringLiteral("信息："));
        QCOMPARE(rig.ui.boxes.at(0).flags, MessageBoxFlags::Ok);
        ConfigTable back;
        QVERIFY(back.LoadTable(Path("saved.dat")));
        QCOMPARE(back.GetCellText(1, 1), QStringLiteral("AA BB "));

        QVERIFY(WriteAll(Path("a-file"), "x"));
        rig.p.state.currentFilePath = Path("a-file/data.dat");
        SaveFile(rig.p);
        QCOMPARE(rig.ui.boxes.size(), 2);
        QCOMPARE(rig.ui.boxes.at(1).text, QStringLiteral("保存失败，请检查路径或文件是否被占用。"));
        QCOMPARE(ReadAll(Path("a-file")), QByteArray("x"));
    }

    void saveAsWritesAnyExtensionAndBecomesCurrent()
    {
        Rig rig(Path("data.dat"));
        rig.table.SetCellText(3, 1, QStringLiteral("01 02"));
        rig.ui.dialogAnswers = {QString(), Path("backup.txt")};
        SaveAs(rig.p);
        QVERIFY(!QFileInfo::exists(Path("backup.txt")));
        QCOMPARE(rig.p.state.currentFilePath, Path("data.dat"));
        SaveAs(rig.p);
        QCOMPARE(rig.ui.dialogKindsShown, (QVector<int>{1, 1}));
        QCOMPARE(rig.ui.defaultExtension, QStringLiteral(".dat"));
        QCOMPARE(rig.p.state.currentFilePath, Path("backup.txt"));
        QCOMPARE(rig.ui.title, QStringLiteral("Velmora-自定义设备版   ") + Path("backup.txt"));
        QVERIFY(rig.ui.boxes.isEmpty());
        ConfigTable back;
        QVERIFY(back.LoadTable(Path("backup.txt")));
        QCOMPARE(back.GetCellText(3, 1), QStringLiteral("01 02"));
        // The exit save now goes there too.
        rig.table.SetCellText(3, 1, QStringLiteral("03"));
        QVERIFY(SaveCurrentTable(rig.p));
        QVERIFY(back.LoadTable(Path("backup.txt")));
        QCOMPARE(back.GetCellText(3, 1), QStringLiteral("03"));
        QVERIFY(!QFileInfo::exists(Path("data.dat")));

        // A save-as that cannot be done is said, unlike one that succeeds.
        rig.ui.dialogAnswers = {Path("missing-folder/other.dat")};
        SaveAs(rig.p);
        QCOMPARE(rig.ui.BoxTexts(), QStringList{kSaveFailed});
    }

    void unreadableStartFileIsKeptAsBakBeforeTheFirstSave()
    {
        QDir(Path("start")).mkpath(".");
        const QString path = Path("start/data.dat");
        QVERIFY(WriteAll(path, kNotATable));
        Rig rig(path);
        QVERIFY(!LoadCurrentTable(rig.p));
        QCOMPARE(rig.table.GetCellText(1, 0), QStringLiteral("开关01控制"));

        QVERIFY(SaveCurrentTable(rig.p));
        QCOMPARE(ReadAll(path + ".bak"), kNotATable);
        ConfigTable back;
        QVERIFY(back.LoadTable(path));
        // Later saves overwrite the now readable file without another copy.
        QVERIFY(SaveCurrentTable(rig.p));
        QCOMPARE(QDir(Path("start")).entryList(QDir::Files), (QStringList{"data.dat", "data.dat.bak"}));

        // "另存文件" onto the unreadable file itself keeps it too.
        QVERIFY(WriteAll(path, kNotATable));
        QVERIFY(!LoadCurrentTable(rig.p));
        rig.ui.dialogAnswers = {path};
        SaveAs(rig.p);
        QCOMPARE(ReadAll(path + ".bak2"), kNotATable);
        QVERIFY(back.LoadTable(path));
    }

    void missingOrReadableStartFileNeedsNoBackup()
    {
        QDir(Path("fresh")).mkpath(".");
        Rig rig(Path("fresh/data.dat"));
        QVERIFY(!LoadCurrentTable(rig.p));
        QVERIFY(SaveCurrentTable(rig.p));
        QVERIFY(LoadCurrentTable(rig.p));
        QVERIFY(SaveCurrentTable(rig.p));
        QCOMPARE(QDir(Path("fresh")).entryList(QDir::Files), QStringList{"data.dat"});
    }

    void openedUnreadableFileSurvivesSaveAndAnOldBakIsKept()
    {
        QDir(Path("open")).mkpath(".");
        const QString path = Path("open/broken.dat");
        QVERIFY(WriteAll(path, kNotATable));
        QVERIFY(WriteAll(path + ".bak", "an older backup"));
        Rig rig(Path("data.dat"));
        rig.table.SetCellText(4, 1, QStringLiteral("kept"));
        rig.ui.dialogAnswers = {path};
        OpenFile(rig.p);
        QCOMPARE(rig.ui.title, QStringLiteral("Velmora-自定义设备版   ") + path);
        QCOMPARE(rig.table.GetCellText(4, 1), QStringLiteral("kept"));

        SaveFile(rig.p);
        QCOMPARE(rig.ui.BoxTexts(), QStringList{QStringLiteral("保存成功！")});
        QCOMPARE(ReadAll(path + ".bak"), QByteArray("an older backup"));
        QCOMPARE(ReadAll(path + ".bak2"), kNotATable);
        ConfigTable back;
        QVERIFY(back.LoadTable(path));
        QCOMPARE(back.GetCellText(4, 1), QStringLiteral("kept"));
    }

    void aFileWithPartsTheTableDropsIsKeptAsBak()
    {
        QDir(Path("extra")).mkpath(".");
        const QString path = Path("extra/data.dat");
        WriteTableWithCode(path, QStringLiteral("11"));
        const QByteArray withExtra = ReadAll(path) + "bytes after the table";
        QVERIFY(WriteAll(path, withExtra));
        Rig rig(path);
        QVERIFY(LoadCurrentTable(rig.p));
        QCOMPARE(rig.table.GetCellText(2, 2), QStringLiteral("11"));
        QVERIFY(SaveCurrentTable(rig.p));
        QCOMPARE(ReadAll(path + ".bak"), withExtra);
        QVERIFY(SaveCurrentTable(rig.p));
        QCOMPARE(QDir(Path("extra")).entryList(QDir::Files), (QStringList{"data.dat", "data.dat.bak"}));
    }

    // Two windows on one file, and another program's save while one runs:
    // every save that would overwrite what someone else wrote keeps it first.
    void aFileChangedOnDiskSinceItWasReadIsKeptBeforeItIsSavedOver()
    {
        QDir(Path("shared")).mkpath(".");
        const QString path = Path("shared/data.dat");
        WriteTableWithCode(path, QStringLiteral("11"));
        Rig first(path), second(path);
        QVERIFY(LoadCurrentTable(first.p));
        QVERIFY(LoadCurrentTable(second.p));
        first.table.SetCellText(2, 2, QStringLiteral("AA"));
        second.table.SetCellText(2, 2, QStringLiteral("BB"));
        auto codeIn = [](const QString& file) {
            ConfigTable back;
            return back.LoadTable(file) ? back.GetCellText(2, 2) : QStringLiteral("(no table)");
        };

        QVERIFY(SaveCurrentTable(first.p));  // nobody came between: no copy
        QVERIFY(first.ui.Log().isEmpty());
        QVERIFY(SaveCurrentTable(second.p));
        QCOMPARE(codeIn(path + ".bak"), QStringLiteral("AA"));
        QCOMPARE(second.ui.Log(), QStringLiteral("%1 已在别处修改，保存前已备份为 %2\r\n").arg(path, path + ".bak"));
        QVERIFY(SaveCurrentTable(second.p));  // its own save is no change
        QCOMPARE(second.ui.Log().count(QStringLiteral("\r\n")), 1);

        // Another program saves the file; then the first window ends.
        WriteTableWithCode(path, QStringLiteral("CC"));
        first.p.state.shuttingDown = true;
        QVERIFY(SaveAtExit(first.p));
        QCOMPARE(codeIn(path), QStringLiteral("AA"));
        QCOMPARE(codeIn(path + ".bak2"), QStringLiteral("CC"));
        QCOMPARE(first.ui.consoleLines, QStringList{QStringLiteral("velmora: %1 was changed by another program; kept it as %2 before saving")
                                                        .arg(path, path + ".bak2")});
        QCOMPARE(QDir(Path("shared")).entryList(QDir::Files), (QStringList{"data.dat", "data.dat.bak", "data.dat.bak2"}));
    }

    void whatCannotTakeTheTableSendsTheExitSaveToTheUserFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO nobody reads") << QStringLiteral("fifo");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("block device") << QStringLiteral("block");
        QTest::newRow("full device") << QStringLiteral("full");
        QTest::newRow("read-only file") << QStringLiteral("read-only");
    }
    void whatCannotTakeTheTableSendsTheExitSaveToTheUserFolder()
    {
        QFETCH(QString, kind);
        QDir(Path(kind)).mkpath(".");
        const QString path = Path(kind + "/data.dat");
        std::unique_ptr<ReadOnlyPath> readOnly;
        if (kind == "fifo") QVERIFY(MakeFifo(path));
        if (kind == "folder") QVERIFY(QDir(path).mkpath("."));
        if ((kind == "block" || kind == "full") && !MakeDevice(path, kind[0].toLatin1(), kind == "block" ? 7 : kMemoryDevices, kFullDevice))
            QSKIP("no device nodes can be made here (mknod needs root and a mount that allows devices)");
        if (kind == "read-only") {
            WriteTableWithCode(path, QStringLiteral("CC"));
            readOnly = std::make_unique<ReadOnlyPath>(path);
            if (!readOnly->Holds()) QSKIP("this file system cannot make a file read-only for root");
        }
        const QByteArray before = kind == "read-only" ? ReadAll(path) : QByteArray();

        Rig rig(path);
        QCOMPARE(LoadCurrentTable(rig.p), kind == "read-only");
        rig.table.SetCellText(1, 1, QStringLiteral("0A 0B"));
        SaveFile(rig.p);
        QCOMPARE(rig.ui.BoxTexts(), QStringList{kSaveFailed});

        QVERIFY(SaveAtExit(rig.p));
        const QStringList rescued = RescuedFiles();
        QCOMPARE(rescued.size(), 1);
        QVERIFY(rescued.first().endsWith(".dat"));
        ConfigTable back;
        QVERIFY(back.LoadTable(rescued.first()));
        QCOMPARE(back.GetCellText(1, 1), QStringLiteral("0A 0B"));
        QCOMPARE(rig.ui.consoleLines, QStringList{QStringLiteral("velmora: could not save the table to %1; saved it to %2 instead")
                                                      .arg(path, rescued.first())});
        QCOMPARE(rig.ui.BoxTexts().last(), QStringLiteral("无法保存配置到 %1，已另存到 %2").arg(path, rescued.first()));

        // What stood in the way is as it was.
        const QMap<QString, char> kinds{{"fifo", 'p'}, {"folder", 'd'}, {"block", 'b'}, {"full", 'c'}, {"read-only", 'f'}};
        QCOMPARE(KindOf(path), kinds.value(kind));
        if (kind == "read-only") QCOMPARE(ReadAll(path), before);
        QCOMPARE(QDir(Path(kind)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"data.dat"});
    }

    // A FIFO with a reader and a character device take the table as it is
    // written, stay what they are, and need no copy and no rescue.
    void aFifoOrACharacterDeviceIsWrittenInto_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO with a reader") << QStringLiteral("fifo");
        QTest::newRow("null device") << QStringLiteral("null");
    }
    void aFifoOrACharacterDeviceIsWrittenInto()
    {
        QFETCH(QString, kind);
        QDir(Path(kind + "-in")).mkpath(".");
        const QString path = Path(kind + "-in/data.dat");
        if (kind == "fifo") QVERIFY(MakeFifo(path));
        if (kind == "null" && !MakeDevice(path, 'c', kMemoryDevices, kNullDevice))
            QSKIP("no device nodes can be made here (mknod needs root and a mount that allows devices)");
        Rig rig(path);
        QVERIFY(!LoadCurrentTable(rig.p));  // nothing is read from it
        rig.table.SetCellText(1, 1, QStringLiteral("0A 0B"));
        std::unique_ptr<FifoReader> reader;
        if (kind == "fifo") reader = std::make_unique<FifoReader>(path);
        QVERIFY(SaveAtExit(rig.p));
        if (reader) QCOMPARE(reader->Received(), WriteTableFile(rig.table.Content()));
        QCOMPARE(KindOf(path), kind == "fifo" ? 'p' : 'c');
        QCOMPARE(QDir(Path(kind + "-in")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"data.dat"});
        QVERIFY(RescuedFiles().isEmpty());
        QVERIFY(rig.ui.consoleLines.isEmpty());
    }

    void startTableFollowsTheProgramFolder()
    {
        // A writable program folder keeps the table beside the program, silently.
        Rig beside{QString()};
        LoadStartTable(beside.p, dir.path());
        QCOMPARE(beside.p.state.currentFilePath, Path("data.dat"));
        QVERIFY(beside.ui.Log().isEmpty());

        // An installed copy keeps nothing beside itself, even when run by root.
        for (const char* folder : {"/usr/bin", "/usr/local/bin", "/opt/velmora/bin", "/bin", "/usr/bin/"})
            QVERIFY2(IsSystemProgramFolder(QLatin1String(folder)), folder);
        for (const char* folder : {"/home/ann/velmora/build", "/usrlocal/bin", "/tmp/opt/bin", "/work/velmora"})
            QVERIFY2(!IsSystemProgramFolder(QLatin1String(folder)), folder);
        QVERIFY(!IsSystemProgramFolder(dir.path()));

        // A read-only one still shows the table installed there, and keeps it
        // in the user's data folder from then on.
        QDir(Path("program")).mkpath(".");
        WriteTableWithCode(Path("program/data.dat"), QStringLiteral("AB"));
        const QByteArray installed = ReadAll(Path("program/data.dat"));
        ReadOnlyPath readOnly(Path("program"));
        if (!readOnly.Holds()) QSKIP("this file system cannot make a folder read-only for root");
        const QString kept = QDir(UserDataFolder()).filePath(QStringLiteral("data.dat"));
        {
            Rig first{QString()};
            LoadStartTable(first.p, Path("program"));
            QCOMPARE(first.table.GetCellText(2, 2), QStringLiteral("AB"));
            QCOMPARE(first.p.state.currentFilePath, kept);
            QCOMPARE(first.ui.Log(), QStringLiteral("配置保存在 ") + kept + QStringLiteral("\r\n"));
            first.table.SetCellText(2, 2, QStringLiteral("CD"));
            QVERIFY(SaveAtExit(first.p));
            QVERIFY(first.ui.boxes.isEmpty());
        }
        QCOMPARE(ReadAll(Path("program/data.dat")), installed);
        Rig next{QString()};
        LoadStartTable(next.p, Path("program"));
        QCOMPARE(next.table.GetCellText(2, 2), QStringLiteral("CD"));
    }
};

QTEST_GUILESS_MAIN(FileHandlersTest)
#include "test_filehandlers.moc"
