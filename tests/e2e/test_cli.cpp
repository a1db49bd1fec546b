// velmora-cli as scripts run it, without a module: the command line itself
// and the table files it reads and writes, checked by exit status, by what it
// prints and by the files it leaves.

#include <QtTest>
#include <sys/stat.h>

#include "CliRig.h"
#include "tests/support/SpecialFiles.h"
#include "config/TableCsv.h"
#include "tests/support/EchoModule.h"

class CliTest : public QObject {
    Q_OBJECT
    CliRig rig;

private Q_SLOTS:
    void initTestCase() { QVERIFY(QFile::exists(CliRig::Program())); }

    // --- the command line itself ---------------------------------------------------

    // A usage error is one line and a pointer to the help; -q leaves standard
    // error empty unless something failed. "{echo}" stands for an echoing module.
    void usageErrorsAndQuietRuns_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err");
        const QString tryRead = QStringLiteral("Try 'velmora-cli read --help'.\n");
        QTest::newRow("nothing") << QStringList{} << 2 << "no command given\nTry 'velmora-cli --help'.\n";
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << "unknown command \"frobnicate\"\nTry 'velmora-cli --help'.\n";
        QTest::newRow("no port") << QStringList{"read"} << 2 << "read: missing arguments\n" + tryRead;
        QTest::newRow("rate not offered") << QStringList{"read", "COM1", "--baud", "4800"} << 2
                                          << "\"4800\" is not a rate the window offers (9600, 19200, 38400, 57600, 115200)\n" + tryRead;
        QTest::newRow("-o where nothing is written") << QStringList{"clear", "COM1", "-o", "x"} << 2
                                                     << "clear does not write a file; -o does not apply\nTry 'velmora-cli clear --help'.\n";
        QTest::newRow("module rate not offered") << QStringList{"set-baud", "COM1", "300"} << 2
                                                 << "\"300\" is not a rate the module is offered (9600, 19200, 38400, 57600, 115200)\nTry 'velmora-cli set-baud --help'.\n";
        QTest::newRow("import without -o") << QStringList{"import", "a.csv"} << 2 << "import: -o TABLE.dat is required\nTry 'velmora-cli import --help'.\n";
        QTest::newRow("several ports, one file") << QStringList{"read", "COM1,COM2", "-o", "x.dat"} << 2
                                                 << "with several ports, -o must be a file pattern with {port} in it\n" + tryRead;
        QTest::newRow("a port twice") << QStringList{"clear", "COM2,COM2"} << 2
                                      << "\"COM2\" names a port that PORTS already names\nTry 'velmora-cli clear --help'.\n";
        QTest::newRow("bad learn data") << QStringList{"learn", "COM1", "0G"} << 2
                                        << "learn: \"0G\": 'G' is not a hex digit\nTry 'velmora-cli learn --help'.\n";
        QTest::newRow("unknown option") << QStringList{"ports", "--fast"} << 2 << "unknown option \"--fast\"\nTry 'velmora-cli ports --help'.\n";
        QTest::newRow("csv to standard output as well as json") << QStringList{"read", "COM1", "--json"} << 2
                                                                << "read --json writes JSON on standard output; name the codes' file with -o FILE\n" + tryRead;
        QTest::newRow("station option elsewhere") << QStringList{"write", "COM1", "t.csv", "--count", "3"} << 2
                                                  << "--count is an option of provision only\nTry 'velmora-cli write --help'.\n";
        QTest::newRow("--once with nothing read back") << QStringList{"write", "COM1", "t.csv", "--once"} << 2
                                                       << "write reads nothing back without --verify; --once does not apply\nTry 'velmora-cli write --help'.\n";
        QTest::newRow("--verify elsewhere") << QStringList{"read", "COM1", "--verify"} << 2 << "--verify is an option of write only\n" + tryRead;
        QTest::newRow("no modules to count") << QStringList{"provision", "t.csv", "--count", "0"} << 2
                                             << "--count \"0\" is not a number of modules (1 or more)\nTry 'velmora-cli provision --help'.\n";
        QTest::newRow("no folder to watch") << QStringList{"provision", "empty.csv", "--watch-dir", "nowhere"} << 2
                                            << "--watch-dir nowhere: not a folder\nTry 'velmora-cli provision --help'.\n";
        QTest::newRow("a report that cannot be kept") << QStringList{"provision", "empty.csv", "--watch-dir", ".", "--report", ".", "-q"} << 4
                                                      << "velmora-cli: .: Is a directory; no module was started\n";
        QTest::newRow("quiet and done") << QStringList{"clear", "{echo}", "-q"} << 0 << "";
        QTest::newRow("quiet export of a cell that is no code") << QStringList{"export", "notcode.dat", "-q"} << 0 << "";
        QTest::newRow("quiet, one port failed") << QStringList{"clear", "{echo},/dev/velmora-no-such-port", "-q"} << 3
                                                << "/dev/velmora-no-such-port: could not open /dev/velmora-no-such-port: no such device\n";
    }
    void usageErrorsAndQuietRuns()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, err);
        EchoModule echo;
        args.replaceInStrings(QStringLiteral("{echo}"), echo.Path());
        QVERIFY(WriteAll(rig.Path("notcode.dat"), TableFileWith({{{3, 1}, QStringLiteral("not a code")}})));
        QVERIFY(WriteAll(rig.Path("empty.csv"), CsvWith({})));
        const CliRun run = rig.Cli(args);
        QCOMPARE(run.status, status);
        QCOMPARE(run.err, status == 2 ? QStringLiteral("velmora-cli: ") + err : err);
        QVERIFY(run.out.isEmpty() || args.first() == QLatin1String("export"));
    }

    void helpVersionAndThePortList()
    {
        CliRun run = rig.Cli({QStringLiteral("--help")});
        QCOMPARE(run.status, 0);
        for (const char* command : {"ports", "read", "write", "verify", "clear", "set-baud", "learn", "export", "import"})
            QVERIFY2(QString::fromUtf8(run.out).contains(QRegularExpression(QStringLiteral("\n  velmora-cli %1( |\n)").arg(QLatin1String(command)))), command);
        run = rig.Cli({QStringLiteral("write"), QStringLiteral("--help")});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.startsWith("Usage: velmora-cli write    PORTS FILE"));
        QVERIFY(QString::fromUtf8(run.out).contains(QStringLiteral("写入模块")));
        QVERIFY(!run.out.contains("--output") && run.out.contains("--verify"));  // its own options only
        run = rig.Cli({QStringLiteral("export"), QStringLiteral("--help")});
        QVERIFY(run.out.contains("--output") && !run.out.contains("--baud") && !run.out.contains("--json"));
        run = rig.Cli({QStringLiteral("--version")});
        QCOMPARE(run.out, QByteArray("velmora-cli " VELMORA_VERSION "\n"));

        // The ports named in VELMORA_EXTRA_PORTS come last, numbered on.
        run = rig.Cli({QStringLiteral("ports")});
        QCOMPARE(run.status, 0);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QVERIFY(lines.size() >= 2);
        const int n = lines.size();
        QCOMPARE(lines.at(n - 2), QStringLiteral("COM%1\t%2\tVELMORA_EXTRA_PORTS").arg(n - 1).arg(rig.links[0]).toUtf8());
        QCOMPARE(lines.at(n - 1), QStringLiteral("COM%1\t%2\tVELMORA_EXTRA_PORTS").arg(n).arg(rig.links[1]).toUtf8());
    }

    // The bash completion as bash runs it: the words so far, the last one being
    // completed; "{0}" and "{1}" stand for the two modules' links.
    void completionOffersCommandsOptionsPortsAndFiles_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<bool>("only");  // nothing else may be offered
        QTest::newRow("commands") << QStringList{"velmora-cli", ""}
                                  << QStringList{"ports", "read", "write", "verify", "clear", "set-baud", "learn", "export",
                                                 "import", "provision", "--help", "--version"} << true;
        QTest::newRow("a command begun") << QStringList{"velmora-cli", "pro"} << QStringList{"provision"} << true;
        QTest::newRow("options of the station") << QStringList{"velmora-cli", "provision", "t.csv", "--"}
                                                << QStringList{"--help", "--quiet", "--watch-dir", "--count", "--report", "--once", "--baud", "--json"} << true;
        QTest::newRow("options of write") << QStringList{"velmora-cli", "write", "COM1", "t.csv", "--"}
                                          << QStringList{"--help", "--quiet", "--verify", "--once", "--baud", "--json"} << true;
        QTest::newRow("rates after =") << QStringList{"velmora-cli", "read", "COM1", "--baud", "=", "1"} << QStringList{"19200", "115200"} << true;
        QTest::newRow("ports as listed") << QStringList{"velmora-cli", "verify", ""} << QStringList{"COM1", "{0}", "{1}"} << false;
        QTest::newRow("the next of several ports") << QStringList{"velmora-cli", "clear", "{0},"} << QStringList{"{0},{1}"} << false;
        QTest::newRow("file names") << QStringList{"velmora-cli", "write", "COM1", "notc"} << QStringList{"notcode.dat"} << true;
    }
    void completionOffersCommandsOptionsPortsAndFiles()
    {
        QFETCH(QStringList, words);
        QFETCH(QStringList, offered);
        QFETCH(bool, only);
        for (QStringList* list : {&words, &offered}) {
            list->replaceInStrings(QStringLiteral("{0}"), rig.links[0]);
            list->replaceInStrings(QStringLiteral("{1}"), rig.links[1]);
        }
        QVERIFY(WriteAll(rig.Path("notcode.dat"), "x"));
        QProcess bash;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELMORA_EXTRA_PORTS"), rig.links[0] + QLatin1Char(':') + rig.links[1]);
        bash.setProcessEnvironment(env);
        bash.setWorkingDirectory(rig.dir.path());
        bash.start(QStringLiteral("bash"), QStringList{"-c", "source \"$1\"; program=$2; shift 2; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                                                       "_velmora_cli \"$program\"; printf '%s\\n' \"${COMPREPLY[@]}\"",
                                                       "bash", qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/data/completion/velmora-cli",
                                                       CliRig::Program()} + words);
        QVERIFY(bash.waitForFinished(10000));
        QCOMPARE(bash.exitCode(), 0);
        const QStringList got = QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (only) QCOMPARE(got, offered);
        for (const QString& word : offered) QVERIFY2(got.contains(word), qPrintable(got.join(QLatin1Char('|'))));
    }

    // --- files -------------------------------------------------------------------

    void exportAndImportRoundTripEveryShapeOfCode()
    {
        const QMap<Cell, QString> shapes = {
            {{1, 1}, QStringLiteral("a0 b1")},        {{1, 2}, QStringLiteral("A0B1C2")},
            {{30, 1}, QStringLiteral(" ff ")},        {{30, 2}, QStringLiteral("01 02 03 ")},
            {{64, 2}, QStringLiteral("\u30000D0A")},  {{65, 1}, QStringLiteral("deadbeef").repeated(20)},
            {{96, 2}, QStringLiteral("7F ")},
        };
        QVERIFY(WriteAll(rig.Path("shapes.dat"), TableFileWith(shapes)));
        CliRun run = rig.Cli({"export", "shapes.dat", "-o", "shapes.csv"});
        QCOMPARE(run.status, 0);
        const QByteArray csv = ReadAll(rig.Path("shapes.csv"));
        QVERIFY(csv.startsWith("row,title,on,off\n1,"));
        QVERIFY(csv.contains(QStringLiteral("\n1,开关01控制,A0 B1,A0 B1 C2\n").toUtf8()));
        QVERIFY(csv.contains(QStringLiteral("\n30,开关15反馈,FF,01 02 03\n").toUtf8()));
        QVERIFY(csv.contains(QStringLiteral("\n64,开关32反馈,,0D 0A\n").toUtf8()));
        QVERIFY(csv.contains(QStringLiteral("\n96,场景31,,7F\n").toUtf8()));
        QCOMPARE(rig.Cli({"export", "shapes.dat"}).out, csv);  // standard output: the same text

        run = rig.Cli({"import", "shapes.csv", "-o", "imported.dat"});
        QCOMPARE(run.status, 0);
        // The window's fresh table with the codes, in the CSV's form.
        QMap<Cell, QString> canonical;
        for (auto it = shapes.cbegin(); it != shapes.cend(); ++it) QVERIFY(CanonicalCode(it.value(), &canonical[it.key()]));
        QCOMPARE(ReadAll(rig.Path("imported.dat")), TableFileWith(canonical));
        QCOMPARE(rig.Cli({"export", "imported.dat"}).out, csv);
    }

    void aBadCsvIsRefusedWithItsLineAndNothingIsWritten()
    {
        QVERIFY(WriteAll(rig.Path("bad.csv"), "row,title,on,off\n1,,AA,\n2,,ABC,\n"));
        QVERIFY(WriteAll(rig.Path("kept.dat"), "the old file"));
        CliRun run = rig.Cli({"import", "bad.csv", "-o", "kept.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral("bad.csv:3: bad on code: odd number of hex digits; nothing was written")), qPrintable(run.err));
        QCOMPARE(ReadAll(rig.Path("kept.dat")), QByteArray("the old file"));
        run = rig.Cli({"import", "bad.csv", "-o", "new.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY(!QFile::exists(rig.Path("new.dat")));
        QCOMPARE(QDir(rig.dir.path()).entryList({"*.dat.*", ".*.dat*"}, QDir::Files | QDir::Hidden), QStringList());

        // A CSV cut short (a full disk under `read > file`) names the rows it lacks.
        QVERIFY(WriteAll(rig.Path("full.dat"), TableFileWith(CodesIn(AllCells()))));
        const QByteArray whole = rig.Cli({"export", "full.dat"}).out;
        QVERIFY(WriteAll(rig.Path("cut.csv"), whole.left(whole.lastIndexOf('\n', 4096) + 1)));
        for (const QStringList& args : {QStringList{"import", "cut.csv", "-o", "kept.dat"}, QStringList{"write", "/dev/velmora-no-such-port", "cut.csv"}}) {
            run = rig.Cli(args);
            QCOMPARE(run.status, 4);
            QVERIFY2(run.err.contains(QRegularExpression(QStringLiteral("cut.csv: rows \\d+-96 missing"))), qPrintable(run.err));
        }
        QCOMPARE(ReadAll(rig.Path("kept.dat")), QByteArray("the old file"));

        run = rig.Cli({"export", "missing.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY(run.err.contains(QStringLiteral("missing.dat: no such file")));
        // A FIFO in place of a file is refused, not waited on.
        QCOMPARE(::mkfifo(QFile::encodeName(rig.Path("pipe.csv")).constData(), 0600), 0);
        run = rig.Cli({"write", "/dev/velmora-no-such-port", "pipe.csv"});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral("pipe.csv: not a regular file")), qPrintable(run.err));
        QVERIFY(WriteAll(rig.Path("short.dat"), "KTBF"));
        run = rig.Cli({"export", "short.dat"});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(QStringLiteral("short.dat: too short for a table file")), qPrintable(run.err));
    }

    // An output that is the input, or a link another user put in a shared
    // folder, is refused; the input and the link's target stay as they were.
    void outputsThatWouldDestroyOrBeRedirectedAreRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("export onto its input") << QStringList{"export", "in.dat", "-o", "in.dat"} << 2 << "in.dat is the input file itself";
        QTest::newRow("import onto its input") << QStringList{"import", "in.csv", "-o", "in.csv"} << 2 << "in.csv is the input file itself";
        QTest::newRow("import onto a link to its input") << QStringList{"import", "in.csv", "-o", "to-in.csv"} << 2
                                                         << "to-in.csv is the input file itself";
        QTest::newRow("a link another user put in a shared folder") << QStringList{"import", "in.csv", "-o", "shared/planted.dat"} << 4
                                                                    << "is a link that another user (uid 65534) put in the shared folder";
    }
    void outputsThatWouldDestroyOrBeRedirectedAreRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, says);
        QVERIFY(WriteAll(rig.Path("in.dat"), TableFileWith(CodesIn(FewCells()))));
        QVERIFY(WriteAll(rig.Path("in.csv"), rig.Cli({"export", "in.dat"}).out));
        QFile::link(rig.Path("in.csv"), rig.Path("to-in.csv"));
        QVERIFY(WriteAll(rig.Path("victim.dat"), "theirs"));
        if (args.last().startsWith("shared/")) {
            if (::geteuid() != 0) QSKIP("a link of another owner needs root to make");
            QVERIFY(QDir().mkpath(rig.Path("shared")) && QFile::link(rig.Path("victim.dat"), rig.Path("shared/planted.dat")));
            QVERIFY(::chmod(QFile::encodeName(rig.Path("shared")).constData(), 01777) == 0
                    && ::lchown(QFile::encodeName(rig.Path("shared/planted.dat")).constData(), 65534, 65534) == 0);
        }
        const QByteArray table = ReadAll(rig.Path("in.dat")), csv = ReadAll(rig.Path("in.csv"));
        const CliRun run = rig.Cli(args);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(says), qPrintable(run.err));
        QCOMPARE(ReadAll(rig.Path("in.dat")), table);
        QCOMPARE(ReadAll(rig.Path("in.csv")), csv);
        QCOMPARE(ReadAll(rig.Path("victim.dat")), QByteArray("theirs"));
    }

    // Same-file aliases: however the output names the input, even as
    // standard output open on it, nothing is written (exit 2).
    void anOutputIsNeverItsInputUnderAnyName_data()
    {
        QTest::addColumn<QString>("alias");
        for (const char* alias : {"hard link", "link", "/proc/self/fd", "long name", "standard output"}) QTest::newRow(alias) << alias;
    }
    void anOutputIsNeverItsInputUnderAnyName()
    {
        QFETCH(QString, alias);
        const QByteArray table = TableFileWith(CodesIn(FewCells()));
        const QString input = rig.Path("T.dat");
        QVERIFY(WriteAll(input, table));
        QStringList args = {"export", "T.dat", "-o", rig.Path("alias.dat")};
        QFile::remove(args.last());
        if (alias == "hard link") QCOMPARE(::link(QFile::encodeName(input).constData(), QFile::encodeName(args.last()).constData()), 0);
        if (alias == "link") QVERIFY(QFile::link(input, args.last()));
        if (alias == "/proc/self/fd") args.last() = "/proc/self/fd/0";  // standard input is the input
        if (alias == "standard output") args = QStringList{"export", "T.dat"};
        const auto setUp = [&](QProcess& p) {
            if (alias == "/proc/self/fd") p.setStandardInputFile(input);
            if (alias == "standard output") p.setStandardOutputFile(input, QIODevice::Append);
        };
        CliRun run;
        if (alias == "long name") {
            // Folders whose path is over 4096 characters, reached piece by piece; the input's bytes are checked there.
            QProcess sh;
            sh.start("bash", {"-c", "cd \"$2\"; d=$(printf 'd%.0s' {1..200}); for i in {1..22}; do mkdir $d && cd $d || exit 9; done; cp \"$0\" T.dat; "
                                    "\"$1\" export T.dat -o \"$PWD/T.dat\"; s=$?; cmp -s T.dat \"$0\" || s=99; cd \"$2\" && rm -rf $d; exit $s",
                              input, CliRig::Program(), rig.dir.path()});
            run = {sh.waitForFinished(60000) ? sh.exitCode() : -1, {}, QString::fromUtf8(sh.readAllStandardError())};
        } else {
            run = rig.Cli(args, {}, setUp);
        }
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("is the input file") && run.err.contains("itself; nothing was written"), qPrintable(run.err));
        QCOMPARE(ReadAll(input), table);
    }

    // -o replaces an output; with --backup its previous content is kept first.
    void backupKeepsWhatTheOutputHeld()
    {
        QVERIFY(WriteAll(rig.Path("few.dat"), TableFileWith(CodesIn(FewCells()))));
        for (const QString backup : {"", "--backup"}) {
            QVERIFY(WriteAll(rig.Path("out.csv"), "before"));
            QCOMPARE(rig.Cli(QStringList{"export", "few.dat", "-o", "out.csv"} + QStringList(backup).filter("-")).status, 0);
            QCOMPARE(ReadAll(rig.Path("out.csv.bak")), backup.isEmpty() ? QByteArray() : QByteArray("before"));
            QCOMPARE(ReadAll(rig.Path("out.csv")), rig.Cli({"export", "few.dat"}).out);
        }
        QCOMPARE(rig.Cli({"export", "few.dat", "--backup"}).status, 2);
    }

    // A name is bytes: one that is not UTF-8 is used as given and shown
    // escaped, as are control characters a message quotes; a CR alone ends a line.
    void namesAreUsedAsGivenAndMessagesEscaped()
    {
        QVERIFY(WriteAll(rig.Path("few.dat"), TableFileWith(CodesIn(FewCells()))));
        QByteArray csv = rig.Cli({"export", "few.dat"}).out;
        csv.replace('\n', '\r');
        QVERIFY(WriteAll(rig.Path("mac.csv"), csv));
        const auto run = [this](const QString& command) {
            QProcess sh;
            sh.setWorkingDirectory(rig.dir.path());
            sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command, CliRig::Program()});
            sh.waitForFinished(30000);
            return QPair<int, QString>(sh.exitCode(), QString::fromUtf8(sh.readAllStandardError()));
        };
        QCOMPARE(run(QStringLiteral("exec \"$0\" import mac.csv -o \"$(printf 'out\\376.dat')\"")).first, 0);
        QCOMPARE(run(QStringLiteral("exec \"$0\" export \"$(printf 'out\\376.dat')\" > back.csv")).first, 0);
        QCOMPARE(ReadAll(rig.Path("back.csv")), rig.Cli({"export", "few.dat"}).out);
        QCOMPARE(run(QStringLiteral("exec \"$0\" export \"$(printf 'no\\377.dat')\"")), qMakePair(4, QStringLiteral("velmora-cli: no\\xff.dat: no such file\n")));
        QVERIFY(WriteAll(rig.Path("nul.csv"), QByteArray("row,title,on,off\n1,,A\0A,\n", 27)));
        const CliRun nul = rig.Cli({"import", "nul.csv", "-o", "nul.dat"});
        QCOMPARE(nul.status, 4);
        QVERIFY2(nul.err.contains(QStringLiteral("'\\x00' is not a hex digit")), qPrintable(nul.err));
    }

    // Every output is checked to its end, and what is not a plain file is
    // written into (a FIFO, a character device) or refused, never replaced.
    void outputsAreCheckedAndSpecialFilesStayWhatTheyAre_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("standard output on a full device") << "stdout-full" << "export" << 4 << "standard output: No space left on device";
        QTest::newRow("standard output closed") << "stdout-closed" << "export" << 4 << "standard output: it is closed";
        QTest::newRow("a full device") << "full" << "export" << 4 << "full: cannot write: No space left on device";
        QTest::newRow("a null device") << "null" << "import" << 0 << "";
        QTest::newRow("a FIFO with a reader, CSV") << "fifo" << "export" << 0 << "";
        QTest::newRow("a FIFO with a reader, table file") << "fifo" << "import" << 0 << "";
        QTest::newRow("a FIFO nobody reads") << "fifo-unread" << "export" << 4 << "fifo-unread: cannot write: a FIFO that nobody reads";
        QTest::newRow("a block device") << "block" << "import" << 4 << "block: cannot write: it is neither a regular file";
        QTest::newRow("a folder") << "folder" << "export" << 4 << "folder: cannot write: it is a folder";
    }
    void outputsAreCheckedAndSpecialFilesStayWhatTheyAre()
    {
        QFETCH(QString, target);
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(QString, says);
        QTemporaryDir here(rig.Path("out-XXXXXX"));
        const QString path = here.filePath(target);
        QVERIFY(WriteAll(rig.Path("few.dat"), TableFileWith(CodesIn(FewCells()))));
        QVERIFY(WriteAll(rig.Path("few.csv"), rig.Cli({"export", "few.dat"}).out));
        const QStringList args = command == "export" ? QStringList{"export", "few.dat"} : QStringList{"import", "few.csv"};
        const QString expectedFile = rig.Path(command == "export" ? "few.csv" : "expected.dat");
        if (command == "import") QCOMPARE(rig.Cli(args + QStringList{"-o", expectedFile}).status, 0);

        const char kind = target.startsWith("fifo") ? 'p' : target == "block" ? 'b' : target == "folder" ? 'd' : 'c';
        if (kind == 'p') QVERIFY(MakeFifo(path));
        if (kind == 'd') QVERIFY(QDir().mkpath(path));
        const unsigned minor = target == "null" ? kNullDevice : kFullDevice;
        if ((kind == 'c' || kind == 'b') && !MakeDevice(path, kind, kind == 'b' ? 7 : kMemoryDevices, minor))
            QSKIP("no device nodes can be made here (mknod needs root and a mount that allows devices)");

        std::unique_ptr<FifoReader> reader;
        if (target == "fifo") reader = std::make_unique<FifoReader>(path);
        const bool toStandardOutput = target.startsWith("stdout");
        const CliRun run = rig.Cli(toStandardOutput ? args : args + QStringList{"-o", path}, {}, [&](QProcess& p) {
            if (target == "stdout-full") p.setStandardOutputFile(path);
            if (target == "stdout-closed") p.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
        });
        QCOMPARE(run.status, status);
        if (says.isEmpty()) QCOMPARE(run.err, QString());
        else QVERIFY2(run.err.startsWith(QStringLiteral("velmora-cli: ")) && run.err.contains(says), qPrintable(run.err));
        if (reader) QCOMPARE(reader->Received(), ReadAll(expectedFile));
        QCOMPARE(KindOf(path), kind);
        QCOMPARE(QDir(here.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{target});
    }
};

QTEST_MAIN(CliTest)
#include "test_cli.moc"
