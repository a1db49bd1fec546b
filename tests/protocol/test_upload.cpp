#include <QSignalSpy>
#include <QtTest>

#include "app/ModuleHandlers.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "protocol/Upload.h"
#include "tests/support/OpenPortRig.h"

// What an upload puts on the line, frame by frame with the pause after each:
// the enter frame, each block's begin frame, its records, its end frame, and
// the exit frame. `records` holds each block's records, in the order sent.
static QStringList UploadSteps(const QList<QStringList>& records = {{}, {}, {}})
{
    QStringList steps{"box 写入数据|确认写入自定义数据", kEnter, "pause 100"};
    for (int b = 1; b <= 3; ++b) {
        steps << QStringLiteral("write FD 66 66 66 66 AA AB A%1 BF").arg(b) << "pause 100";
        for (const QString& record : records.value(b - 1)) steps << "write " + record << "pause 50";
        steps << QStringLiteral("write FD 66 66 66 66 AA AB B%1 BF").arg(b) << "pause 100";
    }
    return steps << kExit << "pause 100";
}

// The cells of `table`, read when the upload comes to them.
static CellText CellsOf(const ConfigTable& table)
{
    return [&table](int row, int column) { return table.GetCellText(row, column); };
}

// How many code records have gone out.
static int RecordsWritten(const FakeSerialProvider& port)
{
    int n = 0;
    for (const QString& w : port.WrittenHex())
        if (w.startsWith(QLatin1String("F7 F4"))) ++n;
    return n;
}

class UploadTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyTableSendsTheEightControlFrames()
    {
        OpenPortRig rig;
        bool lockedDuringPauses = true;
        rig.ui.onDeliver = [&] {
            lockedDuringPauses &= rig.ModuleButtonsDisabled() && rig.ui.IsDisabled(Control::Button_TogglePort);
        };
        WriteModule(rig.p.Modules());
        QVERIFY(SameSteps(rig.Steps().mid(0, UploadSteps().size()), UploadSteps()));  // then how it went
        QVector<int> bar;
        for (int i = 1; i <= 96; ++i) bar << i;
        QCOMPARE(rig.ui.positionHistory, bar << 100 << 0);
        QVERIFY(lockedDuringPauses);
        QVERIFY(!rig.ui.IsDisabled(Control::Button_WriteModule));
        QVERIFY(!rig.ui.IsDisabled(Control::Button_TogglePort));
    }

    void recordsCarryTheirSlotInTheirBlock()
    {
        OpenPortRig rig;
        rig.table.SetCellText(1, 1, QStringLiteral("11 22"));        // 开关01控制, on
        rig.table.SetCellText(65, 2, QStringLiteral("11 22"));       // 场景0, off
        rig.table.SetCellText(64, 2, QStringLiteral("11\u300022"));  // 开关32反馈, off
        rig.table.SetCellText(66, 1, QStringLiteral("a0 b1"));       // 场景1, on
        WriteModule(rig.p.Modules());
        // Block 1 the switches' control rows, block 2 the scenes, block 3 the
        // feedback rows; in each, slot k for "开" and k + 32 for "关".
        const QStringList steps = UploadSteps({{"F7 F4 01 11 22"}, {"F7 F4 21 11 22", "F7 F4 02 A0 B1"}, {"F7 F4 40 11 22"}});
        QVERIFY(SameSteps(rig.Steps().mid(0, steps.size()), steps));
    }

    void aBadCellStopsBeforeTheConfirmation_data()
    {
        QTest::addColumn<QStringList>("cells");  // "row:column:text"
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("odd on 开关02控制") << QStringList{"1:1:11", "3:1:123"}
                                          << QStringList{"十六进制数据长度必须是偶数", "位置在开关02控制"} << 3 << 1;
        QTest::newRow("earlier row wins") << QStringList{"10:1:0G", "9:2:G0"}
                                          << QStringList{"无效的十六进制字符: G", "位置在开关05控制"} << 9 << 2;
        QTest::newRow("column 1 first") << QStringList{"96:2:1", "96:1:0 g"}
                                        << QStringList{"无效的十六进制字符: G", "位置在场景31"} << 96 << 1;
    }
    void aBadCellStopsBeforeTheConfirmation()
    {
        QFETCH(QStringList, cells);
        QFETCH(QStringList, boxes);
        QFETCH(int, row);
        QFETCH(int, column);
        OpenPortRig rig;
        for (const QString& cell : cells) {
            const QStringList f = cell.split(QLatin1Char(':'));
            rig.table.SetCellText(f[0].toInt(), f[1].toInt(), f[2]);
        }
        QSignalSpy current(&rig.table, &ConfigTable::currentCellRequested);
        WriteModule(rig.p.Modules());
        QCOMPARE(rig.ui.BoxTexts(), boxes);
        QCOMPARE(rig.ui.boxes.at(1).caption, QStringLiteral("信息："));
        QCOMPARE(current.size(), 1);
        QCOMPARE(current.at(0), QVariantList({row, column}));
        QVERIFY(rig.port.writes.isEmpty());
        QVERIFY(rig.ui.disabled.isEmpty());
    }

    void cellsAreReadWhenTheirTurnComes()
    {
        OpenPortRig rig;
        rig.table.SetCellText(1, 1, QStringLiteral("11"));
        rig.table.SetCellText(3, 1, QStringLiteral("33"));
        rig.ui.onDeliver = [&] {
            rig.table.SetCellText(1, 1, QStringLiteral("99"));
            rig.table.SetCellText(3, 1, QStringLiteral("3"));  // no longer converts: its box, a zero-length write
        };
        WriteModule(rig.p.Modules());
        const QStringList written = rig.port.WrittenHex();
        QCOMPARE(written.mid(2, 3), QStringList({"F7 F4 01 99", "", "FD 66 66 66 66 AA AB B1 BF"}));
        QCOMPARE(written.size(), 10);  // the upload went on to the exit frame
        QCOMPARE(rig.ui.BoxTexts().last(), QStringLiteral("十六进制数据长度必须是偶数"));
    }

    void closingTheWindowMidUploadStopsTheWrites()
    {
        OpenPortRig rig;
        for (int row = 1; row <= 96; ++row) rig.table.SetCellText(row, 1, QStringLiteral("AB"));
        rig.ui.onDeliver = [&] {
            if (rig.port.writes.size() < 40 || rig.p.state.shuttingDown) return;
            rig.p.state.shuttingDown = true;
            rig.serial.sio_close(rig.p.link.PortNumber());
        };
        WriteModule(rig.p.Modules());
        QCOMPARE(rig.port.writes.size(), 40);
        QCOMPARE(rig.port.calls.last(), QStringLiteral("sio_close(3)"));
        QVERIFY(!rig.ui.positionHistory.contains(100));
        QVERIFY(!rig.p.link.OperationRunning());
        QCOMPARE(rig.ui.consoleLines.join(QString()),
                 "velmora: the window was closed while it wrote the module: 36 of 96 codes sent, the write is incomplete");
    }

    // 写入模块 ends with one line saying how it went, by what the module
    // answered; stray bytes with none of its answers beside them bring one
    // line on what to check, however many come.
    void anUploadSaysHowItWent_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("tail");
        QTest::newRow("a late exit echo, stray bytes") << QStringList{"enter", "stray", "late exit"}
                                                       << QStringLiteral("模块退出配置模式\r\n写入完成，共发送 1 个代码\r\n按 F7 与模块比较\r\n");
        QTest::newRow("no exit echo") << QStringList{"enter"} << QStringLiteral("已发送 1 个代码，但未收到模块退出配置模式的应答\r\n");
        QTest::newRow("no echo, stray bytes") << QStringList{"stray"} << QStringLiteral("01 02 \r\n已发送 1 个代码，模块无应答（线路上没有模块？）"
                                                                         "\r\n请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电\r\n");
    }
    void anUploadSaysHowItWent()
    {
        QFETCH(QStringList, answers);
        QFETCH(QString, tail);
        OpenPortRig rig;
        rig.table.SetCellText(96, 2, QStringLiteral("22"));
        // What the module sends back, 1 or 300 ms after the frame that starts so; ticks in every pause.
        const std::tuple<QString, QByteArray, int, QByteArray> kinds[] = {
            {"enter", "fd66666666aaaaaabf", 1, "FD66666666AAAAAABF"}, {"exit", "fd66666666aaaabbbf", 1, "FD66666666AAAABBBF"},
            {"late exit", "fd66666666aaaabbbf", 300, "FD66666666AAAABBBF"}, {"stray", "fd66666666aaaba", 1, "0102"}};
        qsizetype heard = 0;
        rig.ui.onDeliver = [&] {
            for (; heard < rig.port.writes.size(); ++heard)
                for (const auto& [kind, frame, afterMs, answer] : kinds)
                    if (answers.contains(kind) && rig.port.writes.at(heard).bytes.toHex().startsWith(frame))
                        rig.port.ArriveAt(rig.ui.clock + afterMs, QByteArray::fromHex(answer));
            ReceiveTick(rig.p.link);
        };
        WriteModule(rig.p.Modules());
        QVERIFY2(rig.ui.Log().endsWith(tail), qPrintable(rig.ui.Log()));
        QCOMPARE(rig.ui.Log().count(QStringLiteral("请检查")), tail.count(QStringLiteral("请检查")));
    }

    // --- an upload under a guard, as scripts run it: the link's, no confirmation ---

    void aGuardThatHoldsTheBlocksBackLeavesOnlyTheExitFrame()
    {
        OpenPortRig rig;
        rig.table.SetCellText(1, 1, QStringLiteral("11"));
        int asked = 0;
        UploadGuard guard;
        guard.mayBeginBlocks = [&] {
            ++asked;
            return false;
        };
        QCOMPARE(rig.p.link.Upload(CellsOf(rig.table), guard), OperationEnd::Held);
        QCOMPARE(asked, 1);
        QVERIFY(SameSteps(rig.Steps(), {kEnter, "pause 100", kExit, "pause 100"}));
        QCOMPARE(rig.ui.positionHistory, QVector<int>{0});
        QVERIFY(!rig.ui.IsDisabled(Control::Button_WriteModule));
        QVERIFY(!rig.ui.IsDisabled(Control::Button_TogglePort));
    }

    void aGuardThatLetsTheBlocksGoSendsExactlyWhatTheWindowSends()
    {
        OpenPortRig rig;
        rig.table.SetCellText(65, 2, QStringLiteral("11 22"));
        UploadGuard guard;
        guard.mayBeginBlocks = [] { return true; };
        guard.stop = [] { return false; };
        QCOMPARE(rig.p.link.Upload(CellsOf(rig.table), guard), OperationEnd::Done);
        // A short upload then waits for its line to be judged, a second after its enter frame.
        QStringList steps = UploadSteps({{}, {"F7 F4 21 11 22"}, {}}).mid(1);
        steps << QStringLiteral("pause 140");
        QVERIFY(SameSteps(rig.Steps(), steps));
    }

    void aStopRequestEndsAfterTheCurrentFrameWithTheExitFrame()
    {
        OpenPortRig rig;
        for (int row = 1; row <= 96; ++row) rig.table.SetCellText(row, 2, QStringLiteral("AB"));
        UploadGuard guard;
        guard.stop = [&] { return RecordsWritten(rig.port) == 5; };
        QCOMPARE(rig.p.link.Upload(CellsOf(rig.table), guard), OperationEnd::Stopped);
        const QStringList written = rig.port.WrittenHex();
        QCOMPARE(RecordsWritten(rig.port), 5);
        QCOMPARE(written.size(), 2 + 5 + 1);  // enter, block 1 begin, five records, exit
        QCOMPARE(written.at(6), QStringLiteral("F7 F4 25 AB"));
        QCOMPARE(written.last(), QStringLiteral("FD 66 66 66 66 AA AA BB BF"));
        QVERIFY(SameSteps(rig.Steps().mid(rig.Steps().size() - 2), {kExit, "pause 100"}));
        QCOMPARE(rig.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(!rig.p.link.OperationRunning());
    }

    void findBadCodeNamesTheFirstCellThatDoesNotConvert()
    {
        OpenPortRig rig;
        int row = 0, column = 0;
        HexProblem problem;
        rig.table.SetCellText(4, 2, QStringLiteral("a b"));
        QVERIFY(!FindBadCode(rig.table, row, column, &problem));
        QVERIFY(!problem);
        rig.table.SetCellText(9, 2, QStringLiteral("12 3"));
        rig.table.SetCellText(9, 1, QStringLiteral("0x"));
        QVERIFY(FindBadCode(rig.table, row, column, &problem));
        QCOMPARE(QPair(row, column), QPair(9, 1));
        QCOMPARE(problem.character, QStringLiteral("X"));
    }
};

QTEST_GUILESS_MAIN(UploadTest)
#include "test_upload.moc"
