// velmora-cli as scripts run it: against the module simulator and against a
// module on a pseudo-terminal, checked by exit status, by what it prints, by
// the files it leaves and by what reached the module.

#include <QtTest>
#include <csignal>
#include <sys/stat.h>

#include "ProgramRig.h"
#include "config/TableCsv.h"
#include "config/TableFile.h"
#include "protocol/HexCodec.h"
#include "tests/support/EchoModule.h"

namespace {

struct Run {
    int status = -1;
    QByteArray out;
    QString err;
};

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A laid-out table with `cells` filled in, saved as the window saves it.
QByteArray TableFileWith(const QMap<QPair<int, int>, QString>& cells)
{
    ConfigTable table;
    InitTable(table);
    for (auto it = cells.cbegin(); it != cells.cend(); ++it) table.SetCellText(it.key().first, it.key().second, it.value());
    return WriteTableFile(table.Content());
}

// A code as the CSV writes it: upper-case pairs, one space between them.
QString Canonical(const QByteArray& code) { return QString::fromLatin1(code.toHex(' ').toUpper()); }

// CodeFor in every value cell, as the window holds codes it has read.
QMap<QPair<int, int>, QString> FullTable()
{
    QMap<QPair<int, int>, QString> cells;
    for (int row = 1; row <= 96; ++row)
        for (int column : {1, 2}) cells[{row, column}] = BytesToHex(CodeFor(row, column));
    return cells;
}

}  // namespace

class CliTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    SimProcess sims[2];
    QString links[2], memories[2];

    QString Path(const QString& name) const { return dir.filePath(name); }

    // Runs velmora-cli to its end (a generous limit only guards against a hang).
    Run Cli(const QStringList& args, const std::function<void(QProcess&)>& whileRunning = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No display at all: the tool must not need one.
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("VELMORA_EXTRA_PORTS"), links[0] + QLatin1Char(':') + links[1]);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(qEnvironmentVariable("VELMORA_BINARY_DIR") + QStringLiteral("/velmora-cli"), args);
        Run run;
        if (!p.waitForStarted(10000)) return run;
        if (whileRunning) whileRunning(p);
        if (!p.waitForFinished(120000)) p.kill();
        p.waitForFinished(5000);
        run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.out = p.readAllStandardOutput();
        run.err = QString::fromUtf8(p.readAllStandardError());
        return run;
    }

    void StartSim(int i, const QStringList& extra = {})
    {
        const QStringList args{QStringLiteral("--link"), links[i], QStringLiteral("--memory"), memories[i],
                               QStringLiteral("--pace"), QStringLiteral("50")};
        QVERIFY(sims[i].Start(args + extra));
    }

    // The simulated module's memory: "row column CODE" lines.
    QStringList Memory(int i) const
    {
        QStringList lines = QString::fromLatin1(FileBytes(memories[i])).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines.removeIf([](const QString& l) { return l.startsWith(QLatin1Char('#')); });
        return lines;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QFile::exists(qEnvironmentVariable("VELMORA_BINARY_DIR") + QStringLiteral("/velmora-cli")));
        for (int i : {0, 1}) {
            links[i] = Path(QStringLiteral("module%1.tty").arg(i));
            memories[i] = Path(QStringLiteral("module%1.mem").arg(i));
            StartSim(i);
        }
    }

    // --- the command line itself ---------------------------------------------------

    void mistakesOnTheCommandLineExitTwoWithTheUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command \"frobnicate\"";
        QTest::newRow("no port") << QStringList{"read"} << "read: missing arguments";
        QTest::newRow("rate not offered") << QStringList{"read", "COM1", "--baud", "4800"} << "\"4800\" is not a rate the window offers";
        QTest::newRow("-o where nothing is written") << QStringList{"clear", "COM1", "-o", "x"} << "-o does not apply";
        QTest::newRow("module rate not offered") << QStringList{"set-baud", "COM1", "300"} << "\"300\" is not a rate";
        QTest::newRow("no file to write") << QStringList{"write", "COM1"} << "write: missing arguments";
        QTest::newRow("import without -o") << QStringList{"import", "a.csv"} << "-o TABLE.dat is required";
        QTest::newRow("several ports, one file") << QStringList{"read", "COM1,COM2", "-o", "x.dat"} << "{port}";
        QTest::newRow("a port twice") << QStringList{"clear", "COM2,COM2"} << "names a port that PORTS already names";
        QTest::newRow("bad learn data") << QStringList{"learn", "COM1", "0G"} << "'G' is not a hex digit";
        QTest::newRow("unknown option") << QStringList{"ports", "--fast"} << "unknown option \"--fast\"";
    }
    void mistakesOnTheCommandLineExitTwoWithTheUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        const Run run = Cli(args);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.startsWith(QStringLiteral("velmora-cli: ")) && run.err.contains(says), qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral("Usage: velmora-cli COMMAND")));
        QVERIFY(run.out.isEmpty());
    }

    void helpVersionAndThePortList()
    {
        Run run = Cli({QStringLiteral("--help")});
        QCOMPARE(run.status, 0);
        for (const char* command : {"ports", "read", "write", "verify", "clear", "set-baud", "learn", "export", "import"})
            QVERIFY2(QString::fromUtf8(run.out).contains(QRegularExpression(QStringLiteral("\n  velmora-cli %1( |\n)").arg(QLatin1String(command)))), command);
        run = Cli({QStringLiteral("write"), QStringLiteral("--help")});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.startsWith("Usage: velmora-cli write    PORTS FILE"));
        QVERIFY(QString::fromUtf8(run.out).contains(QStringLiteral("写入模块")));
        run = Cli({QStringLiteral("--version")});
        QCOMPARE(run.out, QByteArray("velmora-cli " VELMORA_VERSION "\n"));

        // The ports named in VELMORA_EXTRA_PORTS come last, numbered on.
        run = Cli({QStringLiteral("ports")});
        QCOMPARE(run.status, 0);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QVERIFY(lines.size() >= 2);
        const int n = lines.size();
        QCOMPARE(lines.at(n - 2), QStringLiteral("COM%1\t%2\tVELMORA_EXTRA_PORTS").arg(n - 1).arg(links[0]).toUtf8());
        QCOMPARE(lines.at(n - 1), QStringLiteral("COM%1\t%2\tVELMORA_EXTRA_PORTS").arg(n).arg(links[1]).toUtf8());
    }

    // --- files -------------------------------------------------------------------

    void exportAndImportRoundTripEveryShapeOfCode()
    {
        const QMap<QPair<int, int>, QString> shapes = {
            {{1, 1}, QStringLiteral("a0 b1")},        {{1, 2}, QStringLiteral("A0B1C2")},
            {{30, 1}, QStringLiteral(" f f ")},       {{30, 2}, QStringLiteral("01 02 03 ")},
            {{64, 2}, QStringLiteral("\u30000D0A")},  {{65, 1}, QStringLiteral("deadbeef").repeated(20)},
            {{96, 2}, QStringLiteral("7F ")},
        };
        QVERIFY(WriteBytes(Path("shapes.dat"), TableFileWith(shapes)));
        Run run = Cli({"export", "shapes.dat", "-o", "shapes.csv"});
        QCOMPARE(run.status, 0);
        const QByteArray csv = FileBytes(Path("shapes.csv"));
        QVERIFY(csv.startsWith("row,title,on,off\n1,"));
        QVERIFY(csv.contains(QStringLiteral("\n1,开关01控制,A0 B1,A0 B1 C2\n").toUtf8()));
        QVERIFY(csv.contains(QStringLiteral("\n30,开关15反馈,FF,01 02 03\n").toUtf8()));
        QVERIFY(csv.contains(QStringLiteral("\n64,开关32反馈,,0D 0A\n").toUtf8()));
        QVERIFY(csv.contains(QStringLiteral("\n96,场景31,,7F\n").toUtf8()));
        QCOMPARE(Cli({"export", "shapes.dat"}).out, csv);  // standard output: the same text

        run = Cli({"import", "shapes.csv", "-o", "imported.dat"});
        QCOMPARE(run.status, 0);
        // The window's fresh table with the codes, in the CSV's form.
        QMap<QPair<int, int>, QString> canonical;
        for (auto it = shapes.cbegin(); it != shapes.cend(); ++it) QVERIFY(CanonicalCode(it.value(), &canonical[it.key()]));
        QCOMPARE(FileBytes(Path("imported.dat")), TableFileWith(canonical));
        QCOMPARE(Cli({"export", "imported.dat"}).out, csv);
    }

    void aBadCsvIsRefusedWithItsLineAndNothingIsWritten()
    {
        QVERIFY(WriteBytes(Path("bad.csv"), "row,title,on,off\n1,,AA,\n2,,ABC,\n"));
        QVERIFY(WriteBytes(Path("kept.dat"), "the old file"));
        Run run = Cli({"import", "bad.csv", "-o", "kept.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral("bad.csv:3: bad on code: odd number of hex digits; nothing was written")), qPrintable(run.err));
        QCOMPARE(FileBytes(Path("kept.dat")), QByteArray("the old file"));
        run = Cli({"import", "bad.csv", "-o", "new.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY(!QFile::exists(Path("new.dat")));
        QCOMPARE(QDir(dir.path()).entryList({"*.dat.*", ".*.dat*"}, QDir::Files | QDir::Hidden), QStringList());

        run = Cli({"export", "missing.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY(run.err.contains(QStringLiteral("missing.dat: no such file")));
        // A FIFO in place of a file is refused, not waited on.
        QCOMPARE(::mkfifo(QFile::encodeName(Path("pipe.csv")).constData(), 0600), 0);
        run = Cli({"write", "/dev/velmora-no-such-port", "pipe.csv"});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral("pipe.csv: not a regular file")), qPrintable(run.err));
        QVERIFY(WriteBytes(Path("short.dat"), "KTBF"));
        run = Cli({"export", "short.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral("short.dat: too short for a table file")), qPrintable(run.err));
    }

    // --- a module on a pseudo-terminal -------------------------------------------------

    void clearSetBaudAndLearnSendTheWindowsFrames()
    {
        EchoModule module;
        QVERIFY(!module.Path().isEmpty());
        Run run = Cli({"clear", module.Path(), "-q"});
        QCOMPARE(run.status, 0);
        QCOMPARE(module.Received().toHex(' ').toUpper(),
                 QByteArray("FD 66 66 66 66 AA AA AA BF FD 66 66 66 66 AA AB CC BF FD 66 66 66 66 AA AA BB BF"));
        QVERIFY2(run.err.contains(module.Path() + QStringLiteral(": cleared")), qPrintable(run.err));

        EchoModule second;
        run = Cli({"set-baud", second.Path(), "115200"});
        QCOMPARE(run.status, 0);
        QCOMPARE(second.Received().toHex(' ').toUpper(),
                 QByteArray("FD 66 66 66 66 AA AA AA BF FD 66 66 66 DF 01 C2 00 BF FD 66 66 66 66 AA AA BB BF"));

        EchoModule third;
        run = Cli({"learn", third.Path(), "01", "02 0a"});
        QCOMPARE(run.status, 0);
        QTRY_COMPARE(third.Received(), QByteArray::fromHex("FD4952 01020A"));
    }

    void aSilentModuleExitsFiveAndLeavesTheOutputAlone()
    {
        EchoModule silent(EchoModule::Manner::Silent);
        QVERIFY(WriteBytes(Path("small.csv"), "row,title,on,off\n1,,11 22,33\n"));
        QElapsedTimer t;
        t.start();
        Run run = Cli({"write", silent.Path(), "small.csv"});
        qInfo("write to a silent module ended after %lld ms", t.elapsed());
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(QStringLiteral("did not echo the enter frame within 1 s")), qPrintable(run.err));
        // Nothing but the enter frame and, to leave configuration mode, the exit frame.
        QCOMPARE(silent.Received(), EchoModule::Enter() + EchoModule::Exit());

        QVERIFY(WriteBytes(Path("backup.dat"), "the old backup"));
        t.restart();
        run = Cli({"read", silent.Path(), "-o", "backup.dat"});
        qInfo("read from a silent module ended after %lld ms", t.elapsed());
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(QStringLiteral("did not answer the read request; nothing was written")), qPrintable(run.err));
        QCOMPARE(FileBytes(Path("backup.dat")), QByteArray("the old backup"));

        run = Cli({"clear", silent.Path()});
        QCOMPARE(run.status, 5);
    }

    void aMissingPortExitsThreeAndTheOthersStillRun()
    {
        Run run = Cli({"read", "/dev/velmora-no-such-port"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QStringLiteral("/dev/velmora-no-such-port: could not open /dev/velmora-no-such-port: no such device")),
                 qPrintable(run.err));
        run = Cli({"read", "COM999"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QStringLiteral("COM999: no such port")), qPrintable(run.err));

        EchoModule module;
        run = Cli({"clear", module.Path() + QStringLiteral(",/dev/velmora-no-such-port")});
        QCOMPARE(run.status, 3);  // the worst of the two
        QVERIFY(run.err.contains(module.Path() + QStringLiteral(": cleared")));
        QCOMPARE(module.Received().size(), 27);
    }

    // --- the module simulator -------------------------------------------------------

    void aBadCodeInTheFileSendsNothing()
    {
        auto cells = FullTable();
        cells[{6, 1}] = QStringLiteral("12 3");
        QVERIFY(WriteBytes(Path("typo.dat"), TableFileWith(cells)));
        const int received = sims[0].Count(QStringLiteral("recv"));
        const Run run = Cli({"write", links[0], "typo.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral("typo.dat: 开关03反馈 开: odd number of hex digits (\"12 3\"); nothing was sent")),
                 qPrintable(run.err));
        QTest::qWait(200);
        QCOMPARE(sims[0].Count(QStringLiteral("recv")), received);
    }

    void writeThenVerifyAFullTable()
    {
        QVERIFY(WriteBytes(Path("full.dat"), TableFileWith(FullTable())));
        Run run = Cli({"write", links[0], "full.dat"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(QStringLiteral(": wrote 192 codes")), qPrintable(run.err));
        QTRY_COMPARE(sims[0].Count(QStringLiteral("recv record block")), 192);
        QCOMPARE(Memory(0).size(), 192);

        run = Cli({"verify", links[0], "full.dat"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QStringLiteral("the module holds every code of the file (192 codes)")), qPrintable(run.err));

        // One code changed in a CSV of the same table: named, and nothing else.
        QByteArray csv = Cli({"export", "full.dat"}).out;
        const QString line5 = QStringLiteral("\n5,开关03控制,%1,").arg(Canonical(CodeFor(5, 1)));
        QVERIFY(csv.contains(line5.toUtf8()));
        csv.replace(line5.toUtf8(), QStringLiteral("\n5,开关03控制,00 11,").toUtf8());
        QVERIFY(WriteBytes(Path("changed.csv"), csv));
        run = Cli({"verify", links[0], "changed.csv"});
        QCOMPARE(run.status, 1);
        QCOMPARE(QString::fromUtf8(run.out),
                 QStringLiteral("%1\t开关03控制\t开\t00 11\t%2\n").arg(links[0], Canonical(CodeFor(5, 1))));
        QVERIFY(run.err.contains(QStringLiteral("1 of 192 codes differ")));
    }

    void readToATableFileGivesWhatTheWindowSaves()
    {
        // The simulator still holds the full table of the test before.
        const Run run = Cli({"read", links[0], "-o", "backup.dat", "-q"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(QStringLiteral("read 192 codes into backup.dat")), qPrintable(run.err));

        // The window, fresh, reads the same module and saves.
        qputenv("VELMORA_EXTRA_PORTS", links[0].toLocal8Bit());
        ProgramRig rig;
        ConfigTable fresh;
        InitTable(fresh);
        QCOMPARE(WriteTableFile(rig.table.Content()), WriteTableFile(fresh.Content()));
        QVERIFY(rig.SelectPort(links[0]));
        QVERIFY(rig.Click(Control::Button_TogglePort));
        QVERIFY(rig.Click(Control::Button_ReadModule));
        QTRY_VERIFY_WITH_TIMEOUT(rig.Log().contains(QStringLiteral("数据提取完成")), 60000);
        QVERIFY(rig.table.SaveTable(Path("window.dat")));
        QCOMPARE(FileBytes(Path("backup.dat")), FileBytes(Path("window.dat")));
    }

    void severalPortsAtOnce()
    {
        StartSim(1);
        QVERIFY(WriteBytes(Path("some.csv"), "row,title,on,off\n1,,01,02\n65,,a1 b2,\n64,,,ff\n"));
        const QString both = links[0] + QLatin1Char(',') + links[1];
        Run run = Cli({"clear", both});
        QCOMPARE(run.status, 0);
        run = Cli({"write", both, "some.csv"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err.count(QStringLiteral(": wrote 4 codes")), 2);
        for (int i : {0, 1}) QCOMPARE(Memory(i), QStringList({"1 1 01", "1 2 02", "64 2 FF", "65 1 A1 B2"}));

        run = Cli({"read", both, "-o", "copy-{port}.csv"});
        QCOMPARE(run.status, 0);
        const QByteArray first = FileBytes(Path("copy-module0.tty.csv"));
        QVERIFY(first.contains("\n65,"));
        QCOMPARE(FileBytes(Path("copy-module1.tty.csv")), first);
    }

    void aLineThatDropsExitsThreeAndWritesNothing()
    {
        QVERIFY(WriteBytes(Path("full.dat"), TableFileWith(FullTable())));
        // The tenth frame of the upload (its eighth record) never arrives: the line drops there.
        QFile::remove(memories[1]);
        StartSim(1, {QStringLiteral("--hang-up-at-frame"), QStringLiteral("10"), QStringLiteral("--hang-up-for"), QStringLiteral("3000")});
        Run run = Cli({"write", links[1], "full.dat"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QStringLiteral("the port was lost after")), qPrintable(run.err));
        QTRY_COMPARE(sims[1].Count(QStringLiteral("hung up")), 1);
        QCOMPARE(sims[1].Count(QStringLiteral("recv record")), 7);

        // The seven codes it stored before the drop make a dump that is cut after five.
        QCOMPARE(Memory(1).size(), 7);
        StartSim(1, {QStringLiteral("--hang-up-after"), QStringLiteral("5"), QStringLiteral("--hang-up-for"), QStringLiteral("3000")});
        QVERIFY(WriteBytes(Path("lost.csv"), "the old file"));
        run = Cli({"read", links[1], "-o", "lost.csv"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QStringLiteral("the port was lost during the read; nothing was written")), qPrintable(run.err));
        QCOMPARE(FileBytes(Path("lost.csv")), QByteArray("the old file"));
    }

    void ctrlCStopsAfterTheCurrentFrameAndLeavesConfigurationMode()
    {
        StartSim(0);
        QVERIFY(WriteBytes(Path("full.dat"), TableFileWith(FullTable())));
        const Run run = Cli({"write", links[0], "full.dat"}, [&](QProcess& p) {
            QTRY_VERIFY_WITH_TIMEOUT(sims[0].Count(QStringLiteral("recv record")) >= 5, 20000);
            ::kill(pid_t(p.processId()), SIGINT);
        });
        QCOMPARE(run.status, 130);
        QVERIFY2(run.err.contains(QStringLiteral("the exit frame was sent")), qPrintable(run.err));
        QTRY_VERIFY(sims[0].lines.last().startsWith(QStringLiteral("recv exit")));
        QVERIFY(sims[0].Count(QStringLiteral("recv record")) < 192);
    }
};

QTEST_MAIN(CliTest)
#include "test_cli.moc"
