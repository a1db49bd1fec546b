// The built program as a user or a session manager meets it: started in a
// folder of its own, with arguments or without a display, ended by a signal,
// by the display going away or by closing itself, and what it leaves on disk.

#include <QtTest>
#include <QProcess>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "config/ConfigTable.h"
#include "tests/support/FileBytes.h"
#include "tests/support/ReadOnlyPath.h"
#include "tests/support/SpecialFiles.h"

namespace {

// Destroys every shown top-level window of `display`, as another X client may; gives how many.
int DestroyShownWindows(const QByteArray& display)
{
    xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr);
    int destroyed = 0;
    for (int i = 0; tree && i < xcb_query_tree_children_length(tree); ++i) {
        const xcb_window_t w = xcb_query_tree_children(tree)[i];
        xcb_get_window_attributes_reply_t* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && ++destroyed) xcb_destroy_window(c, w);
        std::free(a);
    }
    std::free(tree);
    xcb_flush(c);
    xcb_disconnect(c);
    return destroyed;
}

// A table of the program's own making with codes in it, a little over 13 KB.
QByteArray TableWithCodes()
{
    QTemporaryDir dir;
    ConfigTable table;
    InitTable(table);
    for (int row = 1; row <= 96; ++row)
        for (int column = 1; column <= 2; ++column)
            table.SetCellText(row, column, QStringLiteral("%1 %2 AA BB CC DD EE FF 00 11 22 33 ")
                                               .arg(row, 2, 16, QLatin1Char('0')).arg(column, 2, 16, QLatin1Char('0')));
    const QString path = dir.filePath(QStringLiteral("t.dat"));
    return table.SaveTable(path) ? ReadAll(path) : QByteArray();
}

// A copy of the program in a fresh folder, so its table file lands there, and
// a user data folder of its own.
class Installed {
public:
    Installed(const QString& program)
    {
        copy = dir.filePath(QStringLiteral("velmora"));
        ok = QFile::copy(program, copy)
            && QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VELMORA_ANNOUNCE_SHOWN"), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("share")));
        // The remembered choices go here, never into the settings of whoever runs the tests.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("VELMORA_EXTRA_PORTS"));
    }

    QString DataFile() const { return dir.filePath(QStringLiteral("data.dat")); }
    QString UserFolder() const { return dir.filePath(QStringLiteral("share/velmora")); }
    // Starts the program (through `shell` when given) and waits for its window.
    bool Start(const QString& shell = QString())
    {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        if (shell.isEmpty())
            process.start(copy, {});
        else
            process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shell + QStringLiteral("; exec \"$0\""), copy});
        if (!process.waitForStarted(10000)) return false;
        QDeadlineTimer deadline(60000);
        while (!process.peek(4096).contains("shown") && !deadline.hasExpired())
            if (!process.waitForReadyRead(100) && process.state() != QProcess::Running) return false;
        return process.peek(4096).contains("shown");
    }
    bool EndWith(int signalNumber)
    {
        ::kill(pid_t(process.processId()), signalNumber);
        return process.waitForFinished(30000);
    }

    QTemporaryDir dir;
    QString copy;
    bool ok = false;
    QProcessEnvironment env;
    QProcess process;
};

// No display of any kind, and no platform chosen.
QProcessEnvironment NoDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "VELMORA_EXTRA_PORTS"})
        env.remove(QString::fromLatin1(variable));
    return env;
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT

    QString program_;
    QByteArray table_;

private Q_SLOTS:
    void initTestCase()
    {
        program_ = qEnvironmentVariable("VELMORA_BINARY_DIR") + QStringLiteral("/velmora");
        QVERIFY2(QFile::exists(program_), "build velmora first");
        table_ = TableWithCodes();
        QVERIFY(table_.size() > 13000);
    }

    void everySignalThatAsksToEndSavesTheTableFirst_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGQUIT") << int(SIGQUIT);
        QTest::newRow("SIGUSR1") << int(SIGUSR1);
        QTest::newRow("SIGUSR2") << int(SIGUSR2);
        QTest::newRow("SIGALRM") << int(SIGALRM);
        QTest::newRow("SIGPWR") << int(SIGPWR);
    }
    void everySignalThatAsksToEndSavesTheTableFirst()
    {
        QFETCH(int, signal);
        Installed velmora(program_);
        QVERIFY(velmora.ok);
        QVERIFY(WriteAll(velmora.DataFile(), table_));
        QVERIFY(velmora.Start());
        // Gone from disk, the codes are only in the running program now.
        QVERIFY(QFile::remove(velmora.DataFile()));
        QVERIFY(velmora.EndWith(signal));
        QCOMPARE(velmora.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(velmora.process.exitCode(), 0);
        QCOMPARE(ReadAll(velmora.DataFile()), table_);
    }

    // A window that changed nothing puts no older table back over a newer one.
    void aTableFileReplacedWhileAnUneditedWindowRunsIsLeftAsItIs()
    {
        Installed velmora(program_);
        QVERIFY(velmora.ok);
        QVERIFY(WriteAll(velmora.DataFile(), table_));
        QVERIFY(velmora.Start());
        // Another program saves its own table there, as editors do: a new file renamed over it.
        ConfigTable other;
        InitTable(other);
        other.SetCellText(5, 1, QStringLiteral("0F"));
        QVERIFY(other.SaveTable(velmora.DataFile()));
        const QByteArray theirs = ReadAll(velmora.DataFile());
        QVERIFY(velmora.EndWith(SIGTERM));
        QCOMPARE(velmora.process.exitCode(), 0);
        QCOMPARE(ReadAll(velmora.DataFile()), theirs);
        QVERIFY(!QFile::exists(velmora.DataFile() + ".bak"));
        QVERIFY(velmora.process.readAllStandardError().contains(
            QFile::encodeName(velmora.DataFile()) + " was changed by another program, and this window's table is the one it loaded"));
    }

    void theDisplayGoingAwaySavesTheTableFirst_data()
    {
        QTest::addColumn<bool>("windowDestroyed");
        QTest::newRow("display ends") << false;
        QTest::newRow("another client destroys the window") << true;
    }
    void theDisplayGoingAwaySavesTheTableFirst()
    {
        QFETCH(bool, windowDestroyed);
        // The set-up (scripts/setup.sh) installs it.
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        QVERIFY2(!xvfb.isEmpty(), "no Xvfb to play the display: ./test installs it");
        QProcess display;
        display.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                             QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("1024x768x24")});
        QVERIFY(display.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT((display.waitForReadyRead(100), display.canReadLine()), 30000);
        const QString number = QString::fromLatin1(display.readLine()).trimmed();

        Installed velmora(program_);
        QVERIFY(velmora.ok);
        velmora.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        velmora.env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + number);
        QVERIFY(WriteAll(velmora.DataFile(), table_));
        QVERIFY(velmora.Start());
        QVERIFY(QFile::remove(velmora.DataFile()));
        if (windowDestroyed) QVERIFY(DestroyShownWindows(":" + number.toLatin1()) > 0);  // as xdotool windowclose
        else display.terminate();
        QVERIFY(velmora.process.waitForFinished(30000));
        display.terminate();
        QVERIFY(display.waitForFinished(10000));
        QCOMPARE(velmora.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ReadAll(velmora.DataFile()), table_);
    }

    void whatCannotTakeTheTableStillLetsTheProgramEnd_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("read-only file") << QStringLiteral("read-only");
    }
    void whatCannotTakeTheTableStillLetsTheProgramEnd()
    {
        QFETCH(QString, kind);
        Installed velmora(program_);
        QVERIFY(velmora.ok);
        const QString path = velmora.DataFile();
        std::unique_ptr<ReadOnlyPath> readOnly;
        if (kind == "fifo") QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        if (kind == "folder") QVERIFY(QDir(path).mkpath("."));
        if (kind == "read-only") {
            QVERIFY(WriteAll(path, table_));
            readOnly = std::make_unique<ReadOnlyPath>(path);
            if (!readOnly->Holds()) QSKIP("this file system cannot make a file read-only for root");
        }
        QVERIFY(velmora.Start());
        QVERIFY(velmora.EndWith(SIGTERM));
        QCOMPARE(velmora.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(velmora.process.exitCode(), 0);

        const QDir user(velmora.UserFolder());
        const QStringList rescued = user.entryList({QStringLiteral("data-*.dat")}, QDir::Files);
        QCOMPARE(rescued.size(), 1);
        const QByteArray saved = ReadAll(user.filePath(rescued.first()));
        QVERIFY(saved.startsWith("KTBF"));
        if (kind == "read-only") QCOMPARE(saved, table_);
        QVERIFY(velmora.process.readAllStandardError().contains(
            "saved it to " + QFile::encodeName(user.filePath(rescued.first())) + " instead"));
    }

    // Only a regular file is read or written as the settings file: a FIFO
    // there, from the start or put there while the program runs, is left
    // alone and said once, and neither start nor exit waits on it.
    void aSettingsFileThatIsNoRegularFileIsLeftAlone_data()
    {
        QTest::addColumn<bool>("fromTheStart");
        QTest::newRow("FIFO from the start") << true;
        QTest::newRow("FIFO put there while running") << false;
    }
    void aSettingsFileThatIsNoRegularFileIsLeftAlone()
    {
        QFETCH(bool, fromTheStart);
        Installed velmora(program_);
        QVERIFY(velmora.ok);
        const QString settings = velmora.dir.filePath(QStringLiteral("config/velmora/velmora.conf"));
        QVERIFY(QDir().mkpath(QFileInfo(settings).absolutePath()));
        if (fromTheStart) QVERIFY(MakeFifo(settings));
        QVERIFY(WriteAll(velmora.DataFile(), table_));
        QVERIFY(velmora.Start());
        if (!fromTheStart) QVERIFY(MakeFifo(settings));
        QVERIFY(QFile::remove(velmora.DataFile()));
        QVERIFY(velmora.EndWith(SIGTERM));
        QCOMPARE(velmora.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(velmora.process.exitCode(), 0);
        QCOMPARE(ReadAll(velmora.DataFile()), table_);
        QCOMPARE(KindOf(settings), 'p');
        const QByteArray err = velmora.process.readAllStandardError();
        QCOMPARE(err.count(QFile::encodeName(settings)), 1);
        QVERIFY2(err.contains(QFile::encodeName(settings) + " is not a regular file; the chosen port, rates and language are neither"), err.constData());
    }

    void aFileSizeLimitDoesNotCostTheTable()
    {
        Installed velmora(program_);
        QVERIFY(velmora.ok);
        QVERIFY(WriteAll(velmora.DataFile(), table_));
        // The session's limit; the program may lift it as far as the hard limit.
        QVERIFY(velmora.Start(QStringLiteral("ulimit -S -f 8")));
        QVERIFY(velmora.EndWith(SIGTERM));
        QCOMPARE(velmora.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(velmora.process.exitCode(), 0);
        QCOMPARE(ReadAll(velmora.DataFile()), table_);
        QCOMPARE(QDir(velmora.dir.path()).entryList({QStringLiteral("data*")}, QDir::Files | QDir::Hidden),
                 QStringList{"data.dat"});
        const QDir user(velmora.UserFolder());
        const QStringList rescued = user.entryList({QStringLiteral("data-*.dat")}, QDir::Files);
        QCOMPARE(rescued.size(), 1);
        QCOMPARE(ReadAll(user.filePath(rescued.first())), table_);
        QVERIFY(velmora.process.readAllStandardError().contains(QFile::encodeName(user.filePath(rescued.first()))));
    }

    // Help and version need no display at all; neither does an argument error.
    void argumentsAreAnsweredWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("errFirstLine");
        const QString version = QStringLiteral("velmora " VELMORA_VERSION "\n");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version << QString();
        QTest::newRow("--help") << QStringList{"--help"} << 0 << QStringLiteral("Usage: velmora") << QString();
        QTest::newRow("help after another") << QStringList{"-style", "fusion", "-h"} << 0 << QStringLiteral("Usage: velmora") << QString();
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2 << QString()
                                 << QStringLiteral("velmora: unknown argument '--frobnicate'");
        QTest::newRow("two files") << QStringList{"a.dat", "b.dat"} << 2 << QString()
                                   << QStringLiteral("velmora: only one file can be opened, not 'b.dat' as well");
        QTest::newRow("Qt option without its value") << QStringList{"-platform"} << 2 << QString()
                                                     << QStringLiteral("velmora: option '-platform' needs a value");
        QTest::newRow("language not offered") << QStringList{"--language=fr"} << 2 << QString()
                                              << QStringLiteral("velmora: unknown language 'fr' (en or zh)");
        QTest::newRow("language without a value") << QStringList{"--language"} << 2 << QString()
                                                  << QStringLiteral("velmora: option '--language' needs a value");
    }
    void argumentsAreAnsweredWithoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, errFirstLine);
        QProcess p;
        p.setProcessEnvironment(NoDisplay());
        p.start(program_, arguments);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QString stdoutText = QString::fromUtf8(p.readAllStandardOutput());
        const QString stderrText = QString::fromUtf8(p.readAllStandardError());
        if (out.endsWith(QLatin1Char('\n'))) QCOMPARE(stdoutText, out);
        else QVERIFY(stdoutText.startsWith(out));
        if (errFirstLine.isEmpty()) {
            QCOMPARE(stderrText, QString());
        } else {
            QCOMPARE(stdoutText, QString());
            QCOMPARE(stderrText.section(QLatin1Char('\n'), 0, 0), errFirstLine);
            QVERIFY(stderrText.contains(QStringLiteral("Usage: velmora")));
        }
    }

    void withoutADisplayItSaysSoInOneLineAndExitsOne_data()
    {
        QTest::addColumn<QString>("display");
        QTest::newRow("none set") << QString();
        QTest::newRow("one that is not there") << QStringLiteral(":97");
    }
    void withoutADisplayItSaysSoInOneLineAndExitsOne()
    {
        QFETCH(QString, display);
        Installed velmora(program_);
        QVERIFY(velmora.ok);
        QProcessEnvironment env = NoDisplay();
        if (!display.isEmpty()) env.insert(QStringLiteral("DISPLAY"), display);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(velmora.copy, {});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);  // no abort, no core
        QCOMPARE(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(err.count('\n'), 1);
        QVERIFY(err.startsWith("velmora: "));
        QVERIFY(err.contains("QT_QPA_PLATFORM=offscreen"));
        if (!display.isEmpty()) QVERIFY(err.contains(display.toUtf8()));
        // It never got as far as the table.
        QVERIFY(!QFile::exists(velmora.DataFile()));
    }

    void closingAfterTheFirstShowEndsWithZero()
    {
        Installed velmora(program_);
        QVERIFY(velmora.ok);
        velmora.env.insert(QStringLiteral("VELMORA_EXIT_AFTER_SHOW"), QStringLiteral("1"));
        velmora.process.setProcessEnvironment(velmora.env);
        // Qt's own options are Qt's business, not argument errors.
        velmora.process.start(velmora.copy, {QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("-reverse"),
                                             QStringLiteral("--language"), QStringLiteral("en")});
        QVERIFY(velmora.process.waitForFinished(30000));
        QCOMPARE(velmora.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(velmora.process.exitCode(), 0);
        // Alone in its folder it speaks English: its translations are built in.
        const QString shown = QString::fromLocal8Bit(velmora.process.readAllStandardOutput());
        QVERIFY2(shown.startsWith(QStringLiteral("velmora: shown after ")) && shown.contains(QStringLiteral(": Velmora - Custom Device Edition   ") + velmora.DataFile()), qPrintable(shown));
        QVERIFY(!velmora.process.readAllStandardError().contains("velmora:"));
        QVERIFY(QFile::exists(velmora.DataFile()));
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "test_program.moc"
