#include <QtTest>

#include "core/Program.h"
#include "config/ConfigTable.h"
#include "protocol/ModuleOperations.h"
#include "protocol/ReceiveTick.h"
#include "serial/PortConnection.h"
#include "tests/support/OpenPortRig.h"

namespace {

QByteArray Bytes(const char* hex) { return QByteArray::fromHex(hex); }

const char* const kEnterEcho = "FD66666666AAAAAABF";
const char* const kExitEcho = "FD66666666AAAABBBF";
const char* const kDumpStart = "FD66666666AAABDDBF";
const char* const kDumpEnd = "FD66666666AAABDEBF";

// A program with an open port on the recording fakes and a laid-out table,
// its module buttons greyed as while a read waits for the dump.
struct Rig : OpenPortRig {
    Rig() { DisableModuleButtons(p); }

    // One tick of the receive timer, 10 ms after the last.
    void Tick()
    {
        ui.clock += 10;
        ReceiveTick(p);
    }
    // Ticks until the line has been quiet long enough for what is held to be judged.
    void Quiet()
    {
        for (int waited = 0; waited <= kQuietMs; waited += 10) Tick();
    }
    // Each piece becomes readable at its own tick; then the line goes quiet.
    void Arrive(const QList<QByteArray>& pieces)
    {
        for (const QByteArray& piece : pieces) port.incoming.push_back(piece);
        while (!port.incoming.empty()) Tick();
        Quiet();
    }
    void Arrive(const QByteArray& whole) { Arrive(QList<QByteArray>{whole}); }

    void StartDump() { Arrive(Bytes(kDumpStart)); }
    QString Log() const { return ui.Log(); }
    bool ButtonsEnabled() const
    {
        for (Control c : kModuleButtons)
            if (ui.IsDisabled(c)) return false;
        return true;
    }
};

}  // namespace

class ReceiveTickTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recognisesTheFourAnswersOnlyWhenExact()
    {
        Rig r;
        r.Arrive(Bytes(kEnterEcho));
        r.Arrive(Bytes(kExitEcho));
        QCOMPARE(r.Log(), QStringLiteral("模块进入配置模式\r\n模块退出配置模式\r\n"));
        QCOMPARE(r.ui.caretMoves, 0);

        r.Arrive(Bytes(kEnterEcho) + Bytes("00"));
        QCOMPARE(r.Log(), QStringLiteral("模块进入配置模式\r\n模块退出配置模式\r\n"
                                         "FD 66 66 66 66 AA AA AA BF 00 \r\n"));
        QCOMPARE(r.ui.caretMoves, 1);

        r.StartDump();
        QVERIFY(r.Log().endsWith(QStringLiteral("开始从模块提取数据\r\n")));
        QVERIFY(r.p.state.extracting);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 1);
        QVERIFY(!r.ButtonsEnabled());

        r.Arrive(Bytes(kDumpEnd));
        QVERIFY(r.Log().endsWith(QStringLiteral("数据提取完成\r\n")));
        QVERIFY(!r.p.state.extracting);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(r.ButtonsEnabled());
    }

    void dumpEndWithoutStartStillEnablesButtons()
    {
        Rig r;
        r.ui.SetPosition(Control::ProgressBar1, 40);
        r.Arrive(Bytes(kDumpEnd));
        QCOMPARE(r.Log(), QStringLiteral("数据提取完成\r\n"));
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(r.ButtonsEnabled());
    }

    void dumpEndDuringAnOperationLeavesTheButtonsToIt()
    {
        Rig r;
        r.p.state.operationRunning = true;
        r.StartDump();
        r.Arrive(Bytes(kDumpEnd));
        QVERIFY(!r.p.state.extracting);
        QVERIFY(r.Log().endsWith(QStringLiteral("数据提取完成\r\n")));
        for (Control c : kModuleButtons) QVERIFY(r.ui.IsDisabled(c));
    }

    void recordsFillTheirCellAndMoveTheBar_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("position");
        QTest::newRow("switch 2 control off") << Bytes("F4F70302112233") << 3 << 2 << "11 22 33 " << 2;
        QTest::newRow("switch 2 feedback on") << Bytes("F4F70401AA") << 4 << 1 << "AA " << 34;
        QTest::newRow("scene 0 off") << Bytes("F4F741020A0B") << 0x41 << 2 << "0A 0B " << 65;
        QTest::newRow("scene 31 on") << Bytes("F4F760015C") << 0x60 << 1 << "5C " << 96;
        QTest::newRow("switch 32 feedback") << Bytes("F4F7400200") << 64 << 2 << "00 " << 64;
    }
    void recordsFillTheirCellAndMoveTheBar()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(int, position);
        Rig r;
        r.StartDump();
        r.Arrive(record);
        QCOMPARE(r.table.GetCellText(row, column), text);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), position);
        QCOMPARE(r.Log(), QStringLiteral("开始从模块提取数据\r\n"));
    }

    void recordsThatCannotBeStoredAreLoggedAndChangeNothing_data()
    {
        QTest::addColumn<bool>("dumping");
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("four bytes only") << true << Bytes("F4F70302");
        QTest::newRow("no read running") << false << Bytes("F4F70302112233");
        QTest::newRow("header row") << true << Bytes("F4F7000111");
        QTest::newRow("title column") << true << Bytes("F4F7030011");
        QTest::newRow("row past the table") << true << Bytes("F4F7610111");
        QTest::newRow("column past the table") << true << Bytes("F4F7030311");
    }
    void recordsThatCannotBeStoredAreLoggedAndChangeNothing()
    {
        QFETCH(bool, dumping);
        QFETCH(QByteArray, record);
        Rig r;
        if (dumping) r.StartDump();
        const int bar = r.ui.GetPosition(Control::ProgressBar1);
        r.Arrive(record);
        QVERIFY(r.Log().endsWith(BytesToHexLine(record)));
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), bar);
        QCOMPARE(r.table.GetCellText(0, 1), QStringLiteral("开"));
        QCOMPARE(r.table.GetCellText(3, 0), QStringLiteral("开关02控制"));
        for (int row = 1; row <= 96; ++row)
            for (int column = 1; column <= 2; ++column) QVERIFY(r.table.GetCellText(row, column).isEmpty());
    }

    void unfinishedDumpKeepsFillingCellsLater()
    {
        Rig r;
        r.StartDump();
        r.Arrive(Bytes("F4F7010111"));
        r.Arrive(Bytes("F4F7020122"));  // much later, no dump end ever came
        QCOMPARE(r.table.GetCellText(2, 1), QStringLiteral("22 "));
        QVERIFY(r.p.state.extracting);
    }

    void nothingIsReadOrLoggedOnceThePortIsClosed()
    {
        Rig r;
        r.port.incoming.push_back(Bytes("F4F7"));
        r.Tick();  // half an answer held
        r.p.state.portOpen = false;
        r.port.incoming.push_back(Bytes(kEnterEcho));
        const QStringList callsBefore = r.port.calls;
        for (int i = 0; i < 5; ++i) r.Tick();
        QCOMPARE(r.port.calls, callsBefore);
        QVERIFY(r.p.state.heldAnswer.isEmpty());
        QCOMPARE(r.Log(), QString());

        // Reopened: the half answer from before is gone, not glued to the next one.
        r.port.incoming.clear();
        r.p.state.portOpen = true;
        r.Arrive(Bytes(kExitEcho));
        QCOMPARE(r.Log(), QStringLiteral("模块退出配置模式\r\n"));
    }

    void answerIsJudgedOnlyOnceTheLineGoesQuiet()
    {
        Rig r;
        r.port.incoming.push_back(Bytes("FD6666"));
        r.port.incoming.push_back(Bytes("6666AA"));
        r.Tick();
        r.Tick();
        QCOMPARE(r.Log(), QString());
        QCOMPARE(r.p.state.heldAnswer, Bytes("FD66666666AA"));

        // Not yet quiet for long enough: the rest of the frame still belongs to it.
        r.ui.clock += kQuietMs - 11;
        ReceiveTick(r.p);
        QCOMPARE(r.Log(), QString());
        r.port.incoming.push_back(Bytes("AAAABF"));
        r.Tick();
        r.ui.clock += kQuietMs - 1;
        ReceiveTick(r.p);
        QCOMPARE(r.Log(), QString());
        r.ui.clock += 1;
        ReceiveTick(r.p);
        QCOMPARE(r.Log(), QStringLiteral("模块进入配置模式\r\n"));
        QVERIFY(r.p.state.heldAnswer.isEmpty());
    }

    // The quiet time is measured between the arrivals of bytes, not between
    // the ticks that happened to take them.
    void quietIsMeasuredBetweenArrivals()
    {
        // Two echoes 40 ms apart, taken by one late tick: two answers.
        Rig r;
        r.port.ArriveAt(r.ui.clock + 5, Bytes(kEnterEcho));
        r.port.ArriveAt(r.ui.clock + 45, Bytes(kExitEcho));
        r.ui.clock += 60;
        ReceiveTick(r.p);
        r.Quiet();
        QCOMPARE(r.Log(), QStringLiteral("模块进入配置模式\r\n模块退出配置模式\r\n"));

        // An echo handed over by a USB adapter in two pieces 16 ms apart,
        // taken by ticks that came late and early: one answer.
        Rig s;
        const QByteArray echo = Bytes(kEnterEcho);
        s.port.ArriveAt(s.ui.clock + 2, echo.left(4));
        s.port.ArriveAt(s.ui.clock + 18, echo.mid(4));
        s.ui.clock += 17;
        ReceiveTick(s.p);
        s.ui.clock += 25;
        ReceiveTick(s.p);
        s.Quiet();
        QCOMPARE(s.Log(), QStringLiteral("模块进入配置模式\r\n"));
    }

    void recordSpreadOverTicksArrivesWhole_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        const QByteArray record = Bytes("F4F70501A1A2A3A4A5A6A7A8A9AA");
        QTest::newRow("two") << QList<QByteArray>{record.left(6), record.mid(6)};
        QTest::newRow("three, marker cut") << QList<QByteArray>{record.left(1), record.mid(1, 4), record.mid(5)};
        QList<QByteArray> single;
        for (char b : record) single << QByteArray(1, b);
        QTest::newRow("one byte a tick") << single;
    }
    void recordSpreadOverTicksArrivesWhole()
    {
        QFETCH(QList<QByteArray>, pieces);
        Rig r;
        r.StartDump();
        r.Arrive(pieces);
        QCOMPARE(r.table.GetCellText(5, 1), QStringLiteral("A1 A2 A3 A4 A5 A6 A7 A8 A9 AA "));
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 3);
        QCOMPARE(r.Log(), QStringLiteral("开始从模块提取数据\r\n"));
    }

    void answersRunTogetherOutsideADumpAreJudgedAsOneChunk()
    {
        Rig r;
        r.Arrive(Bytes(kEnterEcho) + Bytes(kExitEcho));
        QCOMPARE(r.Log(), QStringLiteral("FD 66 66 66 66 AA AA AA BF FD 66 66 66 66 AA AA BB BF \r\n"));
        r.Arrive(Bytes("F4F7010111") + Bytes("F4F7010222"));
        QVERIFY(r.Log().endsWith(QStringLiteral("F4 F7 01 01 11 F4 F7 01 02 22 \r\n")));
    }

    // A module looping over its memory sends its records with no quiet at all.
    void recordsRunTogetherInADumpLandEachInTheirCell()
    {
        Rig r;
        r.StartDump();
        r.Arrive(Bytes("F4F7010111") + Bytes("F4F7010222") + Bytes("F4F7410233F4F7") + Bytes("F4F7600144"));
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("11 "));
        QCOMPARE(r.table.GetCellText(1, 2), QStringLiteral("22 "));
        // F4 F7 followed by no value cell's address is part of the code.
        QCOMPARE(r.table.GetCellText(0x41, 2), QStringLiteral("33 F4 F7 "));
        QCOMPARE(r.table.GetCellText(0x60, 1), QStringLiteral("44 "));
        QCOMPARE(r.ui.positionHistory, (QVector<int>{1, 1, 1, 65, 96}));
        QCOMPARE(r.Log(), QStringLiteral("开始从模块提取数据\r\n"));

        // Addresses of no value cell (row 0, row 97, column 0, column 3) do not cut a code.
        Rig s;
        s.StartDump();
        s.Arrive(Bytes("F4F70101") + Bytes("F4F70001F4F76101F4F70100F4F70103"));
        QCOMPARE(s.table.GetCellText(1, 1), QStringLiteral("F4 F7 00 01 F4 F7 61 01 F4 F7 01 00 F4 F7 01 03 "));

        // The price: a code holding a value cell's address is cut there.
        Rig t;
        t.StartDump();
        t.Arrive(Bytes("F4F70101AAF4F70202BB"));
        QCOMPARE(t.table.GetCellText(1, 1), QStringLiteral("AA "));
        QCOMPARE(t.table.GetCellText(2, 2), QStringLiteral("BB "));
    }

    void recordsInSeparateReadsDuringADumpStaySeparate()
    {
        // Records read by consecutive ticks with no quiet tick between them.
        Rig r;
        r.port.incoming.push_back(Bytes(kDumpStart));
        r.port.incoming.push_back(Bytes("F4F7010111"));
        r.port.incoming.push_back(Bytes("F4F7010222"));
        r.port.incoming.push_back(Bytes("F4F70201") + Bytes("33"));
        r.port.incoming.push_back(Bytes(kDumpEnd));
        r.Arrive(QList<QByteArray>{});
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("11 "));
        QCOMPARE(r.table.GetCellText(1, 2), QStringLiteral("22 "));
        QCOMPARE(r.table.GetCellText(2, 1), QStringLiteral("33 "));
        QCOMPARE(r.Log(), QStringLiteral("开始从模块提取数据\r\n数据提取完成\r\n"));
        QVERIFY(r.ButtonsEnabled());

        // A record's continuation is held with it even when the dump runs on.
        Rig s;
        s.StartDump();
        s.port.incoming.push_back(Bytes("F4F70301AA"));
        s.port.incoming.push_back(Bytes("BBCC"));
        s.port.incoming.push_back(Bytes("F4F70302DD"));
        s.Arrive(QList<QByteArray>{});
        QCOMPARE(s.table.GetCellText(3, 1), QStringLiteral("AA BB CC "));
        QCOMPARE(s.table.GetCellText(3, 2), QStringLiteral("DD "));

        // Outside a dump nothing is split at read boundaries but a whole frame.
        Rig t;
        t.port.incoming.push_back(Bytes("F4F70301AA"));
        t.port.incoming.push_back(Bytes("F4F70302DD"));
        t.Arrive(QList<QByteArray>{});
        QCOMPARE(t.Log(), QStringLiteral("F4 F7 03 01 AA F4 F7 03 02 DD \r\n"));
    }

    void dumpEdgesRunOnToRecordsAreSplitOff()
    {
        // Last record with the dump end straight behind it: the dump ends at
        // once, without waiting for the line to go quiet.
        Rig r;
        r.StartDump();
        r.port.incoming.push_back(Bytes("F4F7600133") + Bytes(kDumpEnd));
        r.Tick();
        QCOMPARE(r.table.GetCellText(0x60, 1), QStringLiteral("33 "));
        QVERIFY(r.Log().endsWith(QStringLiteral("开始从模块提取数据\r\n数据提取完成\r\n")));
        QVERIFY(!r.p.state.extracting);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(r.ButtonsEnabled());
        QCOMPARE(r.ui.positionHistory.mid(r.ui.positionHistory.size() - 2), (QVector<int>{96, 0}));

        // A whole dump in one breath: start, records, end.
        Rig all;
        all.Arrive(Bytes(kDumpStart) + Bytes("F4F70101AA") + Bytes("F4F70201BB") + Bytes(kDumpEnd));
        QCOMPARE(all.Log(), QStringLiteral("开始从模块提取数据\r\n数据提取完成\r\n"));
        QCOMPARE(all.table.GetCellText(1, 1), QStringLiteral("AA "));
        QCOMPARE(all.table.GetCellText(2, 1), QStringLiteral("BB "));
        QVERIFY(all.ButtonsEnabled());
    }

    void dumpEdgesAreNotSplitOffOtherAnswers()
    {
        // Outside a dump, a dump end behind other bytes stays part of them.
        Rig r;
        r.Arrive(Bytes("F4F7600133") + Bytes(kDumpEnd));
        QCOMPARE(r.Log(), QStringLiteral("F4 F7 60 01 33 FD 66 66 66 66 AA AB DE BF \r\n"));
        QVERIFY(!r.ButtonsEnabled());

        // A dump start followed by something that is no record stays one chunk.
        Rig s;
        s.Arrive(Bytes(kDumpStart) + Bytes("00"));
        QCOMPARE(s.Log(), QStringLiteral("FD 66 66 66 66 AA AB DD BF 00 \r\n"));
        QVERIFY(!s.p.state.extracting);
    }

    void noiseIsLoggedInLinesOfBoundedLength()
    {
        Rig r;
        QByteArray noise;
        for (int i = 0; i < 10000; ++i) noise += char(0x30 + i % 64);
        r.port.ArriveAt(r.ui.clock + 1, noise);
        r.Quiet();
        QStringList lines = r.Log().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines.size(), 3);
        for (const QString& line : lines) QVERIFY(line.size() <= 3 * kMaxHeldOutsideDump);
        QCOMPARE(QByteArray::fromHex(lines.join(QString()).toLatin1()), noise);
        QVERIFY(r.p.state.heldAnswer.isEmpty());
    }

    // The device goes away in the middle of a read: the record that had
    // arrived still lands, the port closes as the port button would.
    void deviceGoneClosesThePortAndKeepsWhatCame()
    {
        Rig r;
        EnableModuleButtons(r.p);
        ReadModule(r.p);
        QVERIFY(r.p.state.readEnd == ReadEnd::Running);
        r.StartDump();
        r.Arrive(Bytes("F4F7010111"));
        r.port.ArriveAt(r.ui.clock + 1, Bytes("F4F7010222"));
        r.port.deviceGone = true;
        const int writes = int(r.port.writes.size());
        r.Tick();  // the last bytes
        r.Tick();  // then the loss
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("11 "));
        QCOMPARE(r.table.GetCellText(1, 2), QStringLiteral("22 "));
        QVERIFY(r.Log().endsWith(QStringLiteral("端口已断开: COM3\r\n端口已关闭\r\n")));
        QVERIFY(!r.p.state.portOpen);
        QVERIFY(r.p.state.readEnd == ReadEnd::PortLost);
        QCOMPARE(r.port.calls.last(), QStringLiteral("sio_close(3)"));

        const QString log = r.Log();
        for (int i = 0; i < 5; ++i) r.Tick();
        QCOMPARE(r.Log(), log);
        QCOMPARE(int(r.port.writes.size()), writes);
    }

    void silentModuleEndsTheReadWithinFourSeconds()
    {
        Rig r;
        EnableModuleButtons(r.p);
        ReadModule(r.p);
        const quint32 requestAt = r.port.writes.last().at;
        QCOMPARE(FakeSerialProvider::Spaced(r.port.writes.last().bytes), QStringLiteral("FD 66 66 66 66 AA AB DD BF"));
        while (!r.Log().contains(QStringLiteral("模块无应答")) && r.ui.clock - requestAt < 5000) r.Tick();
        QVERIFY(r.Log().endsWith(QStringLiteral("已发送读取指令\r\n模块无应答\r\n")));
        QVERIFY(r.ui.clock - requestAt >= quint32(kNoAnswerMs));
        QVERIFY(r.ui.clock - requestAt < 4000);
        QVERIFY(r.p.state.readEnd == ReadEnd::NoAnswer);
        QVERIFY(r.ButtonsEnabled());
        QVERIFY(r.p.state.portOpen);
        r.Tick();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kIdleTickMs);
    }

    void dumpThatStallsEndsKeepingItsCodes()
    {
        Rig r;
        EnableModuleButtons(r.p);
        ReadModule(r.p);
        // The dump keeps the read alive as long as it moves on.
        quint32 lastAnswer = 0;
        for (int i = 0; i < 20; ++i) {
            r.ui.clock += 400;
            lastAnswer = r.ui.clock;
            r.Arrive(i == 0 ? Bytes(kDumpStart) : Bytes("F4F7") + char(i) + char(1) + char(i));
        }
        QVERIFY(r.p.state.readEnd == ReadEnd::Running);
        while (r.p.state.readEnd == ReadEnd::Running && r.ui.clock - lastAnswer < 5000) r.Tick();
        QVERIFY(r.ui.clock - lastAnswer >= quint32(kNoAnswerMs) && r.ui.clock - lastAnswer < 4000);
        QVERIFY(r.Log().endsWith(QStringLiteral("开始从模块提取数据\r\n模块无应答\r\n")));
        QVERIFY(r.p.state.readEnd == ReadEnd::NoAnswer);
        QVERIFY(!r.p.state.extracting);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(r.ButtonsEnabled());
        QCOMPARE(r.table.GetCellText(19, 1), QStringLiteral("13 "));
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("01 "));

        // A late record outside the ended read is only shown.
        r.Arrive(Bytes("F4F7140114"));
        QCOMPARE(r.table.GetCellText(20, 1), QString());
    }

    void timerRestsWhileNothingIsUnderWay()
    {
        Rig r;
        r.Tick();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kIdleTickMs);
        r.port.incoming.push_back(Bytes("FD66"));
        r.Tick();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kReceiveTickMs);
        r.Quiet();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kIdleTickMs);
        r.p.state.readEnd = ReadEnd::Running;
        r.p.state.readAliveAt = r.ui.clock;
        r.Tick();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kReceiveTickMs);
    }

private:
    static QString BytesToHexLine(const QByteArray& bytes)
    {
        return FakeSerialProvider::Spaced(bytes) + QStringLiteral(" \r\n");
    }
};

QTEST_GUILESS_MAIN(ReceiveTickTest)
#include "test_receive.moc"
