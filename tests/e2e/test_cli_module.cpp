// velmora-cli against modules: one on a pseudo-terminal that only echoes
// (or stays silent), and the module simulator; checked by exit status, by
// what it prints, by the files it leaves and by what reached the module.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

#include "CliRig.h"
#include "tests/support/EchoModule.h"
#include "tests/support/SpecialFiles.h"
#include "tools/velmora-cli/DeviceWatch.h"

class CliModuleTest : public QObject {
    Q_OBJECT
    CliRig rig;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QFile::exists(CliRig::Program()));
        for (int i : {0, 1}) rig.StartSim(i);
    }

    // --- a module on a pseudo-terminal -------------------------------------------------

    void clearSetBaudAndLearnSendTheWindowsFrames()
    {
        EchoModule module;
        QVERIFY(!module.Path().isEmpty());
        CliRun run = rig.Cli({"clear", module.Path()});
        QCOMPARE(run.status, 0);
        QCOMPARE(module.Received().toHex(' ').toUpper(),
                 QByteArray("FD 66 66 66 66 AA AA AA BF FD 66 66 66 66 AA AB CC BF FD 66 66 66 66 AA AA BB BF"));
        QVERIFY2(run.err.contains(module.Path() + QStringLiteral(": cleared")), qPrintable(run.err));

        EchoModule second;
        run = rig.Cli({"set-baud", second.Path(), "115200"});
        QCOMPARE(run.status, 0);
        QCOMPARE(second.Received().toHex(' ').toUpper(),
                 QByteArray("FD 66 66 66 66 AA AA AA BF FD 66 66 66 DF 01 C2 00 BF FD 66 66 66 66 AA AA BB BF"));

        EchoModule third;
        run = rig.Cli({"learn", third.Path(), "01", "02 0a"});
        QCOMPARE(run.status, 0);
        QTRY_COMPARE(third.Received(), QByteArray::fromHex("FD4952 01020A"));
    }

    void aSilentModuleExitsFiveAndLeavesTheOutputAlone()
    {
        EchoModule silent(EchoModule::Manner::Silent);
        QVERIFY(WriteAll(rig.Path("small.csv"), CsvWith({{{1, 1}, "11 22"}, {{1, 2}, "33"}})));
        QElapsedTimer t;
        t.start();
        CliRun run = rig.Cli({"write", silent.Path(), "small.csv"});
        qInfo("write to a silent module ended after %lld ms", t.elapsed());
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(QStringLiteral("did not echo the enter frame within 1 s")), qPrintable(run.err));
        // Nothing but the enter frame and, to leave configuration mode, the exit frame.
        QCOMPARE(silent.Received(), EchoModule::Enter() + EchoModule::Exit());

        QVERIFY(WriteAll(rig.Path("backup.dat"), "the old backup"));
        t.restart();
        run = rig.Cli({"read", silent.Path(), "-o", "backup.dat"});
        qInfo("read from a silent module ended after %lld ms", t.elapsed());
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(QStringLiteral("did not answer the read request; nothing was written")), qPrintable(run.err));
        QCOMPARE(ReadAll(rig.Path("backup.dat")), QByteArray("the old backup"));

        run = rig.Cli({"clear", silent.Path()});
        QCOMPARE(run.status, 5);
    }

    void aMissingPortExitsThreeAndTheOthersStillRun()
    {
        CliRun run = rig.Cli({"read", "/dev/velmora-no-such-port"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QStringLiteral("/dev/velmora-no-such-port: could not open /dev/velmora-no-such-port: no such device")),
                 qPrintable(run.err));
        run = rig.Cli({"read", "COM999"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QStringLiteral("COM999: no such port")), qPrintable(run.err));

        EchoModule module;
        run = rig.Cli({"clear", module.Path() + QStringLiteral(",/dev/velmora-no-such-port")});
        QCOMPARE(run.status, 3);  // the worst of the two
        QVERIFY(run.err.contains(module.Path() + QStringLiteral(": cleared")));
        QCOMPARE(module.Received().size(), 27);
    }

    // --- the module simulator -------------------------------------------------------

    void aBadCodeInTheFileSendsNothing()
    {
        auto cells = CodesIn(FewCells());
        cells[{6, 1}] = QStringLiteral("12 3");
        QVERIFY(WriteAll(rig.Path("typo.dat"), TableFileWith(cells)));
        const int received = rig.sims[0].Count(QStringLiteral("recv"));
        const CliRun run = rig.Cli({"write", rig.links[0], "typo.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral("typo.dat: 开关03反馈 开: odd number of hex digits (\"12 3\"); nothing was sent")),
                 qPrintable(run.err));
        // A learn report behind it on the line: the first frame the module hears.
        QCOMPARE(rig.Cli({"learn", rig.links[0], "5A"}).status, 0);
        QTRY_COMPARE(rig.sims[0].Count(QStringLiteral("recv")), received + 1);
        QVERIFY2(rig.sims[0].lines.last().startsWith(QStringLiteral("recv learn 5A ")), qPrintable(rig.sims[0].lines.last()));
    }

    void writeThenVerifyATable()
    {
        QVERIFY(WriteAll(rig.Path("few.dat"), TableFileWith(CodesIn(FewCells()))));
        CliRun run = rig.Cli({"write", rig.links[0], "few.dat"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(QStringLiteral(": wrote 16 codes")), qPrintable(run.err));
        QTRY_COMPARE(rig.sims[0].Count(QStringLiteral("recv record block")), 16);
        QCOMPARE(rig.Memory(0).size(), 16);

        run = rig.Cli({"verify", rig.links[0], "few.dat"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QStringLiteral("the module holds every code of the file (16 codes)")), qPrintable(run.err));

        // One code changed in a CSV of the same table: named, and nothing else.
        QByteArray csv = rig.Cli({"export", "few.dat"}).out;
        const QString line1 = QStringLiteral("\n1,开关01控制,%1,").arg(Canonical(CodeFor(1, 1)));
        QVERIFY(csv.contains(line1.toUtf8()));
        csv.replace(line1.toUtf8(), QStringLiteral("\n1,开关01控制,00 11,").toUtf8());
        QVERIFY(WriteAll(rig.Path("changed.csv"), csv));
        run = rig.Cli({"verify", rig.links[0], "changed.csv"});
        QCOMPARE(run.status, 1);
        QCOMPARE(QString::fromUtf8(run.out),
                 QStringLiteral("%1\t开关01控制\t开\t00 11\t%2\n").arg(rig.links[0], Canonical(CodeFor(1, 1))));
        QVERIFY(run.err.contains(QStringLiteral("1 of 16 codes differ")));
    }

    void readToATableFileGivesWhatTheWindowSaves()
    {
        // The simulator still holds the codes of the test before.
        const CliRun run = rig.Cli({"read", rig.links[0], "-o", "backup.dat"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(QStringLiteral("read 16 codes into backup.dat")), qPrintable(run.err));
        // Read to standard output on a full disk: said, and not taken for done.
        if (MakeDevice(rig.Path("full"), 'c', kMemoryDevices, kFullDevice)) {
            const CliRun full = rig.Cli({"read", rig.links[0]}, {}, [&](QProcess& p) { p.setStandardOutputFile(rig.Path("full")); });
            QCOMPARE(full.status, 4);
            QVERIFY2(full.err.contains(QStringLiteral("velmora-cli: standard output: No space left on device\n"))
                         && full.err.contains(QStringLiteral("read 16 codes, each confirmed by two dumps, but not all of it reached standard output")),
                     qPrintable(full.err));
        }

        // The window, fresh, reads the same module and saves.
        qputenv("VELMORA_EXTRA_PORTS", rig.links[0].toLocal8Bit());
        ProgramRig window;
        ConfigTable fresh;
        InitTable(fresh);
        QCOMPARE(WriteTableFile(window.table.Content()), WriteTableFile(fresh.Content()));
        QVERIFY(window.SelectPort(rig.links[0]));
        QVERIFY(window.Click(Control::Button_TogglePort));
        QVERIFY(window.Click(Control::Button_ReadModule));
        QTRY_VERIFY_WITH_TIMEOUT(window.Log().contains(QStringLiteral("数据提取完成")), 60000);
        QVERIFY(window.table.SaveTable(rig.Path("window.dat")));
        QCOMPARE(ReadAll(rig.Path("backup.dat")), ReadAll(rig.Path("window.dat")));
    }

    void severalPortsAtOnce()
    {
        rig.StartSim(1);
        QVERIFY(WriteAll(rig.Path("some.csv"), CsvWith({{{1, 1}, "01"}, {{1, 2}, "02"}, {{65, 1}, "a1 b2"}, {{64, 2}, "ff"}})));
        const QString both = rig.links[0] + QLatin1Char(',') + rig.links[1];
        CliRun run = rig.Cli({"clear", both});
        QCOMPARE(run.status, 0);
        run = rig.Cli({"write", both, "some.csv"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err.count(QStringLiteral(": wrote 4 codes")), 2);
        for (int i : {0, 1}) QCOMPARE(rig.Memory(i), QStringList({"1 1 01", "1 2 02", "64 2 FF", "65 1 A1 B2"}));

        run = rig.Cli({"read", both, "-o", "copy-{port}.csv"});
        QCOMPARE(run.status, 0);
        const QByteArray first = ReadAll(rig.Path("copy-module0.tty.csv"));
        QVERIFY(first.contains("\n65,"));
        QCOMPARE(ReadAll(rig.Path("copy-module1.tty.csv")), first);
    }

    void jsonLinesForAGoodAndABadModule()
    {
        // Both modules held some.csv's codes; the second's 关 of row 1 is changed.
        rig.sims[1].Stop();
        QVERIFY(WriteAll(rig.memories[1], "1 1 01\n1 2 03\n64 2 FF\n65 1 A1 B2\n"));
        rig.StartSim(1);
        const CliRun run = rig.Cli({"verify", rig.links[0] + QLatin1Char(',') + rig.links[1], "some.csv", "--json", "-q"});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, rig.links[1] + QStringLiteral(": 1 of 4 codes differ\n"));
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(2).isEmpty());
        QStringList keys;
        for (const QRegularExpressionMatch& m : QRegularExpression(QStringLiteral("\"(\\w+)\":")).globalMatch(QString::fromUtf8(lines.at(0))))
            keys << m.captured(1);
        QCOMPARE(keys, QStringList({"port", "device", "serial", "command", "ok", "status", "codes", "differences", "error", "seconds"}));

        for (int i : {0, 1}) {
            QJsonParseError error;
            QJsonObject line = QJsonDocument::fromJson(lines.at(i), &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, lines.at(i).constData());
            QVERIFY(line.take(QStringLiteral("seconds")).toDouble() > 0);
            const QJsonArray differences = i == 0 ? QJsonArray()
                : QJsonArray{QJsonObject{{"row", 1}, {"title", QStringLiteral("开关01控制")}, {"column", "off"}, {"file", "02"}, {"module", "03"}}};
            const QJsonObject expected{{"port", rig.links[i]}, {"device", QFileInfo(rig.links[i]).canonicalFilePath()},
                                       {"serial", QJsonValue::Null}, {"command", "verify"}, {"ok", i == 0},
                                       {"status", i}, {"codes", 4}, {"differences", differences},
                                       {"error", i == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue("1 of 4 codes differ")}};
            QCOMPARE(line, expected);
        }
    }

    void aStationProvisionsEachModuleAsItIsPluggedIn()
    {
        // A module on the line already when the station starts is left alone;
        // then two good modules, one that never answers a read and one whose
        // read-back is unclear are plugged in together. Each is a link the
        // test makes in the watched folder, made in one step.
        QVERIFY(WriteAll(rig.Path("some.csv"), CsvWith({{{1, 1}, "01"}, {{1, 2}, "02"}, {{65, 1}, "a1 b2"}, {{64, 2}, "ff"}})));
        const QString watch = rig.Path(QStringLiteral("watch"));
        QVERIFY(QDir().mkpath(watch));
        EchoModule there, noReads;
        QVERIFY(QFile::link(there.Path(), watch + QStringLiteral("/there")));
        SimProcess good[2], again, unclear;
        auto startSim = [&](SimProcess& sim, const QString& line, const QString& memory, const QStringList& manners) {
            QVERIFY(sim.Start(QStringList{"--link", rig.Path(line), "--memory", rig.Path(memory), "--pace", "20", "--no-wire-time"} + manners));
        };
        auto plugIn = [&](const QString& line, const QString& name) { QVERIFY(QFile::link(rig.Path(line), watch + '/' + name)); };
        for (int i : {0, 1}) startSim(good[i], QStringLiteral("good%1.tty").arg(i), QStringLiteral("good%1.mem").arg(i), {});
        startSim(unclear, "unclear.tty", "unclear.mem", {"--noise-behind", "40", "--same-noise"});
        auto station = [&](int count, const std::function<void()>& plugging) {
            return rig.Cli({"provision", "some.csv", "--watch-dir", "watch", "--count", QString::number(count), "--report", "report.jsonl"},
                           [&](QProcess& p) {
                               // Its first line: it is watching.
                               p.setReadChannel(QProcess::StandardError);
                               QVERIFY(p.waitForReadyRead(10000));
                               plugging();
                           });
        };
        CliRun run = station(4, [&] {
            plugIn("good0.tty", "good0");
            plugIn("good1.tty", "good1");
            QVERIFY(QFile::link(noReads.Path(), watch + QStringLiteral("/noreads")));
            plugIn("unclear.tty", "unclear");
        });
        QCOMPARE(run.status, 1);
        QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines.sort();
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines.at(0).startsWith(QStringLiteral("FAIL noreads (%1): wrote 4 codes; the module did not answer").arg(noReads.Path())), qPrintable(lines.at(0)));
        QVERIFY2(lines.at(0).contains(QStringLiteral(" (status 5) [")), qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).startsWith(QStringLiteral("FAIL unclear (")) && lines.at(1).contains(QStringLiteral(": wrote 4 codes; the module's answers were not clear for 192 codes"))
                     && lines.at(1).contains(QStringLiteral(" (status 6) [")),
                 qPrintable(lines.at(1)));
        for (int i : {0, 1}) {
            QVERIFY2(lines.at(i + 2).startsWith(QStringLiteral("PASS good%1 (").arg(i)), qPrintable(lines.at(i + 2)));
            QCOMPARE(ReadAll(rig.Path(QStringLiteral("good%1.mem").arg(i))).split('\n').mid(1, 4),
                     QByteArrayList({"1 1 01", "1 2 02", "64 2 FF", "65 1 A1 B2"}));
        }
        QVERIFY(there.Received().isEmpty());

        // The report: a JSON line per module, in the order they ended.
        QList<QByteArray> report = ReadAll(rig.Path("report.jsonl")).split('\n');
        QCOMPARE(report.size(), 5);
        QStringList reported;
        for (const QByteArray& line : report.mid(0, 4)) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            reported << QStringLiteral("%1 %2 %3 %4, %5 differences").arg(QFileInfo(o["port"].toString()).fileName(), o["command"].toString(),
                                                          o["ok"].toBool() ? "ok" : "failed").arg(o["status"].toInt()).arg(o["differences"].toArray().size());
        }
        reported.sort();
        QCOMPARE(reported, QStringList({"good0 provision ok 0, 0 differences", "good1 provision ok 0, 0 differences",
                                         "noreads provision failed 5, 0 differences", "unclear provision failed 6, 0 differences"}));

        // good0 stays on the line, good1 is unplugged and another module is
        // plugged in its place: only that one is provisioned.
        startSim(again, "again.tty", "again.mem", {});
        run = station(1, [&] {
            QVERIFY(QFile::remove(watch + QStringLiteral("/good1")));
            plugIn("again.tty", "good1");
        });
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.startsWith("PASS good1 ("), run.out.constData());
        QCOMPARE(ReadAll(rig.Path("report.jsonl")).count('\n'), 5);
    }

    void aLineThatDropsExitsThreeAndWritesNothing()
    {
        QVERIFY(WriteAll(rig.Path("full.dat"), TableFileWith(CodesIn(AllCells()))));
        // The tenth frame of the upload (its eighth record) never arrives: the line drops there.
        QFile::remove(rig.memories[1]);
        rig.StartSim(1, {QStringLiteral("--hang-up-at-frame"), QStringLiteral("10"), QStringLiteral("--hang-up-for"), QStringLiteral("3000")});
        CliRun run = rig.Cli({"write", rig.links[1], "full.dat"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QStringLiteral("the port was lost after")), qPrintable(run.err));
        QTRY_COMPARE(rig.sims[1].Count(QStringLiteral("hung up")), 1);
        QCOMPARE(rig.sims[1].Count(QStringLiteral("recv record")), 7);

        // The seven codes it stored before the drop make a dump that is cut after five.
        QCOMPARE(rig.Memory(1).size(), 7);
        rig.StartSim(1, {QStringLiteral("--hang-up-after"), QStringLiteral("5"), QStringLiteral("--hang-up-for"), QStringLiteral("3000")});
        QVERIFY(WriteAll(rig.Path("lost.csv"), "the old file"));
        run = rig.Cli({"read", rig.links[1], "-o", "lost.csv"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QStringLiteral("the port was lost during the read; nothing was written")), qPrintable(run.err));
        QCOMPARE(ReadAll(rig.Path("lost.csv")), QByteArray("the old file"));
    }

    // Ctrl+C in an upload or in a dump: the frame under way is finished, the
    // exit frame takes the module out of configuration mode, an old output
    // file stays as it was.
    void ctrlCStopsAfterTheCurrentFrameAndLeavesConfigurationMode_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("under");  // what the module has heard when Ctrl+C comes
        QTest::addColumn<int>("heard");
        QTest::addColumn<int>("exits");  // exit frames the module hears in all
        QTest::newRow("write") << QStringList{"write", "few.csv"} << "recv record" << 5 << 1;
        QTest::newRow("write --verify, in the read-back") << QStringList{"write", "few.csv", "--verify"} << "recv read" << 1 << 2;
        QTest::newRow("read") << QStringList{"read", "-o", "old.csv"} << "recv read" << 1 << 1;
        QTest::newRow("verify, in its second dump") << QStringList{"verify", "few.csv"} << "recv read" << 2 << 1;
    }
    void ctrlCStopsAfterTheCurrentFrameAndLeavesConfigurationMode()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, under);
        QFETCH(int, heard);
        QFETCH(int, exits);
        rig.sims[0].Stop();
        QVERIFY(WriteMemory(rig.memories[0], FewCells()));
        rig.StartSim(0);
        QVERIFY(WriteAll(rig.Path("few.csv"), CsvWith(CodesIn(FewCells()))));
        QVERIFY(WriteAll(rig.Path("old.csv"), "the old file"));
        args.insert(1, rig.links[0]);
        const CliRun run = rig.Cli(args, [&](QProcess& p) {
            QTRY_VERIFY_WITH_TIMEOUT(rig.sims[0].Count(under) >= heard, 40000);
            ::kill(pid_t(p.processId()), SIGINT);
        });
        QCOMPARE(run.status, 130);
        QVERIFY2(run.err.contains(QStringLiteral("the exit frame was sent")), qPrintable(run.err));
        QTRY_COMPARE(rig.sims[0].Count(QStringLiteral("recv exit")), exits);
        if (under == QStringLiteral("recv record")) QVERIFY(rig.sims[0].Count(under) < FewCells().size());
        QCOMPARE(ReadAll(rig.Path("old.csv")), QByteArray("the old file"));
    }

    // Module a gets a second link, and in its run its first link turns to module b,
    // whose link was made under a dot name: one run per device, each with the device
    // it opened. The report has room for one line (300 bytes and the folder's name).
    void aStationRunsEachDeviceOnceWhateverItsLinks()
    {
        const QString at = rig.Path(QStringLiteral("links/"));
        QVERIFY(QDir().mkpath(at) && WriteAll(rig.Path("links.csv"), CsvWith({{{1, 1}, "01"}})));
        SimProcess sims[2];
        QStringList devices;
        const CliRun run = rig.Cli({"provision", "links.csv", "--watch-dir", "links", "--count", "2", "--report", "links.jsonl", "--json"}, [&](QProcess& p) {
            p.setReadChannel(QProcess::StandardError);
            QVERIFY(p.waitForReadyRead(10000));
            for (const char* name : {"a", ".#b"}) {
                QVERIFY(sims[devices.size()].Start({"--link", at + name, "--memory", rig.Path(name + QStringLiteral(".mem")), "--pace", "20"}));
                devices << QFileInfo(at + name).canonicalFilePath();
            }
            QVERIFY(QFile::link(devices[0], at + "a2"));
            QTRY_VERIFY_WITH_TIMEOUT(sims[0].Count(QStringLiteral("recv enter")) >= 1, 20000);
            QVERIFY(QFile::link(devices[1], at + "a.new") && ::rename(qPrintable(at + "a.new"), qPrintable(at + "a")) == 0);
            QVERIFY(QFile::rename(at + ".#b", at + "b"));
        }, [room = rlim_t(300 + at.size())](QProcess& p) { p.setChildProcessModifier([room] { rlimit l{}; ::getrlimit(RLIMIT_FSIZE, &l); l.rlim_cur = room; ::setrlimit(RLIMIT_FSIZE, &l); }); });
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral(": File too large; the line of ")), qPrintable(run.err));
        QSet<QString> reported;
        for (const QByteArray& line : run.out.trimmed().split('\n')) reported << QJsonDocument::fromJson(line)["device"].toString();
        QCOMPARE(reported, QSet<QString>(devices.cbegin(), devices.cend()));
        QCOMPARE(ReadAll(rig.Path("links.jsonl")), run.out.left(run.out.indexOf('\n') + 1));
    }

    // Steps after the first look, each followed by a look: "a=0" (re)links a
    // to device 0 (1, f a file, - nothing), "a>b" renames, "-a" removes, "+MS"
    // moves the clock, "done0" ends device 0's run. Runs: "entry>device@ms".
    void runsStartedByFolderEvents_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("runs");
        QTest::newRow("taken once it stood still, in name order") << "b=1 a=0 +199 +1 +500" << "a>0@200 b>1@200";
        QTest::newRow("two links to one device, one renamed") << "b=0 a=0 +200 c=0 +200 done0 c>d +200" << "a>0@200";
        QTest::newRow("gone and back in the run") << "a=0 +200 -a a=0 +300 +100 done0" << "a>0@200 a>0@600";
        QTest::newRow("gone, back under another name") << "a=0 +200 done0 -a +10 b=0 +200" << "a>0@200 b>0@410";
        QTest::newRow("dot name renamed into place") << ".#a=0 +300 .#a>a +199 +1" << "a>0@500";
        QTest::newRow("not yet a device") << "a=f b=- +300 a=0 +200 +800" << "a>0@500";
        QTest::newRow("re-pointed, before and in the run") << "a=0 +150 a=1 +200 a=0 +200 done1" << "a>1@350 a>0@550";
    }
    void runsStartedByFolderEvents()
    {
        QFETCH(QString, steps);
        QFETCH(QString, runs);
        QTemporaryDir dir;
        const QString at = dir.filePath(QStringLiteral("by-id/"));
        EchoModule modules[2];
        const QStringList pts{modules[0].Path(), modules[1].Path()};
        QVERIFY(QDir().mkdir(at) && WriteAll(dir.filePath("f"), "") && !pts.contains(QString()));
        qint64 now = 0;
        DeviceWatch watch(at, 2000, 200, [&] { return now; });
        QStringList started;
        QHash<QString, dev_t> numbers;
        watch.onReady = [&](const WatchedDevice& d) {
            numbers[d.node] = d.number;
            started << QStringLiteral("%1>%2@%3").arg(QFileInfo(d.entry).fileName()).arg(pts.indexOf(d.node)).arg(now);
        };
        watch.Start();
        for (const QString& s : steps.split(QLatin1Char(' '))) {
            const QStringList name = s.split(QRegularExpression(QStringLiteral("[=>]")));
            if (s.startsWith(QLatin1Char('+'))) now += s.mid(1).toInt();
            else if (s.startsWith(QStringLiteral("done"))) watch.Release(numbers.value(pts.at(s.right(1).toInt())));
            else if (s.startsWith(QLatin1Char('-'))) QVERIFY(QFile::remove(at + s.mid(1)));
            else if (s.contains(QLatin1Char('>'))) QVERIFY(QFile::rename(at + name[0], at + name[1]));
            else QVERIFY(QFile::link(name[1] == "f" || name[1] == "-" ? dir.filePath(name[1]) : pts.at(name[1].toInt()), at + name[0] + '~') && ::rename(qPrintable(at + name[0] + '~'), qPrintable(at + name[0])) == 0);
            watch.Rescan();
        }
        QCOMPARE(started.join(QLatin1Char(' ')), runs);
    }
};

QTEST_MAIN(CliModuleTest)
#include "test_cli_module.moc"
