// Port discovery, the port button and the binding of library functions,
// observed through the recording window and the recording serial library.

#include <QtTest>

#include "app/ModuleHandlers.h"
#include "app/PortHandlers.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "core/PortChoice.h"
#include "app/Program.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeRegistryProvider.h"
#include "tests/support/FakeSerialProvider.h"
#include "tests/support/FakeUiServices.h"

namespace {

// One program with fakes on every side; the window as after start-up.
struct Rig {
    FakeUiServices ui;
    FakeSerialProvider sio{&ui};
    FakeRegistryProvider registry;
    SerialLibrary serial{FatalReportTo(ui), {&sio, &registry}};
    ConfigTable table;
    WindowProgram window{ui, serial, table};
    Program& p = window.program;

    explicit Rig(QVector<QByteArray> values = {"COM3"})
    {
        registry.values = std::move(values);
        ui.SetCaption(Control::Button_TogglePort, QStringLiteral("开启"));
        DisableModuleButtons(p.ui);
        RefreshPortList(p.ui, p.serial);
        FillBaudLists(p.ui);
    }
    const FakeUiServices::Combo& PortBox() { return ui.combos[Control::Combo_Port]; }
    bool ModuleButtonsEnabled() const
    {
        for (Control c : kModuleButtons)
            if (ui.IsDisabled(c)) return false;
        return true;
    }
    bool ModuleButtonsDisabled() const
    {
        for (Control c : kModuleButtons)
            if (!ui.IsDisabled(c)) return false;
        return true;
    }
};

}  // namespace

class PortConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void registryValuesBecomePortItems()
    {
        Rig r({"COM1", "com7", "LPT1", "COM3", "COM3", "COMx"});
        QCOMPARE(r.PortBox().texts, (QStringList{"COM1", "COM7", "COM3", "COM3", "COM0"}));
        QCOMPARE(r.PortBox().data, (QVector<int>{1, 7, 3, 3, 0}));
        QCOMPARE(r.PortBox().selection, -1);
        QCOMPARE(r.registry.calls.first(), QStringLiteral("RegOpenKeyA(80000002,HARDWARE\\DEVICEMAP\\SERIALCOMM)"));
        QCOMPARE(r.registry.calls.last(), QStringLiteral("RegCloseKey(77)"));
        // Fresh 512-byte buffers for every value, the name buffer blank.
        QVERIFY(r.registry.nameBufferBlank);
        for (quint32 n : r.registry.nameLensOnEntry + r.registry.dataLensOnEntry) QCOMPARE(n, 512u);
    }

    void enumerationStopsAtValueThatDoesNotFit()
    {
        Rig r({"COM1", "COM2" + QByteArray(600, '9'), "COM3"});
        QCOMPARE(r.PortBox().texts, QStringList{"COM1"});
        QCOMPARE(r.registry.calls.last(), QStringLiteral("RegCloseKey(77)"));
    }

    void missingKeyEmptiesPortBox()
    {
        Rig r({"COM1", "COM2"});
        QCOMPARE(r.ui.ComboCount(Control::Combo_Port), 2);
        r.registry.keyExists = false;
        r.registry.calls.clear();
        QVector<int> list{5, 6};
        QCOMPARE(EnumerateComPorts(r.serial, list), 0);
        QVERIFY(list.isEmpty());
        RefreshPortList(r.p.ui, r.p.serial);
        QCOMPARE(r.ui.ComboCount(Control::Combo_Port), 0);
        QVERIFY(r.registry.calls.filter("RegEnumValueA").isEmpty());
        QVERIFY(r.registry.calls.filter("RegCloseKey").isEmpty());

        // With an empty box the port button only says so.
        TogglePort(r.p.Ports());
        QCOMPARE(r.ui.BoxTexts(), QStringList{"无可用端口"});
        QCOMPARE(r.ui.boxes.first().caption, QStringLiteral("信息："));
        QVERIFY(r.sio.calls.isEmpty());
        QVERIFY(!r.p.link.IsOpen());
    }

    void baudListsOfferFiveRatesFrom9600()
    {
        Rig r;
        for (Control box : {Control::Combo_BaudRate, Control::Combo_SetBaudRate}) {
            QCOMPARE(r.ui.combos[box].texts, (QStringList{"9600", "19200", "38400", "57600", "115200"}));
            QCOMPARE(r.ui.GetSelection(box), 0);
        }
    }

    void openingSetsLineAndState()
    {
        Rig r({"COM1", "COM3"});
        r.ui.SetSelection(Control::Combo_Port, 1);
        r.ui.SetSelection(Control::Combo_BaudRate, 4);
        TogglePort(r.p.Ports());
        QCOMPARE(r.sio.calls, (QStringList{"sio_open(3)", "sio_ioctl(3,16,3)", "sio_SetReadTimeouts(3,1000,0)"}));
        QCOMPARE(r.ui.Log(), QStringLiteral("打开端口: COM3 115200\r\n"));
        QCOMPARE(r.ui.GetCaption(Control::Button_TogglePort), QStringLiteral("关闭"));
        QVERIFY(r.p.link.IsOpen());
        QCOMPARE(r.p.link.PortNumber(), 3);
        QVERIFY(r.ModuleButtonsEnabled());
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), 10);
        QVERIFY(r.ui.boxes.isEmpty());
    }

    void failedOpenShowsCodeAndStaysClosed()
    {
        Rig r;
        r.sio.openResult = -2;
        r.ui.SetSelection(Control::Combo_Port, 0);
        TogglePort(r.p.Ports());
        QCOMPARE(r.ui.BoxTexts(), QStringList{"端口打开失败-2"});
        QCOMPARE(r.sio.calls, QStringList{"sio_open(3)"});
        QVERIFY(!r.p.link.IsOpen());
        QCOMPARE(r.p.link.PortNumber(), 3);  // the number tried
        QCOMPARE(r.ui.GetCaption(Control::Button_TogglePort), QStringLiteral("开启"));
        QVERIFY(r.ModuleButtonsDisabled());
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), 0);
        QCOMPARE(r.ui.Log(), QStringLiteral("端口打开失败: COM3 端口被占用\r\n"));

        // Nothing selected: port 0 is tried and its code reported.
        r.ui.SetSelection(Control::Combo_Port, -1);
        r.sio.openResult = -1;
        TogglePort(r.p.Ports());
        QCOMPARE(r.sio.calls.last(), QStringLiteral("sio_open(0)"));
        QCOMPARE(r.ui.BoxTexts().last(), QStringLiteral("端口打开失败-1"));
    }

    // What is typed into the port box or the baud box (null: the first item chosen).
    void typedPortOrRateOpensAsAnItemOrIsRefusedWithANotice_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("outcome");  // the log line, or the notice
        const QString none;
        QTest::newRow("port as listed") << "com3 " << none << "打开端口: COM3 9600\r\n";
        QTest::newRow("port by its device") << "/dev/ttyUSB9" << none << "打开端口: COM3 9600\r\n";
        QTest::newRow("port not listed") << "COM9" << none << "没有这个端口: COM9";
        QTest::newRow("rate as listed") << none << " 115200" << "打开端口: COM3 115200\r\n";
        QTest::newRow("rate the port can set") << none << "230400" << "打开端口: COM3 230400\r\n";
        QTest::newRow("rate it cannot set") << none << "12345" << "不支持的波特率: 12345";
        QTest::newRow("no number") << none << "fast" << "不支持的波特率: fast";
        QTest::newRow("rate field emptied") << none << "" << "请选择波特率";
    }
    void typedPortOrRateOpensAsAnItemOrIsRefusedWithANotice()
    {
        QFETCH(QString, port);
        QFETCH(QString, rate);
        QFETCH(QString, outcome);
        Rig r({"COM1", "COM3"});
        r.registry.devices[3] = QStringLiteral("/dev/ttyUSB9");
        r.ui.SetSelection(Control::Combo_Port, 1);
        if (!port.isNull()) r.ui.Type(Control::Combo_Port, port);
        if (!rate.isNull()) r.ui.Type(Control::Combo_BaudRate, rate);
        TogglePort(r.p.Ports());
        if (outcome.endsWith(QLatin1String("\r\n"))) {
            QCOMPARE(r.ui.Log(), outcome);
            QCOMPARE(r.sio.calls.value(1), QStringLiteral("sio_ioctl(3,%1,3)").arg(BaudCode(outcome.split(u' ').last().trimmed().toInt())));
            QVERIFY(r.ui.boxes.isEmpty());
        } else {
            QCOMPARE(r.ui.BoxTexts(), QStringList{outcome});
            QCOMPARE(r.sio.calls, QStringList());
            QVERIFY(!r.p.link.IsOpen());
        }
    }

    void openAndCloseAnyNumberOfTimes()
    {
        Rig r;
        r.ui.SetSelection(Control::Combo_Port, 0);
        const int rounds = 50;
        for (int i = 0; i < rounds; ++i) {
            TogglePort(r.p.Ports());
            QVERIFY(r.p.link.IsOpen());
            TogglePort(r.p.Ports());
        }
        const QString log = r.ui.Log();
        QCOMPARE(log.count(QStringLiteral("打开端口: COM3 9600\r\n")), rounds);
        QCOMPARE(log.count(QStringLiteral("端口已关闭\r\n")), rounds);
        QVERIFY(log.endsWith(QStringLiteral("端口已关闭\r\n")));
        QCOMPARE(r.sio.calls.count(QStringLiteral("sio_close(3)")), rounds);
        QVERIFY(!r.p.link.IsOpen());
        QCOMPARE(r.p.link.PortNumber(), -1);
        QCOMPARE(r.ui.GetCaption(Control::Button_TogglePort), QStringLiteral("开启"));
        QVERIFY(r.ModuleButtonsDisabled());
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), 0);  // nothing to receive, nothing to wake for
    }

    void failedOpenSaysWhyInTheLog_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no such device") << SioResult::NoSuchPort << "设备不存在";
        QTest::newRow("busy") << SioResult::Busy << "端口被占用";
        QTest::newRow("no permission") << SioResult::NoPermission << "没有权限，请将用户加入 dialout 组后重新登录";
        QTest::newRow("refused") << SioResult::OtherFailure << "系统拒绝打开";
        QTest::newRow("a code of another library") << -99 << "原因不明";
    }
    void failedOpenSaysWhyInTheLog()
    {
        QFETCH(int, result);
        QFETCH(QString, reason);
        Rig r({"COM1", "COM7"});
        r.sio.openResult = result;
        r.ui.SetSelection(Control::Combo_Port, 1);
        TogglePort(r.p.Ports());
        QCOMPARE(r.ui.Log(), QStringLiteral("端口打开失败: COM7 ") + reason + QStringLiteral("\r\n"));
        QCOMPARE(r.ui.BoxTexts(), QStringList{QStringLiteral("端口打开失败") + QString::number(result)});
        QVERIFY(!r.p.link.IsOpen());
    }

    // The device goes away under an open port: one line says so, and the
    // port ends up as after a click on "关闭"; it opens again once it is back.
    void lostPortClosesAsTheButtonWouldAndReopens()
    {
        Rig r;
        r.ui.SetSelection(Control::Combo_Port, 0);
        TogglePort(r.p.Ports());
        // The module dumps, the bar part-way, when its device goes away.
        r.sio.incoming.push_back(QByteArray::fromHex("FD66666666AAABDDBF"));
        ReceiveTick(r.p.link);
        r.ui.SetPosition(Control::ProgressBar1, 40);
        r.ui.SetText(Control::Edit_Display, QString());
        r.sio.deviceGone = true;
        ReceiveTick(r.p.link);
        QCOMPARE(r.ui.Log(), QStringLiteral("端口已断开: COM3\r\n端口已关闭\r\n读取未完成，配置表已恢复为读取前的内容\r\n"));
        QCOMPARE(r.sio.calls.last(), QStringLiteral("sio_close(3)"));
        QVERIFY(!r.p.link.IsOpen());
        QVERIFY(!r.p.link.Reading().Dumping());
        QVERIFY(r.p.link.Reading().End() == ReadEnd::PortLost);
        QCOMPARE(r.p.link.PortNumber(), kNoPort);
        QCOMPARE(r.ui.GetCaption(Control::Button_TogglePort), QStringLiteral("开启"));
        QVERIFY(r.ModuleButtonsDisabled());
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), 0);

        // Nothing is open any more: nothing more is read or said.
        const QString log = r.ui.Log();
        ReceiveTick(r.p.link);
        QCOMPARE(r.ui.Log(), log);

        r.sio.deviceGone = false;
        TogglePort(r.p.Ports());
        QVERIFY(r.p.link.IsOpen());
        QVERIFY(r.p.link.Reading().End() == ReadEnd::None);
        QVERIFY(r.ModuleButtonsEnabled());
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), 10);
    }

    void refreshWhileOpenLeavesOpenPortAlone()
    {
        Rig r({"COM3"});
        r.ui.SetSelection(Control::Combo_Port, 0);
        TogglePort(r.p.Ports());
        r.registry.values = {"COM5", "COM6"};
        RefreshPortList(r.p.ui, r.p.serial);
        QCOMPARE(r.PortBox().texts, (QStringList{"COM5", "COM6"}));
        QCOMPARE(r.PortBox().selection, -1);
        QVERIFY(r.sio.calls.filter("sio_close").isEmpty());
        QCOMPARE(r.p.link.PortNumber(), 3);
        QVERIFY(r.p.link.IsOpen());

        TogglePort(r.p.Ports());
        QCOMPARE(r.sio.calls.last(), QStringLiteral("sio_close(3)"));
    }

    void closingEndsUnfinishedDumpAndDropsHeldBytes()
    {
        Rig r;
        r.ui.SetSelection(Control::Combo_Port, 0);
        TogglePort(r.p.Ports());
        // A dump under way, half a record held.
        r.sio.incoming.push_back(QByteArray::fromHex("FD66666666AAABDDBFF4F701"));
        ReceiveTick(r.p.link);
        QVERIFY(!r.p.link.Reading().Held().bytes.isEmpty());
        r.ui.SetPosition(Control::ProgressBar1, 40);
        TogglePort(r.p.Ports());
        QVERIFY(!r.p.link.Reading().Dumping());
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(r.p.link.Reading().Held().bytes.isEmpty());

        // A close with no dump running leaves the bar where it is.
        TogglePort(r.p.Ports());
        r.ui.SetPosition(Control::ProgressBar1, 100);
        TogglePort(r.p.Ports());
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 100);
    }

    void unboundFunctionEndsProgramAfterHook()
    {
        // The serial library lacks sio_open: the first open is fatal, after the table is saved.
        Rig r;
        r.sio.missing = {QStringLiteral("sio_open")};
        bool hookRan = false;
        r.serial.SetBeforeFatal([&] { hookRan = true; });
        r.ui.SetSelection(Control::Combo_Port, 0);
        try {
            TogglePort(r.p.Ports());
            QFAIL("no fatal report");
        } catch (const FatalExit& e) {
            QCOMPARE(e.message, QStringLiteral("无法找到指定DLL库文件“\\DLL\\PCOMM.DLL”中的输出命令“sio_open”"));
            QCOMPARE(e.code, -1);
        }
        QVERIFY(hookRan);
        QVERIFY(!r.p.link.IsOpen());

        // A row with no library file names only the function.
        FakeUiServices ui;
        FakeSerialProvider sio(&ui);
        SerialLibrary bare(FatalReportTo(ui), {&sio});
        quint32 key = 0;
        try {
            bare.RegOpenKeyA(kHkeyLocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM", &key);
            QFAIL("no fatal report");
        } catch (const FatalExit& e) {
            QCOMPARE(e.message, QStringLiteral("无法找到指定DLL库文件中的输出命令“RegOpenKeyA”"));
        }
    }

    void rowsBindOnceAndIndependently()
    {
        FakeUiServices ui;
        FakeSerialProvider first(&ui), second(&ui);
        first.missing = {QStringLiteral("sio_read")};
        first.incoming.push_back("AB");
        SerialLibrary lib(FatalReportTo(ui), {&first, &second});
        QVERIFY(first.asked.isEmpty());

        QCOMPARE(lib.sio_iqueue(1), 2);
        QCOMPARE(lib.sio_iqueue(1), 2);
        QCOMPARE(first.asked, QStringList{QStringLiteral("sio_iqueue")});  // sio_read not bound yet

        // sio_read comes from the provider that has it, not from the one bound for sio_iqueue.
        second.incoming.push_back("Z");
        second.sio_iqueue(1);
        char buf[4] = {};
        QCOMPARE(lib.sio_read(1, buf, 4), 1);
        QCOMPARE(buf[0], 'Z');
        lib.sio_read(1, buf, 4);
        QCOMPARE(first.asked, QStringList({QStringLiteral("sio_iqueue"), QStringLiteral("sio_read")}));
        QCOMPARE(second.asked, QStringList{QStringLiteral("sio_read")});
    }

    void comNamesReadAsTheWindowAndTheCommandLineTakeThem()
    {
        QCOMPARE(ComName(12), QStringLiteral("COM12"));
        // A port item or the registry's data: the digits after "COM", in any case.
        const std::pair<const char*, std::optional<int>> listed[] = {
            {"COM12", 12}, {"com7", 7}, {"COM3x", 3}, {"COM", 0}, {"COMx", 0}, {"LPT1", std::nullopt}, {"", std::nullopt}};
        for (const auto& [name, n] : listed) QCOMPARE(ComNumber(QString::fromLatin1(name)), n);
        // A command line's port: the whole name, or it is a device's path.
        const std::pair<const char*, int> typed[] = {
            {"COM12", 12}, {"com05", 5}, {"COM3x", 0}, {"COM0", 0}, {"COM", 0}, {"COM 3", 0}, {"/dev/COM3", 0}};
        for (const auto& [name, n] : typed) QCOMPARE(ExactComNumber(QString::fromLatin1(name)), n);
    }

    void baudCodes()
    {
        QCOMPARE(BaudCode(9600), 12);
        QCOMPARE(BaudCode(115200), 16);
        QCOMPARE(BaudCode(0), 0);
        QCOMPARE(BaudCode(14400), 0);
        for (int code = 0; code < 20; ++code) QCOMPARE(BaudCode(BaudRateOfCode(code)), code);
        QCOMPARE(BaudRateOfCode(20), 0);
        QCOMPARE(BaudRateOfCode(-1), 0);
    }
};

QTEST_GUILESS_MAIN(PortConnectionTest)
#include "test_port_connection.moc"
