#include <QtTest>

#include "core/Program.h"
#include "config/ConfigTable.h"
#include "protocol/ReceiveTick.h"
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
    // Each piece becomes readable at its own tick; then the line goes quiet.
    void Arrive(const QList<QByteArray>& pieces)
    {
        for (const QByteArray& piece : pieces) port.incoming.push_back(piece);
        while (!port.incoming.empty()) Tick();
        Tick();
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

        // A late tick followed closely by the next: reading nothing 2 ms
        // after the last bytes is no quiet line yet.
        r.ui.clock += 2;
        ReceiveTick(r.p);
        QCOMPARE(r.Log(), QString());
        r.port.incoming.push_back(Bytes("AAAABF"));
        r.Tick();
        QCOMPARE(r.Log(), QString());
        r.Tick();
        QCOMPARE(r.Log(), QStringLiteral("模块进入配置模式\r\n"));
        QVERIFY(r.p.state.heldAnswer.isEmpty());
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

    void answersRunTogetherAreJudgedAsOneChunk()
    {
        Rig r;
        r.Arrive(Bytes(kEnterEcho) + Bytes(kExitEcho));
        QCOMPARE(r.Log(), QStringLiteral("FD 66 66 66 66 AA AA AA BF FD 66 66 66 66 AA AA BB BF \r\n"));

        // Two records with no quiet between them: the second is the first's code.
        r.StartDump();
        r.Arrive(Bytes("F4F7010111") + Bytes("F4F7010222"));
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("11 F4 F7 01 02 22 "));
        QCOMPARE(r.table.GetCellText(1, 2), QString());
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
        // Last record with the dump end straight behind it.
        Rig r;
        r.StartDump();
        r.Arrive(Bytes("F4F7600133") + Bytes(kDumpEnd));
        QCOMPARE(r.table.GetCellText(0x60, 1), QStringLiteral("33 "));
        QVERIFY(r.Log().endsWith(QStringLiteral("开始从模块提取数据\r\n数据提取完成\r\n")));
        QVERIFY(!r.p.state.extracting);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(r.ButtonsEnabled());
        QCOMPARE(r.ui.positionHistory.mid(r.ui.positionHistory.size() - 2), (QVector<int>{96, 0}));

        // A whole dump in one breath: start, records merged into the first, end.
        Rig all;
        all.Arrive(Bytes(kDumpStart) + Bytes("F4F70101AA") + Bytes("F4F70201BB") + Bytes(kDumpEnd));
        QCOMPARE(all.Log(), QStringLiteral("开始从模块提取数据\r\n数据提取完成\r\n"));
        QCOMPARE(all.table.GetCellText(1, 1), QStringLiteral("AA F4 F7 02 01 BB "));
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

private:
    static QString BytesToHexLine(const QByteArray& bytes)
    {
        return FakeSerialProvider::Spaced(bytes) + QStringLiteral(" \r\n");
    }
};

QTEST_GUILESS_MAIN(ReceiveTickTest)
#include "test_receive.moc"
