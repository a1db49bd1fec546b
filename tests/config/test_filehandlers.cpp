#include <QtTest>
#include <QProcess>
#include <csignal>

#include <cerrno>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "app/Program.h"
#include "app/FileHandlers.h"
#include "config/FilePlace.h"
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
    SerialLibrary serial{FatalReportTo(ui), {}};
    ConfigTable table;
    WindowProgram window{ui, serial, table};
    Program& p = window.program;
    Rig(const QString& path)
    {
        InitTable(table);
        p.document.SetPath(path);
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

struct stat StatOf(const QString& path)
{
    struct stat st = {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// A table file made by another run of the program, with one code in it.
void WriteTableWithCode(const QString& path, const QString& code)
{
    ConfigTable other;
    InitTable(other);
    other.SetCellText(2, 2, code);
    QVERIFY(other.SaveTable(path));
}
// A file's extended attributes (its ACL among them), names and values.
QMap<QByteArray, QByteArray> AttributesOf(const QString& path)
{
    QMap<QByteArray, QByteArray> out;
    QByteArray names(4096, 0), value(4096, 0);
    names.truncate(qMax<ssize_t>(::llistxattr(QFile::encodeName(path).constData(), names.data(), 4096), 0));
    for (const QByteArray& name : names.split('\0'))
        if (const ssize_t v = ::lgetxattr(QFile::encodeName(path).constData(), name.constData(), value.data(), 4096); v >= 0) out[name] = value.left(v);
    return out;
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
        rig.ui.dialogAnswers = {QString(), Path("CONFIG.DAT"), Path("t1.csv"), Path("config.dat")};

        OpenFile(rig.p.Files());  // cancelled
        OpenFile(rig.p.Files());  // upper-case extension, and a CSV: not opened, and said why
        OpenFile(rig.p.Files());
        QCOMPARE(rig.ui.Log(), QStringLiteral("无法载入 %1：扩展名须为小写的 .dat，未打开\r\n无法载入 %2：不是 .dat 文件，未打开"
                                              "（CSV 可用 velmora-cli import 转为表格文件）\r\n").arg(Path("CONFIG.DAT"), Path("t1.csv")));
        QCOMPARE(rig.p.document.Path(), Path("data.dat"));
        QCOMPARE(rig.ui.title, QStringLiteral("before"));
        QVERIFY(rig.table.GetCellText(2, 2).isEmpty());

        OpenFile(rig.p.Files());
        QCOMPARE(rig.ui.dialogKindsShown, (QVector<int>{0, 0, 0, 0}));
        QCOMPARE(rig.ui.defaultExtension, QStringLiteral(".dat"));
        QCOMPARE(rig.p.document.Path(), Path("config.dat"));
        QCOMPARE(rig.ui.title, QStringLiteral("Velmora-自定义设备版   ") + Path("config.dat"));
        QCOMPARE(rig.table.GetCellText(2, 2), QStringLiteral("22 33"));
        QVERIFY(rig.ui.boxes.isEmpty());
    }

    void saveReportsSuccessAndFailure()
    {
        Rig rig(Path("saved.dat"));
        rig.table.SetCellText(1, 1, QStringLiteral("AA BB "));
        SaveFile(rig.p.Files());
        QCOMPARE(rig.ui.boxes.size(), 1);
        QCOMPARE(rig.ui.boxes.at(0).text, QStringLiteral("保存成功！"));
        QCOMPARE(rig.ui.boxes.at(0).caption, QStringLiteral("信息："));
        QCOMPARE(rig.ui.boxes.at(0).flags, MessageBoxFlags::Ok);
        ConfigTable back;
        QVERIFY(back.LoadTable(Path("saved.dat")));
        QCOMPARE(back.GetCellText(1, 1), QStringLiteral("AA BB "));

        QVERIFY(WriteAll(Path("a-file"), "x"));
        rig.p.document.SetPath(Path("a-file/data.dat"));
        SaveFile(rig.p.Files());
        QCOMPARE(rig.ui.boxes.size(), 2);
        QCOMPARE(rig.ui.boxes.at(1).text, QStringLiteral("保存失败，请检查路径或文件是否被占用。"));
        QCOMPARE(ReadAll(Path("a-file")), QByteArray("x"));
    }

    void saveAsWritesAnyExtensionAndBecomesCurrent()
    {
        Rig rig(Path("data.dat"));
        rig.table.SetCellText(3, 1, QStringLiteral("01 02"));
        rig.ui.dialogAnswers = {QString(), Path("backup.txt")};
        SaveAs(rig.p.Files());
        QVERIFY(!QFileInfo::exists(Path("backup.txt")));
        QCOMPARE(rig.p.document.Path(), Path("data.dat"));
        SaveAs(rig.p.Files());
        QCOMPARE(rig.ui.dialogKindsShown, (QVector<int>{1, 1}));
        QCOMPARE(rig.ui.defaultExtension, QStringLiteral(".dat"));
        QCOMPARE(rig.p.document.Path(), Path("backup.txt"));
        QCOMPARE(rig.ui.title, QStringLiteral("Velmora-自定义设备版   ") + Path("backup.txt"));
        QVERIFY(rig.ui.boxes.isEmpty());
        ConfigTable back;
        QVERIFY(back.LoadTable(Path("backup.txt")));
        QCOMPARE(back.GetCellText(3, 1), QStringLiteral("01 02"));
        // The exit save now goes there too.
        rig.table.SetCellText(3, 1, QStringLiteral("03"));
        QVERIFY(SaveCurrentTable(rig.p.Files()));
        QVERIFY(back.LoadTable(Path("backup.txt")));
        QCOMPARE(back.GetCellText(3, 1), QStringLiteral("03"));
        QVERIFY(!QFileInfo::exists(Path("data.dat")));

        // A save-as that cannot be done is said, unlike one that succeeds.
        rig.ui.dialogAnswers = {Path("missing-folder/other.dat")};
        SaveAs(rig.p.Files());
        QCOMPARE(rig.ui.BoxTexts(), QStringList{kSaveFailed});
    }

    void unreadableStartFileIsKeptAsBakBeforeTheFirstSave()
    {
        QDir(Path("start")).mkpath(".");
        const QString path = Path("start/data.dat");
        QVERIFY(WriteAll(path, kNotATable));
        Rig rig(path);
        QVERIFY(!LoadCurrentTable(rig.p.Files()));
        QCOMPARE(rig.table.GetCellText(1, 0), QStringLiteral("开关01控制"));

        QVERIFY(SaveCurrentTable(rig.p.Files()));
        QCOMPARE(ReadAll(path + ".bak"), kNotATable);
        ConfigTable back;
        QVERIFY(back.LoadTable(path));
        // Later saves overwrite the now readable file without another copy.
        QVERIFY(SaveCurrentTable(rig.p.Files()));
        QCOMPARE(QDir(Path("start")).entryList(QDir::Files), (QStringList{"data.dat", "data.dat.bak"}));

        // "另存文件" onto the unreadable file itself keeps it too, in the copy
        // that holds those bytes already rather than in another one.
        QVERIFY(WriteAll(path, kNotATable));
        QVERIFY(!LoadCurrentTable(rig.p.Files()));
        rig.ui.dialogAnswers = {path};
        SaveAs(rig.p.Files());
        QVERIFY(rig.ui.Log().endsWith(QStringLiteral("%1 保存前已备份为 %2\r\n").arg(path, path + ".bak")));
        QVERIFY(back.LoadTable(path));
        QCOMPARE(QDir(Path("start")).entryList(QDir::Files), (QStringList{"data.dat", "data.dat.bak"}));
    }

    void missingOrReadableStartFileNeedsNoBackup()
    {
        QDir(Path("fresh")).mkpath(".");
        Rig rig(Path("fresh/data.dat"));
        QVERIFY(!LoadCurrentTable(rig.p.Files()));
        QVERIFY(SaveCurrentTable(rig.p.Files()));
        QVERIFY(LoadCurrentTable(rig.p.Files()));
        QVERIFY(SaveCurrentTable(rig.p.Files()));
        QCOMPARE(QDir(Path("fresh")).entryList(QDir::Files), QStringList{"data.dat"});
    }

    // Opened or named on the command line, a file that does not load (here
    // a CSV) is said in the log and changes nothing: saves still go to the
    // window's file.
    void aTableFileThatDoesNotLoadIsNotOpened()
    {
        QDir(Path("open")).mkpath(".");
        const QString bad = Path("open/table.dat");
        const QByteArray csv("row,title,on,off\n1,开关01控制,AA,\n");
        QVERIFY(WriteAll(bad, csv));
        const QString notLoaded = QStringLiteral("无法载入 %1，未打开\r\n").arg(bad);
        Rig rig(Path("open/data.dat"));
        rig.ui.title = QStringLiteral("before");
        rig.table.SetCellText(4, 1, QStringLiteral("kept"));
        rig.ui.dialogAnswers = {bad};
        OpenFile(rig.p.Files());
        QCOMPARE(rig.ui.Log(), notLoaded);
        QCOMPARE(rig.ui.title, QStringLiteral("before"));
        QCOMPARE(rig.table.GetCellText(4, 1), QStringLiteral("kept"));
        SaveFile(rig.p.Files());
        QCOMPARE(ReadAll(bad), csv);
        QCOMPARE(QDir(Path("open")).entryList(QDir::Files), (QStringList{"data.dat", "table.dat"}));

        Rig start{QString()};
        start.p.state.startFile = bad;
        LoadStartTable(start.p.Files(), start.p.state.startFile, Path("open"));
        QCOMPARE(start.p.document.Path(), Path("open/data.dat"));
        QCOMPARE(start.table.GetCellText(4, 1), QStringLiteral("kept"));
        QCOMPARE(start.ui.Log(), notLoaded);
    }

    // Refused for what the user can act on, a file says why in its one line:
    // opened (and not opened), or loaded at start (and kept, as any file that
    // does not load).
    void aRefusedFileSaysWhy()
    {
        QDir(Path("why")).mkpath(".");
        // Qt puts U+FFFD for bytes of a name that are not UTF-8; a file of that name is another file.
        const QString unreadable = Path("why/caf\uFFFD.dat");
        WriteTableWithCode(unreadable, QStringLiteral("11"));
        TableContent tiny = NewTableContent(450000 / 4 + 1, 4);
        for (int i = 0; i < 450000; ++i) tiny.cells[{1 + i / 4, i % 4}].textFormat = 0x825;
        const QByteArray tinyRecords = WriteTableFile(tiny);
        QVERIFY(WriteAll(Path("why/tiny.dat"), tinyRecords));
        QFile huge(Path("why/huge.dat"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write("KTBF") == 4);
        QVERIFY(huge.resize(TableFileFormat::LargestFileSize + 1));  // sparse: takes no disk
        huge.close();
        const QList<QPair<QString, QString>> cases = {
            {unreadable, QStringLiteral("文件名中有无法识别的字符")},
            {Path("why/tiny.dat"), QStringLiteral("记录过多，需要超过 %1 MB 内存")
                                       .arg(TableFileFormat::LargestTableMemory(tinyRecords.size()) >> 20)},
            {Path("why/huge.dat"), QStringLiteral("文件大于 256 MB")},
        };
        for (const auto& [path, why] : cases) {
            Rig opened(Path("why/data.dat"));
            opened.ui.dialogAnswers = {path};
            OpenFile(opened.p.Files());
            QCOMPARE(opened.ui.Log(), QStringLiteral("无法载入 %1：%2，未打开\r\n").arg(path, why));
            QCOMPARE(opened.p.document.Path(), Path("why/data.dat"));
            QVERIFY(opened.table.GetCellText(2, 2).isEmpty());

            Rig started(path);
            QVERIFY(!LoadCurrentTable(started.p.Files()));
            QCOMPARE(started.ui.Log(), QStringLiteral("无法载入 %1：%2\r\n").arg(path, why));
            QVERIFY(started.table.GetCellText(2, 2).isEmpty());
        }
    }

    void anUnreadableCurrentFileSurvivesSaveAndAnOldBakIsKept()
    {
        QDir(Path("broken")).mkpath(".");
        const QString path = Path("broken/data.dat");
        QVERIFY(WriteAll(path, kNotATable));
        QVERIFY(WriteAll(path + ".bak", "an older backup"));
        // A dangling link counts as a name taken, and is never followed.
        QVERIFY(QFile::link(Path("broken/nowhere"), path + ".bak2"));
        Rig rig(path);
        QVERIFY(!LoadCurrentTable(rig.p.Files()));
        rig.table.SetCellText(4, 1, QStringLiteral("kept"));

        SaveFile(rig.p.Files());
        QCOMPARE(rig.ui.BoxTexts(), QStringList{QStringLiteral("保存成功！")});
        QCOMPARE(ReadAll(path + ".bak"), QByteArray("an older backup"));
        QCOMPARE(ReadAll(path + ".bak3"), kNotATable);
        QVERIFY(!QFile::exists(Path("broken/nowhere")));
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
        QVERIFY(LoadCurrentTable(rig.p.Files()));
        QCOMPARE(rig.table.GetCellText(2, 2), QStringLiteral("11"));
        QVERIFY(SaveCurrentTable(rig.p.Files()));
        QCOMPARE(ReadAll(path + ".bak"), withExtra);
        QVERIFY(SaveCurrentTable(rig.p.Files()));
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
        QVERIFY(LoadCurrentTable(first.p.Files()));
        QVERIFY(LoadCurrentTable(second.p.Files()));
        first.table.SetCellText(2, 2, QStringLiteral("AA"));
        second.table.SetCellText(2, 2, QStringLiteral("BB"));
        auto codeIn = [](const QString& file) {
            ConfigTable back;
            return back.LoadTable(file) ? back.GetCellText(2, 2) : QStringLiteral("(no table)");
        };

        QVERIFY(SaveCurrentTable(first.p.Files()));  // nobody came between: no copy
        QVERIFY(first.ui.Log().isEmpty());
        QVERIFY(SaveCurrentTable(second.p.Files()));
        QCOMPARE(codeIn(path + ".bak"), QStringLiteral("AA"));
        QCOMPARE(second.ui.Log(), QStringLiteral("%1 已在别处修改，保存前已备份为 %2\r\n").arg(path, path + ".bak"));
        QVERIFY(SaveCurrentTable(second.p.Files()));  // its own save is no change
        QCOMPARE(second.ui.Log().count(QStringLiteral("\r\n")), 1);

        // Another program saves the file; the first window, which changed
        // nothing since its save, ends and leaves the newer file alone.
        WriteTableWithCode(path, QStringLiteral("CC"));
        first.p.state.shuttingDown = true;
        QVERIFY(SaveAtExit(first.p.Files()));
        QCOMPARE(codeIn(path), QStringLiteral("CC"));
        QCOMPARE(first.ui.consoleLines, QStringList{QStringLiteral("velmora: %1 was changed by another program, and this window's "
                                                                   "table is the one it loaded or saved before that; left the newer "
                                                                   "file as it is").arg(path)});
        // With an edit (even one undone by another), the newer file is kept as .bak first.
        first.table.SetCellText(2, 2, QStringLiteral("DD"));
        first.ui.consoleLines.clear();
        QVERIFY(SaveAtExit(first.p.Files()));
        QCOMPARE(codeIn(path), QStringLiteral("DD"));
        QCOMPARE(codeIn(path + ".bak2"), QStringLiteral("CC"));
        QCOMPARE(first.ui.consoleLines, QStringList{QStringLiteral("velmora: %1 was changed by another program; kept it as %2 before saving")
                                                        .arg(path, path + ".bak2")});
        QCOMPARE(QDir(Path("shared")).entryList(QDir::Files), (QStringList{"data.dat", "data.dat.bak", "data.dat.bak2"}));
    }

    // Two windows on one file ending at the same moment, as at a logout, in
    // processes of their own: one table is in the file, the other in its .bak.
    void twoWindowsEndingTogetherKeepBothTables()
    {
        for (int round = 0; round < 6; ++round) {
            const QString folder = Path(QStringLiteral("race%1").arg(round));
            QVERIFY(QDir().mkpath(folder));
            WriteTableWithCode(folder + "/data.dat", QStringLiteral("00"));
            QProcess windows[2];
            for (int i = 0; i < 2; ++i) windows[i].start(QStringLiteral(VELMORA_SAVE_RACER), {folder + "/data.dat", i ? "BB" : "AA"});
            for (QProcess& w : windows) QTRY_VERIFY_WITH_TIMEOUT((w.waitForReadyRead(50), w.peek(16).startsWith("ready")), 20000);
            for (QProcess& w : windows) ::kill(pid_t(w.processId()), SIGTERM);
            for (QProcess& w : windows) QVERIFY(w.waitForFinished(20000) && w.exitCode() == 0);
            QStringList kept;
            for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
                ConfigTable back;
                kept << (back.LoadTable(folder + "/" + name) ? name + ":" + back.GetCellText(1, 1) : name);
            }
            kept.sort();
            QVERIFY2(kept == (QStringList{"data.dat.bak:AA", "data.dat:BB"}) || kept == (QStringList{"data.dat.bak:BB", "data.dat:AA"}),
                     qPrintable(kept.join(' ')));
        }
    }

    // Rescues take names of their own, made exclusively, and the same table
    // is rescued once: a read-only file gives one .bak and one rescue per table.
    void rescuesAreUniqueAndMadeOncePerTable()
    {
        QVERIFY(QDir().mkpath(Path("locked")));
        const QString path = Path("locked/data.dat");
        QVERIFY(WriteAll(path, kNotATable));
        ReadOnlyPath readOnly(path);
        if (!readOnly.Holds()) QSKIP("this file system cannot make a file read-only for root");
        Rig first(path), second(path);
        for (Rig* rig : {&first, &second}) {
            QVERIFY(!LoadCurrentTable(rig->p.Files()));
            rig->p.state.shuttingDown = true;
        }
        second.table.SetCellText(1, 1, QStringLiteral("BB"));
        for (int run = 0; run < 2; ++run)
            for (Rig* rig : {&first, &second}) QVERIFY(SaveAtExit(rig->p.Files()));
        QCOMPARE(RescuedFiles().size(), 2);
        QCOMPARE(QDir(Path("locked")).entryList(QDir::Files), (QStringList{"data.dat", "data.dat.bak"}));
        QCOMPARE(ReadAll(path + ".bak"), kNotATable);
        // The same rescue file named by both runs of the first window.
        QCOMPARE(first.ui.consoleLines.size(), 3);
        QCOMPARE(first.ui.consoleLines.at(2), first.ui.consoleLines.at(1));
    }

    // A folder kept locked by another process (a save that hangs) costs a
    // bounded wait, then the table goes to a rescue file.
    void aSaveThatWaitsTooLongForTheLockIsRescued()
    {
        QVERIFY(QDir().mkpath(Path("busy")));
        const int held = ::open(QFile::encodeName(Path("busy")).constData(), O_RDONLY | O_DIRECTORY);
        QCOMPARE(::flock(held, LOCK_EX), 0);
        Rig rig(Path("busy/data.dat"));
        QVERIFY(SaveAtExit(rig.p.Files()));
        ::close(held);
        QCOMPARE(RescuedFiles().size(), 1);
        QVERIFY(rig.ui.consoleLines.value(0).contains("(another program kept it locked for 2 s while saving it)"));
    }

    // Metadata kinds x writers: every writer keeps the ACL and the user's
    // attributes, and nothing it makes is more open than the file.
    void aReplaceKeepsAclAndAttributes_data()
    {
        QTest::addColumn<QString>("metadata");
        QTest::addColumn<QString>("writer");
        for (const char* metadata : {"acl", "attribute"})
            for (const char* writer : {"write", "window", "copy", "in place", "rescue"}) QTest::addRow("%s, %s", metadata, writer) << metadata << writer;
    }
    void aReplaceKeepsAclAndAttributes()
    {
        QFETCH(QString, metadata);
        QFETCH(QString, writer);
        const QString folder = Path("meta-" + metadata + "-" + writer), path = folder + "/data.dat";
        QVERIFY(QDir().mkpath(folder));
        WriteTableWithCode(path, QStringLiteral("11"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0640), 0);
        if (metadata == "acl" && QProcess::execute("setfacl", {"-m", "u:65534:rw-", path}) != 0) QSKIP("no setfacl, or no ACLs here");
        if (metadata == "attribute" && ::setxattr(QFile::encodeName(path).constData(), "user.kept", "yes", 3, 0) != 0) QSKIP("no user attributes");
        if (writer == "in place") QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(folder + "/second").constData()), 0);
        const QMap<QByteArray, QByteArray> before = AttributesOf(path);
        const mode_t mode = StatOf(path).st_mode;
        QString written = path, why;
        if (writer == "write" || writer == "in place") QVERIFY(WriteFileContent(path, "new", &why));
        if (bool made = false; writer == "copy") QVERIFY(FilePlace(path).BackUp(&written, &made, &why) && made);
        Rig rig(path);
        const int held = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
        if (writer == "rescue") QCOMPARE(::flock(held, LOCK_EX), 0);  // the exit save goes elsewhere
        if (writer == "window" || writer == "rescue") QVERIFY(LoadCurrentTable(rig.p.Files()) && SaveAtExit(rig.p.Files()));
        ::close(held);
        if (writer == "rescue") {  // no more open than the file: with an ACL, only its owner's
            QCOMPARE(StatOf(RescuedFiles().value(0)).st_mode & 077 & ~(metadata == "acl" ? 0 : mode), 0u);
            return;
        }
        QCOMPARE(AttributesOf(written), before);
        QCOMPARE(StatOf(written).st_mode, mode);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), writer == "write" || writer == "window" ? 1 : 2);
    }

    // Planted kinds x outputs: in a sticky folder everyone may write, what
    // another user put there is never written, with the words of a planted
    // link; a window says so at start, and its exit save rescues the table.
    void plantedObjectsInASharedFolderAreNeverWritten_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("output");
        for (const char* kind : {"file", "FIFO", "hard link", "link", "mine"})
            for (const char* output : {"write", "window", "report"}) QTest::addRow("%s, %s", kind, output) << kind << output;
    }
    void plantedObjectsInASharedFolderAreNeverWritten()
    {
        QFETCH(QString, kind);
        QFETCH(QString, output);
        if (::geteuid() != 0) QSKIP("files of another owner need root to make");
        const QString folder = Path("planted-" + kind + "-" + output), target = folder + "/out.dat", victim = folder + "-victim";
        const QByteArray native = QFile::encodeName(target);
        QVERIFY(QDir().mkpath(folder) && WriteAll(victim, "theirs") && ::chmod(QFile::encodeName(folder).constData(), 01777) == 0);
        if (kind == "file" || kind == "mine") QVERIFY(WriteAll(target, "theirs"));
        if (kind == "FIFO") QCOMPARE(::mkfifo(native.constData(), 0666), 0);
        if (kind == "hard link") QCOMPARE(::link(QFile::encodeName(victim).constData(), native.constData()), 0);
        if (kind == "link") QVERIFY(QFile::link(victim, target));
        if (kind != "mine") QCOMPARE(::lchown(native.constData(), 65534, 65534), 0);
        const bool planted = kind != "mine";
        bool written = false;
        QString why;
        Rig rig(target);
        if (output == "write") written = WriteFileContent(target, "ours", &why);
        if (const int fd = output == "report" ? FilePlace(target).OpenForAppend(0644, &why) : -1; fd >= 0)
            written = ::write(fd, "ours", 4) == 4 && ::close(fd) == 0;
        if (output == "window") {
            SayIfUnsaveable(rig.p.Files());
            QVERIFY(SaveAtExit(rig.p.Files()));
            written = RescuedFiles().isEmpty();
            why = rig.ui.consoleLines.value(0);
            QCOMPARE(rig.ui.Log().contains("是其他用户放在共享文件夹中的，不会写入"), planted);
        }
        QCOMPARE(written, !planted);
        if (planted) QVERIFY2(why.contains("that another user (uid 65534) put in the shared folder"), qPrintable(why));
        QCOMPARE(ReadAll(victim), QByteArray("theirs"));
        if (kind == "file") QCOMPARE(ReadAll(target), QByteArray("theirs"));
    }

    // Through the place's own seam: a file is flushed before it is renamed
    // into place, the folder after; an in-place write has its whole copy
    // first, and another user's copy with the same bytes is not it.
    void savesFlushInOrderAndTakeNoOtherUsersCopy()
    {
        const QString folder = Path("steps"), path = folder + "/F.dat";
        QVERIFY(QDir().mkpath(folder) && WriteAll(path, "old") && WriteAll(path + ".bak", "old"));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 01777), 0);
        if (::geteuid() == 0) QCOMPARE(::chown(QFile::encodeName(path + ".bak").constData(), 65534, 65534), 0);
        QStringList steps;  // temporaries named "temp"
        WatchFileSteps([&steps](const char* step, const QByteArray& name) {
            steps << step + (' ' + (name.endsWith(".tmp") ? QStringLiteral("temp") : QFileInfo(QFile::decodeName(name)).fileName()));
        });
        QVERIFY(WriteFileContent(folder + "/new.dat", "new"));
        QCOMPARE(steps, (QStringList{"sync temp", "rename new.dat", "sync-folder steps"}));
        steps.clear();
        QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(folder + "/second").constData()), 0);
        QVERIFY(WriteFileContent(path, "new"));
        WatchFileSteps({});
        if (::geteuid() == 0)
            QCOMPARE(steps, (QStringList{"sync temp", "rename F.dat.bak2", "sync-folder steps", "write-in-place F.dat", "sync F.dat"}));
        QCOMPARE(ReadAll(path + ".bak"), QByteArray("old"));
        QVERIFY(!QFile::exists(path + ".bak2"));
    }

    // A table a read replaced: its file's content is kept before the save
    // over it, said when the read completes; such copies rotate (three),
    // other copies stay, and temporaries a killed save left go.
    void whatAReadReplacedIsKeptAndCopiesRotate()
    {
        const QString folder = Path("rotate"), path = folder + "/data.dat";
        QVERIFY(QDir().mkpath(folder) && WriteAll(path + ".bak", "an older copy") && WriteAll(folder + "/.data.dat.k1llz.tmp", "x"));
        WriteTableWithCode(path, QStringLiteral("01"));
        Rig rig(path);
        QVERIFY(LoadCurrentTable(rig.p.Files()));
        for (int save = 1; save <= 4; ++save) {
            NoteTableReplacedByRead(rig.p.Files());
            rig.table.SetCellText(2, 2, QStringLiteral("0%1").arg(save + 1));
            QVERIFY(SaveCurrentTable(rig.p.Files()));
        }
        QVERIFY(SaveCurrentTable(rig.p.Files()));  // no read since: nothing more kept
        QCOMPARE(rig.ui.Log().count(QStringLiteral("保存时 %1 的原内容将另存为 .bak\r\n").arg(path)), 4);
        const QStringList kept = QDir(folder).entryList({"data.dat.*-*.bak"}, QDir::Files, QDir::Name);
        QCOMPARE(kept.size(), 3);
        for (ConfigTable copy; const QString& name : kept)
            QVERIFY(copy.LoadTable(folder + "/" + name) && copy.GetCellText(2, 2) == QStringLiteral("0%1").arg(kept.indexOf(name) + 2));
        QCOMPARE(ReadAll(path + ".bak"), QByteArray("an older copy"));
        QVERIFY(!QFile::exists(folder + "/.data.dat.k1llz.tmp"));
    }

    void aTableFileThatIsAFolderIsSaidAtStart()
    {
        Rig rig{QString()};
        QVERIFY(QDir().mkpath(Path("dirstart/data.dat")));
        LoadStartTable(rig.p.Files(), rig.p.state.startFile, Path("dirstart"));
        QVERIFY(rig.ui.Log().contains(QStringLiteral("%1 是文件夹，不能保存到那里").arg(Path("dirstart/data.dat"))));
    }

    // A damaged table file whose copy loads names the copy, which opens.
    void aDamagedFileNamesItsCopyThatLoads()
    {
        const QString folder = Path("damaged"), path = folder + "/data.dat";
        QVERIFY(QDir().mkpath(folder) && WriteAll(path, kNotATable));
        WriteTableWithCode(path + ".bak", QStringLiteral("11"));
        const QString named = QStringLiteral("；上次保存前的副本：%1.bak，可用 打开文件 打开\r\n").arg(path);
        Rig rig(Path("damaged/other.dat"));
        rig.ui.dialogAnswers = {path, path + ".bak"};
        QVERIFY(!OpenFile(rig.p.Files()) && OpenFile(rig.p.Files()));
        QCOMPARE(rig.ui.Log(), QStringLiteral("无法载入 %1，未打开").arg(path) + named);
        QCOMPARE(rig.table.GetCellText(2, 2), QStringLiteral("11"));
        Rig started(path);
        QVERIFY(!LoadCurrentTable(started.p.Files()));
        QCOMPARE(started.ui.Log(), QStringLiteral("无法载入 %1").arg(path) + named);
    }

    // A name Qt could not read (bytes that are not UTF-8) would be saved as another file.
    void saveAsRefusesANameThatIsNotTheOneChosen()
    {
        QVERIFY(QDir().mkpath(Path("named")));
        Rig rig(Path("named/data.dat"));
        const QString unread = Path(QStringLiteral("named/t\uFFFD.dat"));
        rig.ui.dialogAnswers = {unread};
        SaveAs(rig.p.Files());
        QCOMPARE(rig.ui.BoxTexts(), QStringList{QStringLiteral("文件名中有无法识别的字符，未保存：") + unread});
        QCOMPARE(rig.p.document.Path(), Path("named/data.dat"));
        QVERIFY(QDir(Path("named")).isEmpty());
    }

    // The rule of protected_symlinks, for the link itself and for a folder on
    // the way: in a sticky folder everyone may write, only links of ours or of
    // the folder's owner lead anywhere; elsewhere every link does.
    void linksAreFollowedOnlyAsTheStickyFolderRuleAllows_data()
    {
        QTest::addColumn<bool>("shared");      // the link's folder is sticky and writable by all
        QTest::addColumn<QString>("linkOwner");  // me, folder (its owner, not me), other
        QTest::addColumn<bool>("onTheWay");    // the link names a folder on the way, not the file
        QTest::addColumn<bool>("followed");
        for (bool onTheWay : {false, true}) {
            const char* way = onTheWay ? ", a folder on the way" : "";
            QTest::addRow("shared, mine%s", way) << true << "me" << onTheWay << true;
            QTest::addRow("shared, the folder owner's%s", way) << true << "folder" << onTheWay << true;
            QTest::addRow("shared, another user's%s", way) << true << "other" << onTheWay << false;
            QTest::addRow("private, another user's%s", way) << false << "other" << onTheWay << true;
        }
    }
    void linksAreFollowedOnlyAsTheStickyFolderRuleAllows()
    {
        QFETCH(bool, shared);
        QFETCH(QString, linkOwner);
        QFETCH(bool, onTheWay);
        QFETCH(bool, followed);
        if (linkOwner != "me" && !(::geteuid() == 0)) QSKIP("links of other owners need root to make");
        const QString folder = Path(QStringLiteral("%1-%2-%3").arg(shared).arg(linkOwner).arg(onTheWay));
        const QString victim = folder + "-victim";
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(victim));
        QVERIFY(WriteAll(victim + "/data.dat", "theirs"));
        const QString link = folder + (onTheWay ? "/into" : "/out.dat");
        QVERIFY(QFile::link(onTheWay ? victim : victim + "/data.dat", link));
        const QByteArray written = onTheWay ? QFile::encodeName(link + "/data.dat") : QFile::encodeName(link);
        ::chmod(QFile::encodeName(folder).constData(), shared ? 01777 : 0755);
        if (linkOwner == "folder") QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        if (linkOwner != "me") QCOMPARE(::lchown(QFile::encodeName(link).constData(), 65534, 65534), 0);

        QString why;
        QCOMPARE(WriteFileContent(QString::fromLocal8Bit(written), "ours", &why), followed);
        QCOMPARE(ReadAll(victim + "/data.dat"), QByteArray(followed ? "ours" : "theirs"));
        QVERIFY(QFileInfo(link).isSymLink());
        if (!followed) QVERIFY2(why.contains("is a link that another user (uid 65534) put in the shared folder"), qPrintable(why));
    }

    // A replace keeps owner, group, mode and the other links of the file;
    // where a new file renamed into place cannot, the file is written in place
    // and the copy made for that time goes again.
    void aReplaceKeepsOwnerModeAndLinks_data()
    {
        QTest::addColumn<bool>("othersFile");
        QTest::addColumn<bool>("secondLink");
        QTest::newRow("mine") << false << false;
        QTest::newRow("mine, two links") << false << true;
        QTest::newRow("another user's") << true << false;
        QTest::newRow("another user's, two links") << true << true;
    }
    void aReplaceKeepsOwnerModeAndLinks()
    {
        QFETCH(bool, othersFile);
        QFETCH(bool, secondLink);
        if (othersFile && !(::geteuid() == 0)) QSKIP("a file of another owner needs root to make");
        const QString folder = Path(QStringLiteral("owners-%1-%2").arg(othersFile).arg(secondLink));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/data.dat";
        QVERIFY(WriteAll(path, "old"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0640), 0);
        if (othersFile) QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        if (secondLink) QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(folder + "/other-name").constData()), 0);
        const struct stat before = StatOf(path);

        QString why;
        QVERIFY2(WriteFileContent(path, "new", &why), qPrintable(why));
        const struct stat after = StatOf(path);
        QCOMPARE(ReadAll(path), QByteArray("new"));
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_nlink, before.st_nlink);
        if (secondLink) QCOMPARE(ReadAll(folder + "/other-name"), QByteArray("new"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), secondLink ? 2 : 1);
    }
    void whatCannotTakeTheTableSendsTheExitSaveToTheUserFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("FIFO nobody reads") << QStringLiteral("fifo") << QStringLiteral("a FIFO that nobody reads");
        QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("it is a folder");
        QTest::newRow("block device") << QStringLiteral("block") << QStringLiteral("it is neither a regular file, a FIFO nor a character device");
        QTest::newRow("full device") << QStringLiteral("full") << QString::fromLocal8Bit(std::strerror(ENOSPC));
        QTest::newRow("read-only file") << QStringLiteral("read-only")
                                        << QString::fromLocal8Bit(std::strerror(::geteuid() == 0 ? EPERM : EACCES));
    }
    void whatCannotTakeTheTableSendsTheExitSaveToTheUserFolder()
    {
        QFETCH(QString, kind);
        QFETCH(QString, why);
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
        QCOMPARE(LoadCurrentTable(rig.p.Files()), kind == "read-only");
        rig.table.SetCellText(1, 1, QStringLiteral("0A 0B"));
        SaveFile(rig.p.Files());
        QCOMPARE(rig.ui.BoxTexts(), QStringList{kSaveFailed});

        QVERIFY(SaveAtExit(rig.p.Files()));
        const QStringList rescued = RescuedFiles();
        QCOMPARE(rescued.size(), 1);
        QVERIFY(rescued.first().endsWith(".dat"));
        ConfigTable back;
        QVERIFY(back.LoadTable(rescued.first()));
        QCOMPARE(back.GetCellText(1, 1), QStringLiteral("0A 0B"));
        QCOMPARE(rig.ui.consoleLines, QStringList{QStringLiteral("velmora: could not save the table to %1 (%2); saved it to %3 instead")
                                                      .arg(path, why, rescued.first())});
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
        QVERIFY(!LoadCurrentTable(rig.p.Files()));  // nothing is read from it
        rig.table.SetCellText(1, 1, QStringLiteral("0A 0B"));
        std::unique_ptr<FifoReader> reader;
        if (kind == "fifo") reader = std::make_unique<FifoReader>(path);
        QVERIFY(SaveAtExit(rig.p.Files()));
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
        LoadStartTable(beside.p.Files(), beside.p.state.startFile, dir.path());
        QCOMPARE(beside.p.document.Path(), Path("data.dat"));
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
            LoadStartTable(first.p.Files(), first.p.state.startFile, Path("program"));
            QCOMPARE(first.table.GetCellText(2, 2), QStringLiteral("AB"));
            QCOMPARE(first.p.document.Path(), kept);
            QCOMPARE(first.ui.Log(), QStringLiteral("配置保存在 ") + kept + QStringLiteral("\r\n"));
            first.table.SetCellText(2, 2, QStringLiteral("CD"));
            QVERIFY(SaveAtExit(first.p.Files()));
            QVERIFY(first.ui.boxes.isEmpty());
        }
        QCOMPARE(ReadAll(Path("program/data.dat")), installed);
        Rig next{QString()};
        LoadStartTable(next.p.Files(), next.p.state.startFile, Path("program"));
        QCOMPARE(next.table.GetCellText(2, 2), QStringLiteral("CD"));
    }
};

QTEST_GUILESS_MAIN(FileHandlersTest)
#include "test_filehandlers.moc"
