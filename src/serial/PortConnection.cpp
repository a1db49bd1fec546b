#include "serial/PortConnection.h"

#include "core/LeadingNumber.h"
#include "core/ModuleEvents.h"
#include "core/Program.h"
#include "core/Texts.h"
#include "serial/SerialLibrary.h"

namespace {

constexpr int kValueBufferSize = 512;
const char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

void ClosePortWithButton(Program& p)
{
    ClosePort(p, p.state.portNumber);
    p.serial.SetActivityHandler({});
    // Whatever the module had begun to say belongs to the connection just closed.
    p.state.held = HeldBytes{};
    p.state.portOpen = false;
    p.ui.SetCaption(Control::Button_TogglePort, Texts::tr("开启"));
    Report(p, {.kind = ModuleEvent::Kind::PortClosed});
    DisableModuleButtons(p);
    p.state.portNumber = kNoPort;
    // A closed port has nothing to receive: the receive timer rests until the next open.
    p.ui.SetInterval(Control::Timer_ReceiveData, 0);
    // A dump or an upload cut off by the close would otherwise leave the next
    // connection writing its answers into the table and the bar stuck part-way.
    if (p.state.extracting || p.state.operationRunning) {
        p.state.extracting = false;
        p.ui.SetPosition(Control::ProgressBar1, 0);
    }
    // The read cut off here gives the table back (its caller's part); a read
    // given back earlier no longer resumes on another connection.
    if (p.state.readEnd == ReadEnd::Running) p.state.readEnd = ReadEnd::PortClosed;
    p.state.beforeRead.mayResume = false;
    p.state.beforeRead.unfinished.clear();
}

void OpenPortWithButton(Program& p)
{
    if (p.ui.ComboCount(Control::Combo_Port) == 0) {
        ShowNotice(p, Texts::tr("无可用端口"));
        return;
    }
    // A typed name counts when it is an item's; an empty field tries the
    // port of no item (0), whose refusal the notice below reports.
    const int portItem = ChosenItem(p, Control::Combo_Port);
    const QString typedPort = p.ui.GetText(Control::Combo_Port).trimmed();
    if (portItem < 0 && !typedPort.isEmpty()) {
        ShowNotice(p, Texts::tr("没有这个端口: %1").arg(typedPort));
        return;
    }
    // A typed rate counts when it is an item's or one the library can set;
    // without one the port would open at a rate nobody chose.
    int rate = 0;
    const int rateItem = ChosenItem(p, Control::Combo_BaudRate);
    if (rateItem >= 0) {
        rate = LeadingNumber(p.ui.ComboItemText(Control::Combo_BaudRate, rateItem));
    } else {
        const QString typed = p.ui.GetText(Control::Combo_BaudRate).trimmed();
        bool number = false;
        rate = typed.toInt(&number);
        if (!number || rate <= 0 || BaudRateOfCode(BaudCode(rate)) != rate) {
            ShowNotice(p, typed.isEmpty() ? Texts::tr("请选择波特率") : Texts::tr("不支持的波特率: %1").arg(typed));
            return;
        }
    }
    const QString portText = p.ui.ComboItemText(Control::Combo_Port, portItem);
    p.state.portNumber = portText.size() > 3 ? LeadingNumber(QStringView(portText).mid(3)) : 0;

    const int r = p.serial.sio_open(p.state.portNumber);
    if (r != 0) {
        Report(p, {.kind = ModuleEvent::Kind::OpenRefused, .port = p.state.portNumber, .result = r,
                   .refusal = OpenRefusalOf(r)});
        return;
    }
    p.serial.sio_ioctl(p.state.portNumber, BaudCode(rate), 3);  // 3: 8 data bits, no parity, 1 stop bit
    p.serial.sio_SetReadTimeouts(p.state.portNumber, 1000, 0);
    p.state.portOpen = true;
    p.state.readEnd = ReadEnd::None;
    p.ui.SetCaption(Control::Button_TogglePort, Texts::tr("关闭"));
    Report(p, {.kind = ModuleEvent::Kind::PortOpened, .port = p.state.portNumber, .portName = portText, .rate = rate});
    EnableModuleButtons(p);
    p.ui.SetInterval(Control::Timer_ReceiveData, kReceiveTickMs);
    // Bytes arriving, or the device going away, bring the receive timer back
    // to its quick pace when it rests on an idle line.
    p.serial.SetActivityHandler([&p] {
        if (p.state.portOpen) p.ui.SetInterval(Control::Timer_ReceiveData, kReceiveTickMs);
    });
}

}  // namespace

int EnumerateComPorts(Program& p, QVector<int>& list)
{
    list.clear();
    quint32 key = 0;
    if (p.serial.RegOpenKeyA(kHkeyLocalMachine, kSerialCommKey, &key) != 0) return 0;

    for (int index = 0;; ++index) {
        char name[kValueBufferSize];
        unsigned char data[kValueBufferSize + 1] = {};  // one spare zero: the text always ends
        std::fill(std::begin(name), std::end(name), ' ');
        quint32 nameLen = kValueBufferSize;
        quint32 dataLen = kValueBufferSize;
        quint32 type = 0;
        if (p.serial.RegEnumValueA(key, index, name, &nameLen, 0, &type, data, &dataLen) != 0) break;

        // Only the data counts ("COM3"); the value's name is the device and is ignored here.
        const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data)).toUpper();
        if (text.startsWith(QLatin1String("COM"))) list.push_back(LeadingNumber(QStringView(text).mid(3)));
    }
    p.serial.RegCloseKey(key);
    return 1;
}

void RefreshPortList(Program& p)
{
    // A key that does not open leaves the box empty.
    p.ui.ComboClear(Control::Combo_Port);
    QVector<int> ports;
    if (EnumerateComPorts(p, ports) == 1) {
        for (int n : ports) {
            const QString name = QStringLiteral("COM") + QString::number(n);
            const int index = p.ui.ComboAddItem(Control::Combo_Port, name, n, p.serial.DescribePort(n));
            // The open list tells the ports apart by their devices; the item stays "COM"+N.
            const QString summary = p.serial.PortSummary(n);
            if (index >= 0 && !summary.isEmpty()) p.ui.ComboSetListText(Control::Combo_Port, index, name + QStringLiteral("  ") + summary);
        }
    }
    // A list widget would pick the first item by itself; the user must choose.
    p.ui.SetSelection(Control::Combo_Port, -1);
}

void FillBaudLists(Program& p)
{
    for (Control box : {Control::Combo_BaudRate, Control::Combo_SetBaudRate}) {
        p.ui.ComboClear(box);
        for (int rate : kOfferedRates) p.ui.ComboAddItem(box, QString::number(rate));
        p.ui.SetSelection(box, 0);
    }
}

int ChosenItem(Program& p, Control box)
{
    const int selected = p.ui.GetSelection(box);
    if (selected >= 0) return selected;
    const QString typed = p.ui.GetText(box).trimmed();
    if (typed.isEmpty()) return -1;
    for (int i = 0; i < p.ui.ComboCount(box); ++i) {
        const QString item = p.ui.ComboItemText(box, i);
        if (item.compare(typed, Qt::CaseInsensitive) == 0) return i;
        if (box == Control::Combo_Port && item.size() > 3
            && p.serial.PortDevice(LeadingNumber(QStringView(item).mid(3))) == typed)
            return i;
    }
    return -1;
}

void TogglePort(Program& p)
{
    if (p.state.portOpen)
        ClosePortWithButton(p);
    else
        OpenPortWithButton(p);
}

void ClosePortOnLoss(Program& p)
{
    if (!p.state.portOpen) return;
    Report(p, {.kind = ModuleEvent::Kind::PortLost, .port = p.state.portNumber});
    if (p.state.readEnd == ReadEnd::Running) p.state.readEnd = ReadEnd::PortLost;
    ClosePortWithButton(p);
}

OpenRefusal OpenRefusalOf(int result)
{
    switch (result) {
    case SioResult::NoSuchPort: return OpenRefusal::NoSuchDevice;
    case SioResult::AlreadyOpen:
    case SioResult::Busy: return OpenRefusal::InUse;
    case SioResult::NoPermission: return OpenRefusal::NoPermission;
    case SioResult::DeviceGone: return OpenRefusal::DeviceGone;
    case SioResult::OtherFailure: return OpenRefusal::Other;
    }
    return OpenRefusal::Unknown;
}

bool ClosePort(Program& p, int portNumber)
{
    return p.serial.sio_close(portNumber) == 0;
}
