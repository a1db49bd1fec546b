#include <QtTest>

#include "AnswerPlan.h"
#include "FrameReader.h"
#include "ModuleMemory.h"
#include "ModuleSim.h"
#include "SimOptions.h"
#include "tests/support/RawPty.h"

namespace {

QList<QByteArray> FromHex(const QStringList& texts)
{
    QList<QByteArray> bytes;
    for (const QString& t : texts) bytes << QByteArray::fromHex(t.toLatin1());
    return bytes;
}

SimOptions Manners(const QStringList& args)
{
    QCommandLineParser parser;
    AddSimOptions(parser);
    SimOptions options;
    QString error;
    if (!parser.parse(QStringList{QStringLiteral("velmora-sim")} + args) || !ReadSimOptions(parser, &options, &error))
        qWarning() << "bad manners" << args << parser.errorText() << error;
    return options;
}

// Three codes of 3, 1 and 2 bytes, dumped in this order.
const QList<StoredCode> kCodes{{1, 1, QByteArray::fromHex("112233")},
                               {2, 1, QByteArray::fromHex("44")},
                               {65, 2, QByteArray::fromHex("5566")}};
const QByteArray kEnter = QByteArray::fromHex("FD66666666AAAAAABF");
const QByteArray kStart = QByteArray::fromHex("FD66666666AAABDDBF");
const QByteArray kEnd = QByteArray::fromHex("FD66666666AAABDEBF");
const QByteArray kRecords = QByteArray::fromHex("F4F70101112233" "F4F7020144" "F4F741025566");

// Pieces as "quiet:bytes#note": whole answers by name, the dump's own bytes
// in hex, anything else (noise) as ~ and its length.
QString Layout(const QList<SimLine::Piece>& pieces, QList<QByteArray>* noise = nullptr)
{
    const QByteArray clean = kStart + kRecords + kEnd;
    qsizetype at = 0;
    QStringList out;
    for (const SimLine::Piece& p : pieces) {
        QString bytes;
        if (p.hangUp) bytes = QStringLiteral("hang-up");
        else if (p.bytes == kEnter) bytes = QStringLiteral("enter");
        else if (p.bytes == kStart) bytes = QStringLiteral("start");
        else if (p.bytes == kEnd) bytes = QStringLiteral("end");
        else if (clean.mid(at).startsWith(p.bytes)) bytes = QString::fromLatin1(p.bytes.toHex().toUpper());
        else {
            bytes = QStringLiteral("~%1").arg(p.bytes.size());
            if (noise) *noise << p.bytes;
        }
        if (clean.mid(at).startsWith(p.bytes)) at += p.bytes.size();
        out << QStringLiteral("%1:%2").arg(p.gapBeforeMs).arg(bytes) + (p.note.isEmpty() ? QString() : QLatin1Char('#') + p.note);
    }
    return out.join(QLatin1Char(' '));
}

// The simulator in this process on the far side of a pseudo-terminal (to it,
// a port); the test holds the program's end of the line.
struct SimOnPty {
    explicit SimOnPty(const SimOptions& options) : out(&log), sim(line, memory, options, out)
    {
        QString device, error;
        fd = OpenRawPty(device);
        line.OpenPort(device, &error);
    }
    ~SimOnPty() { ::close(fd); }
    bool Write(const QByteArray& bytes) { return ::write(fd, bytes.constData(), bytes.size()) == bytes.size(); }
    QByteArray Heard()  // everything the module said so far
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) heard.append(buffer, n);
        return heard;
    }
    SimLine line;
    ModuleMemory memory;
    QString log;
    QTextStream out;
    ModuleSim sim;
    QByteArray heard;
    int fd = -1;
};

}  // namespace

// The simulator's own bookkeeping and manners, which the end-to-end tests trust.
class SimulatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void uploadSlotsLandInTheirRows_data()
    {
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("switch 1 control on") << 1 << 1 << 1 << 1;
        QTest::newRow("switch 32 control off") << 1 << 64 << 63 << 2;
        QTest::newRow("scene 0 off") << 2 << 33 << 65 << 2;
        QTest::newRow("scene 31 on") << 2 << 32 << 96 << 1;
        QTest::newRow("switch 1 feedback off") << 3 << 33 << 2 << 2;
        QTest::newRow("switch 32 feedback off") << 3 << 64 << 64 << 2;
        QTest::newRow("slot 0") << 1 << 0 << 0 << 0;
        QTest::newRow("slot 65") << 1 << 65 << 0 << 0;
        QTest::newRow("outside a block") << 0 << 5 << 0 << 0;
    }
    void uploadSlotsLandInTheirRows()
    {
        QFETCH(int, block);
        QFETCH(int, slot);
        QFETCH(int, row);
        QFETCH(int, column);
        const MemoryCell cell = SlotCell(block, slot);
        QCOMPARE(cell.row, row);
        QCOMPARE(cell.column, column);
    }

    void framesAreCutByTheirStructure_data()
    {
        QTest::addColumn<QStringList>("reads");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("rest");  // what the quiet ends
        QTest::newRow("control frames across reads") << QStringList{"FD666666", "66AAAAAABF" "FD66666666AAABA1BF"}
                                                     << QStringList{"FD66666666AAAAAABF", "FD66666666AAABA1BF"} << "";
        QTest::newRow("two records in one read") << QStringList{"F7F423071122334455" "F7F424076677"}
                                                 << QStringList{"F7F423071122334455"} << "F7F424076677";
        QTest::newRow("record and block end") << QStringList{"F7F4401122" "FD66666666AAABB1BF"}
                                              << QStringList{"F7F4401122", "FD66666666AAABB1BF"} << "";
        QTest::newRow("record, learn report, record") << QStringList{"F7F40111" "FD4952AA" "F7F40222"}
                                                      << QStringList{"F7F40111", "FD4952AA"} << "F7F40222";
        QTest::newRow("stray bytes, control frame") << QStringList{"0102" "FD66666666AAAAAABF"}
                                                    << QStringList{"0102", "FD66666666AAAAAABF"} << "";
        QTest::newRow("next record not sure yet") << QStringList{"F7F40111", "F7F402", "22"} << QStringList{"F7F40111"} << "F7F40222";
        QTest::newRow("code like a frame's start") << QStringList{"F7F421FD666666"} << QStringList{} << "F7F421FD666666";
        QTest::newRow("code with F7 F4, slot past 40") << QStringList{"F7F40111F7F44111"} << QStringList{} << "F7F40111F7F44111";
        QTest::newRow("code with a frame but no end byte")
            << QStringList{"F7F40111FD66666666AAABB100"} << QStringList{} << "F7F40111FD66666666AAABB100";
    }
    void framesAreCutByTheirStructure()
    {
        QFETCH(QStringList, reads);
        QFETCH(QStringList, frames);
        QFETCH(QString, rest);
        FrameReader reader;
        QList<QByteArray> got;
        for (const QByteArray& read : FromHex(reads)) got += reader.Feed(read);
        QCOMPARE(got, FromHex(frames));
        QCOMPARE(reader.Flush(), QByteArray::fromHex(rest.toLatin1()));
    }

    void dumpsCarryTheirManners_data()
    {
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<int>("dump");  // 0: the enter echo; n: the n-th dump
        QTest::addColumn<QString>("layout");
        const QString ms40{"--pause-for=40"};
        QTest::newRow("plain") << QStringList{} << 1 << "30:start 30:F4F70101112233 30:F4F7020144 30:F4F741025566 30:end#dump-end";
        QTest::newRow("pause in the marker") << QStringList{"--pause-in=marker", ms40} << 1
            << "30:start 30:F4 40:F70101112233 30:F4 40:F7020144 30:F4 40:F741025566 30:end#dump-end";
        QTest::newRow("3.5 s before the address") << QStringList{"--pause-in=address", "--pause-for=3500"} << 1
            << "30:start 30:F4F7 3500:0101112233 30:F4F7 3500:020144 30:F4F7 3500:41025566 30:end#dump-end";
        QTest::newRow("pause between row and column") << QStringList{"--pause-in=mid-address", ms40} << 1
            << "30:start 30:F4F701 40:01112233 30:F4F702 40:0144 30:F4F741 40:025566 30:end#dump-end";
        QTest::newRow("pause in the code, before a one-byte code") << QStringList{"--pause-in=code", ms40} << 1
            << "30:start 30:F4F7010111 40:2233 30:F4F70201 40:44 30:F4F7410255 40:66 30:end#dump-end";
        QTest::newRow("every second record") << QStringList{"--pause-in=marker,code", "--every=2", ms40} << 1
            << "30:start 30:F4F70101112233 30:F4 40:F70201 40:44 30:F4F741025566 30:end#dump-end";
        QTest::newRow("one record earlier in the next dump") << QStringList{"--pause-in=marker,code", "--every=2", ms40} << 2
            << "30:start 30:F4 40:F7010111 40:2233 30:F4F7020144 30:F4 40:F7410255 40:66 30:end#dump-end";
        QTest::newRow("pause and pieces") << QStringList{"--pause-in=marker", ms40, "--pieces=2", "--stop-after=1"} << 1
            << "30:FD66666666 3:AAABDDBF 30:F4 40:F70101 3:112233#dump-stopped";
        QTest::newRow("noise 10 ms behind records") << QStringList{"--noise-behind=10"} << 1
            << "30:start 30:F4F70101112233 10:~4 30:F4F7020144 10:~4 30:F4F741025566 10:~4 30:end#dump-end";
        QTest::newRow("noise right behind every other") << QStringList{"--noise-behind=0", "--noise-bytes=2", "--every=2"} << 1
            << "30:start 30:F4F70101112233 30:F4F7020144 0:~2 30:F4F741025566 30:end#dump-end";
        QTest::newRow("stops after two records") << QStringList{"--stop-after=2"} << 1
            << "30:start 30:F4F70101112233 30:F4F7020144#dump-stopped";
        QTest::newRow("only the dump end") << QStringList{"--dump-end-only"} << 1 << "30:end#dump-end";
        QTest::newRow("hang-up in the first dump") << QStringList{"--hang-up-after=1"} << 1 << "30:start 30:F4F70101112233 30:hang-up";
        QTest::newRow("echo again 20 ms later") << QStringList{"--echo-again=20"} << 0 << "0:enter 20:enter";
        QTest::newRow("a corrupted marker, every second") << QStringList{"--corrupt-marker", "--every=2"} << 1
            << "30:start 30:F4F70101112233 30:~5 30:~6 30:end#dump-end";
        QTest::newRow("a foreign record behind every second") << QStringList{"--foreign-record", "--every=2"} << 1
            << "30:start 30:F4F70101112233 30:~10 30:~6 30:end#dump-end";
        QTest::newRow("the last record after the dump end") << QStringList{"--late-record=20"} << 1
            << "30:start 30:F4F70101112233 30:F4F7020144 30:end#dump-end 20:F4F741025566";
        QTest::newRow("records to come again") << QStringList{"--repeat-records"} << 1
            << "30:start 30:F4F70101112233 30:F4F7020144 30:F4F741025566#dump-stopped";
    }
    void dumpsCarryTheirManners()
    {
        QFETCH(QStringList, manners);
        QFETCH(int, dump);
        QFETCH(QString, layout);
        AnswerPlan plan(Manners(manners));
        QList<SimLine::Piece> pieces = plan.Echo(kEnter);
        for (int d = 1; d <= dump; ++d) pieces = plan.Dump(kCodes);
        QCOMPARE(Layout(pieces), layout);
    }

    void noiseDiffersFromDumpToDumpUnlessAskedNot_data()
    {
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<bool>("same");
        QTest::newRow("own noise in every dump") << QStringList{"--noise-behind=10", "--noise-bytes=100"} << false;
        QTest::newRow("the same in every dump") << QStringList{"--noise-behind=10", "--noise-bytes=100", "--same-noise"} << true;
    }
    void noiseDiffersFromDumpToDumpUnlessAskedNot()
    {
        QFETCH(QStringList, manners);
        QFETCH(bool, same);
        AnswerPlan plan(Manners(manners));
        QList<QByteArray> first, second;
        Layout(plan.Dump(kCodes), &first);
        Layout(plan.Dump(kCodes), &second);
        QCOMPARE(first.size(), 3);
        QCOMPARE(first == second, same);
        // Noise never begins an answer, nor makes one with the end of a code.
        for (const QByteArray& bytes : first + second)
            for (char b : bytes) QVERIFY(AnswerPlan::IsNoiseByte(quint8(b)));
    }

    void strayBytesGoOnUntilTheNextFrame()
    {
        SimOnPty pty(Manners({"--stop-after=1", "--stray-every=40", "--noise-bytes=3"}));
        for (const StoredCode& c : kCodes) pty.memory.Store({c.row, c.column}, c.code);
        const QByteArray dump = kStart + kRecords.left(7);
        QVERIFY(pty.Write(kStart));
        QTRY_VERIFY(pty.Heard().size() >= dump.size() + 3 * 3);
        QVERIFY(pty.Heard().startsWith(dump));
        for (char b : pty.Heard().mid(dump.size())) QVERIFY(AnswerPlan::IsNoiseByte(quint8(b)));
        QVERIFY(pty.sim.Muttering());

        // Strays sent before the frame came go out ahead of its echo; none after it.
        QVERIFY(pty.Write(kEnter));
        QTRY_VERIFY(pty.Heard().endsWith(kEnter));
        QVERIFY(!pty.sim.Muttering());
    }

    void memoryFileKeepsCodesAndRefusesBadLines()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("memory.txt"));
        ModuleMemory memory;
        QString error;
        QVERIFY(memory.Load(path, &error));  // absent file: empty memory
        QCOMPARE(memory.Count(), 0);
        memory.Store({65, 2}, QByteArray::fromHex("0A0B"));
        memory.Store({1, 1}, QByteArray::fromHex("11"));
        memory.Store({2, 1}, QByteArray::fromHex("22"));
        memory.Store({0, 0}, QByteArray::fromHex("33"));  // no place: ignored
        QVERIFY(memory.Save(&error));

        ModuleMemory again;
        QVERIFY(again.Load(path, &error));
        QCOMPARE(again.Count(), 3);
        // Dumped in the order the progress bar climbs: control, feedback, scenes.
        const QList<StoredCode> order = again.DumpOrder();
        QCOMPARE(order.size(), 3);
        QCOMPARE(order.at(0).row, 1);
        QCOMPARE(order.at(1).row, 2);
        QCOMPARE(order.at(2).row, 65);
        QCOMPARE(order.at(2).code, QByteArray::fromHex("0A0B"));

        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write("97 1 AA\n");
        f.close();
        QVERIFY(!again.Load(path, &error));
        QVERIFY(error.contains(QStringLiteral(":5:")));
    }
};

QTEST_GUILESS_MAIN(SimulatorTest)
#include "test_sim.moc"
