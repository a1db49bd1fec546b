#include <QtTest>
#include <functional>

#include "app/ModuleHandlers.h"
#include "protocol/ModuleLink.h"
#include "tests/support/OpenPortRig.h"

using Handler = void (*)(const ModuleParts&);
Q_DECLARE_METATYPE(Handler)
Q_DECLARE_METATYPE(OperationEnd)

static const QString kLearnSentence =
    QStringLiteral("DIY生成的设备，长按需要学习的按钮，在倒计时结束前上报需要学习的数据。");

class ModuleOperationsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void baudChangeSendsFramesLogAndPausesInOrder()
    {
        OpenPortRig rig;
        rig.ui.SetSelection(Control::Combo_SetBaudRate, 4);
        rig.ui.combos[Control::Combo_SetBaudRate].editText = QStringLiteral("9600");  // typed text is not read
        rig.port.echoesEnter = true;
        bool lockedDuringPauses = true;
        rig.ui.onDeliver = [&] {
            lockedDuringPauses &= rig.ModuleButtonsDisabled() && rig.ui.IsDisabled(Control::Button_TogglePort);
        };
        SetModuleBaudRate(rig.p.Modules());
        QVERIFY(SameSteps(rig.Steps(), {"box 修改波特率|确认修改模块波特率", kEnter, "pause 100",
                                        "write FD 66 66 66 DF 01 C2 00 BF", "log 设置信息已发出\r\n", "pause 150",
                                        kExit, "pause 100", "log 模块进入配置模式\r\n", "pause 640",
                                        "log 模块波特率已设为 115200：下次操作前请关闭端口，在 波特率: 中选择 115200 后再打开\r\n"}));
        QCOMPARE(rig.ui.boxes.at(0).flags, MessageBoxFlags::OkCancel);
        QVERIFY(lockedDuringPauses);
        QVERIFY(!rig.ui.IsDisabled(Control::Button_SetBaudRate));
        QVERIFY(!rig.ui.IsDisabled(Control::Button_TogglePort));
    }

    void baudChangeWithNoItemSelectedSendsRateZero()
    {
        OpenPortRig rig;
        rig.ui.SetSelection(Control::Combo_SetBaudRate, -1);
        SetModuleBaudRate(rig.p.Modules());
        QCOMPARE(rig.port.WrittenHex().value(1), QStringLiteral("FD 66 66 66 DF 00 00 00 BF"));
    }

    void readSendsEnterAndRequestThenEmptiesTheCells()
    {
        OpenPortRig rig;
        rig.table.SetCellText(1, 1, QStringLiteral("11"));
        rig.table.SetCellText(96, 2, QStringLiteral("22"));
        ReadModule(rig.p.Modules());
        QVERIFY(SameSteps(rig.Steps(), {"box 读取模块|将从模块读取数据到配置软件，数据将被替换", kEnter, "pause 100",
                                        "write FD 66 66 66 66 AA AB DD BF", "log 已发送读取指令\r\n"}));
        QVERIFY(rig.table.GetCellText(1, 1).isEmpty() && rig.table.GetCellText(96, 2).isEmpty());
        QCOMPARE(rig.table.GetCellText(96, 0), QStringLiteral("场景31"));
        QCOMPARE(rig.table.GetCellText(0, 2), QStringLiteral("关"));
        // Waiting for the dump: module buttons grey, the port may still be closed.
        QVERIFY(rig.ModuleButtonsDisabled());
        QVERIFY(!rig.ui.IsDisabled(Control::Button_TogglePort));
        QVERIFY(!rig.p.link.OperationRunning());
    }

    void clearSendsEnterClearExitAndLeavesTheTable()
    {
        OpenPortRig rig;
        rig.table.SetCellText(3, 1, QStringLiteral("AB"));
        rig.port.echoesEnter = true;
        ClearModule(rig.p.Modules());
        QVERIFY(SameSteps(rig.Steps(), {"box 清空模块|确认清空模块数据", kEnter, "pause 100",
                                        "write FD 66 66 66 66 AA AB CC BF", "log 已发送清空指令\r\n", "pause 200",
                                        kExit, "pause 100", "log 模块进入配置模式\r\n", "pause 590"}));
        QCOMPARE(rig.table.GetCellText(3, 1), QStringLiteral("AB"));
    }

    void learnReport_data()
    {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("writeResult");
        QTest::addColumn<QStringList>("steps");
        const QString logged = QStringLiteral("log 已上报，请手机上点击按钮测试\r\n");
        QTest::newRow("spaced lower case") << true << "01 02 0a" << -2
                                           << QStringList{"write FD 49 52 01 02 0A", logged};
        QTest::newRow("full-width spaces") << true << "\u300001\u300002 " << -2 << QStringList{"write FD 49 52 01 02", logged};
        QTest::newRow("short write, no log") << true << "0102" << 3 << QStringList{"write FD 49 52 01 02"};
        QTest::newRow("port closed") << false << "0102" << -2 << QStringList{"box 信息：|请先打开端口"};
        QTest::newRow("blank") << true << " \u3000 " << -2 << QStringList{"box 信息：|请输入数据"};
        QTest::newRow("odd") << true << "010" << -2 << QStringList{"box 错误|十六进制数据长度必须是偶数"};
        QTest::newRow("instruction sentence") << true << kLearnSentence << -2
                                              << QStringList{"box 错误|十六进制数据长度必须是偶数"};
        QTest::newRow("bad digit") << true << "01G2" << -2 << QStringList{"box 错误|无效的十六进制字符: G"};
    }
    void learnReport()
    {
        QFETCH(bool, portOpen);
        QFETCH(QString, box);
        QFETCH(int, writeResult);
        QFETCH(QStringList, steps);
        OpenPortRig rig;
        if (!portOpen) {
            rig.p.link.Close();
            rig.Forget();
        }
        rig.port.writeResult = writeResult;
        rig.ui.SetText(Control::Edit_Learn, box);
        LearnReport(rig.p.Modules());
        QCOMPARE(rig.Steps(), steps);
        QCOMPARE(rig.ui.GetText(Control::Edit_Learn), box);  // kept for the next report
    }

    // An upload on a line that only sends back what it is sent stops 1 s after its enter frame, with
    // the exit frame and one log line; with a module behind the line (its enter frame back twice) it goes on.
    void aLineThatOnlySendsBackIsNoModule()
    {
        for (bool moduleBehind : {false, true}) {
            OpenPortRig rig;
            for (int row = 1; row <= 96; ++row) rig.table.SetCellText(row, 1, QStringLiteral("11"));
            rig.port.sendsBack = true;
            rig.port.echoesEnter = moduleBehind;
            rig.ui.onDeliver = [&] { ReceiveTick(rig.p.link); };
            WriteModule(rig.p.Modules());
            QCOMPARE(rig.ui.Log().count(QStringLiteral("线路只把发出的数据原样送回，没有模块应答（环回或接线错误？）\r\n")), moduleBehind ? 0 : 1);
            QCOMPARE(rig.ui.Log().contains(QStringLiteral("写入完成，共发送 96 个代码")), moduleBehind);
            QCOMPARE(rig.port.WrittenHex().filter(QStringLiteral("F7 F4")).size() < 96, !moduleBehind);
            QCOMPARE(rig.port.WrittenHex().last(), QStringLiteral("FD 66 66 66 66 AA AA BB BF"));
        }
    }

    void cancellingAConfirmationSendsNothing_data()
    {
        QTest::addColumn<Handler>("handler");
        QTest::newRow("baud") << Handler(&SetModuleBaudRate);
        QTest::newRow("read") << Handler(&ReadModule);
        QTest::newRow("clear") << Handler(&ClearModule);
        QTest::newRow("write") << Handler(&WriteModule);
    }
    void cancellingAConfirmationSendsNothing()
    {
        QFETCH(Handler, handler);
        OpenPortRig rig;
        rig.table.SetCellText(1, 1, QStringLiteral("11"));
        rig.ui.boxAnswers = {MessageBoxResult::Cancel};
        handler(rig.p.Modules());
        QCOMPARE(rig.ui.boxes.size(), 1);
        QVERIFY(rig.port.writes.isEmpty());
        QVERIFY(rig.ui.Log().isEmpty());
        QCOMPARE(rig.table.GetCellText(1, 1), QStringLiteral("11"));
        QVERIFY(rig.ui.disabled.isEmpty() || !rig.ModuleButtonsDisabled());
    }

    // Every other handler clicked inside the first one's pauses.
    void clicksDuringAnOperationDoNothing_data()
    {
        QTest::addColumn<Handler>("running");
        QTest::addColumn<int>("frames");
        QTest::newRow("baud") << Handler(&SetModuleBaudRate) << 3;
        QTest::newRow("clear") << Handler(&ClearModule) << 3;
        QTest::newRow("write") << Handler(&WriteModule) << 8;
        QTest::newRow("read") << Handler(&ReadModule) << 2;
    }
    void clicksDuringAnOperationDoNothing()
    {
        QFETCH(Handler, running);
        QFETCH(int, frames);
        OpenPortRig rig;
        rig.ui.SetText(Control::Edit_Learn, QStringLiteral("0102"));
        rig.ui.onDeliver = [&] {
            for (Handler h : {&SetModuleBaudRate, &ReadModule, &ClearModule, &LearnReport, &WriteModule}) h(rig.p.Modules());
        };
        running(rig.p.Modules());
        QCOMPARE(rig.port.writes.size(), frames);
        QCOMPARE(rig.ui.boxes.size(), 1);  // only the first operation's confirmation
    }

    // Every operation of the link takes a stop request: asked before the first
    // frame, it sends nothing; after the enter frame, the exit frame ends it.
    void everyOperationTakesAStopRequest_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("stopAt");  // the request says stop from its n-th question on (0: the first)
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<OperationEnd>("end");
        const QStringList enterAndExit{kEnter.mid(6), kExit.mid(6)};
        for (const char* operation : {"baud", "read", "clear", "upload"}) {
            QTest::addRow("%s, before its first frame", operation) << operation << 0 << QStringList() << OperationEnd::Unsent;
            QTest::addRow("%s, after the enter frame", operation) << operation << 1 << enterAndExit << OperationEnd::Stopped;
        }
        QTest::newRow("learn report") << "learn" << 0 << QStringList() << OperationEnd::Unsent;
    }
    void everyOperationTakesAStopRequest()
    {
        QFETCH(QString, operation);
        QFETCH(int, stopAt);
        QFETCH(QStringList, written);
        QFETCH(OperationEnd, end);
        OpenPortRig rig;
        int asked = 0;
        const StopRequest stop = [&] { return asked++ >= stopAt; };
        ModuleLink& link = rig.p.link;
        const QMap<QString, std::function<OperationEnd()>> run{
            {"baud", [&] { return link.SetModuleBaudRate([] { return 9600u; }, stop); }},
            {"read", [&] { return link.Read(stop); }},
            {"clear", [&] { return link.Clear(stop); }},
            {"upload", [&] { return link.Upload([](int, int) { return QStringLiteral("AB"); }, {{}, stop}); }},
            {"learn", [&] { return link.LearnReport(QByteArray("\x01"), stop); }},
        };
        QCOMPARE(run[operation](), end);
        QCOMPARE(rig.port.WrittenHex(), written);
        QVERIFY(!link.OperationRunning() && link.Reading().End() == ReadEnd::None);
    }

    void buttonsComeBackOnlyAsTheStateAllows()
    {
        OpenPortRig rig;
        // A dump began meanwhile.
        rig.port.ArriveAt(rig.ui.clock, QByteArray::fromHex("FD66666666AAABDDBF"));
        rig.ui.onDeliver = [&] { ReceiveTick(rig.p.link); };
        ClearModule(rig.p.Modules());
        QVERIFY(rig.p.link.Reading().Dumping());
        QVERIFY(rig.ModuleButtonsDisabled());
        QVERIFY(!rig.ui.IsDisabled(Control::Button_TogglePort));
        QVERIFY(!rig.p.link.OperationRunning());
    }

    // The shell marks the shutdown, saves and closes the port inside a pause.
    void closingTheWindowStopsAnOperation_data()
    {
        QTest::addColumn<Handler>("running");
        QTest::newRow("baud") << Handler(&SetModuleBaudRate);
        QTest::newRow("read") << Handler(&ReadModule);
        QTest::newRow("clear") << Handler(&ClearModule);
    }
    void closingTheWindowStopsAnOperation()
    {
        QFETCH(Handler, running);
        OpenPortRig rig;
        rig.ui.onDeliver = [&] {
            rig.p.state.shuttingDown = true;
            rig.serial.sio_close(rig.p.link.PortNumber());
        };
        running(rig.p.Modules());
        QCOMPARE(rig.port.calls, QStringList({"sio_write(3,9)", "sio_close(3)"}));
        QVERIFY(rig.ui.Log().isEmpty());
        QVERIFY(!rig.p.link.OperationRunning());
    }

    // The device goes away while an operation runs: the receive tick in one
    // of its pauses, or its next write, finds it gone. Either way the port
    // closes as "关闭" would, nothing more is written, the table stays, and
    // the port button comes back for opening again.
    void lostDeviceStopsAnOperation_data()
    {
        QTest::addColumn<Handler>("running");
        QTest::addColumn<int>("pausesBeforeTheLoss");
        QTest::addColumn<bool>("seenByATick");
        for (bool tick : {true, false}) {
            const char* by = tick ? "tick" : "write";
            QTest::addRow("baud, %s", by) << Handler(&SetModuleBaudRate) << 1 << tick;
            QTest::addRow("clear, %s", by) << Handler(&ClearModule) << 1 << tick;
            QTest::addRow("read, %s", by) << Handler(&ReadModule) << 1 << tick;
            QTest::addRow("upload, %s", by) << Handler(&WriteModule) << 40 << tick;
        }
    }
    void lostDeviceStopsAnOperation()
    {
        QFETCH(Handler, running);
        QFETCH(int, pausesBeforeTheLoss);
        QFETCH(bool, seenByATick);
        OpenPortRig rig;
        for (int row = 1; row <= 96; ++row) rig.table.SetCellText(row, 1, QStringLiteral("0A"));
        int pauses = 0;
        rig.ui.onDeliver = [&] {
            if (++pauses != pausesBeforeTheLoss) return;
            rig.port.deviceGone = true;
            if (seenByATick) ReceiveTick(rig.p.link);
        };
        running(rig.p.Modules());

        const QStringList calls = rig.port.calls;
        QCOMPARE(calls.last(), QStringLiteral("sio_close(3)"));
        QCOMPARE(calls.count(QStringLiteral("sio_close(3)")), 1);
        QCOMPARE(rig.port.writes.size(), qsizetype(pausesBeforeTheLoss));
        const QString lost = QStringLiteral("端口已断开: COM3\r\n端口已关闭\r\n");
        QVERIFY(rig.ui.Log().endsWith(running == &WriteModule ? lost + QStringLiteral("写入未完成：已发送 36/96 个代码，端口已断开\r\n"
                                                                                             "模块中可能只有部分代码，也可能仍在配置模式；端口恢复后请重新写入\r\n") : lost));
        QVERIFY(!rig.p.link.IsOpen());
        QVERIFY(!rig.p.link.OperationRunning());
        QVERIFY(rig.ModuleButtonsDisabled());
        QVERIFY(!rig.ui.IsDisabled(Control::Button_TogglePort));
        QCOMPARE(rig.ui.GetPosition(Control::ProgressBar1), 0);
        QCOMPARE(rig.table.GetCellText(96, 1), QStringLiteral("0A"));
        QVERIFY(rig.p.link.Reading().End() != ReadEnd::Running);
    }

    // The window's lines for each outcome of a clear, a baud change and a write.
    void outcomesAreWordedOnce()
    {
        using K = OutcomeKind;
        const QString noAnswer = QStringLiteral("模块无应答\r\n");
        const QString hint = QStringLiteral("请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电\r\n");
        const QString looped = QStringLiteral("线路只把发出的数据原样送回，没有模块应答（环回或接线错误？）\r\n");
        const struct {
            const char* name;
            int operation;  // 0 clear, 1 baud, 2 write
            ModuleOutcome o;
            QString log;
        } cases[] = {
            {"clear done", 0, {.kind = K::Done, .moduleEchoed = true, .requestSent = true}, QString()},
            {"clear unanswered", 0, {.kind = K::NoAnswer, .requestSent = true}, noAnswer + hint},
            {"clear looped", 0, {.kind = K::Looped, .lineLooped = true, .requestSent = true}, noAnswer + looped},
            {"baud done", 1, {.kind = K::Done, .moduleEchoed = true, .requestSent = true, .rate = 19200},
             QStringLiteral("模块波特率已设为 19200：下次操作前请关闭端口，在 波特率: 中选择 19200 后再打开\r\n")},
            {"baud unanswered", 1, {.kind = K::NoAnswer, .requestSent = true, .rate = 19200}, noAnswer + hint},
            {"baud looped", 1, {.kind = K::Looped, .lineLooped = true, .requestSent = true, .rate = 19200}, noAnswer + looped},
            {"baud port lost", 1, {.kind = K::PortLost, .rate = 19200}, QString()},
            {"write done", 2, {.kind = K::Done, .exitEcho = true, .codesSent = 4, .codes = 4},
             QStringLiteral("写入完成，共发送 4 个代码\r\n按 F7 与模块比较\r\n")},
            {"write unanswered", 2, {.kind = K::NoAnswer, .codesSent = 4, .codes = 4},
             QStringLiteral("已发送 4 个代码，模块无应答（线路上没有模块？）\r\n") + hint},
            {"write looped", 2, {.kind = K::Looped, .lineLooped = true, .codesSent = 1, .codes = 4}, noAnswer + looped},
            {"write stopped", 2, {.kind = K::Stopped, .codesSent = 1, .codes = 4}, QStringLiteral("写入未完成：已发送 1/4 个代码，已停止\r\n")},
        };
        for (const auto& c : cases) {
            OpenPortRig rig;
            if (c.operation == 2)
                TellWriteOutcome(rig.p.Words(), rig.p.state.compareHintGiven, c.o);
            else
                TellShortOutcome(rig.p.Words(), c.operation == 0 ? ModuleRequest::Clear : ModuleRequest::SetBaudRate, c.o);
            QVERIFY2(rig.ui.Log() == c.log, c.name);
        }
    }
};

QTEST_GUILESS_MAIN(ModuleOperationsTest)
#include "test_moduleoperations.moc"
