#include "serial/PortConnection.h"

#include "core/LeadingNumber.h"
#include "core/Program.h"
#include "serial/SerialLibrary.h"

namespace {

constexpr int kValueBufferSize = 512;
const char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

void ClosePortWithButton(Program& p)
{
    ClosePort(p, p.state.portNumber);
    // Whatever the module had begun to say belongs to the connection just closed.
    p.state.heldAnswer.clear();
    p.state.portOpen = false;
    p.ui.SetCaption(Control::Button_TogglePort, QStringLiteral("开启"));
    AppendLog(p, QStringLiteral("端口已关闭\r\n"));
    DisableModuleButtons(p);
    p.state.portNumber = kNoPort;
    // A dump cut off by the close would otherwise leave the next connection
    // writing its answers into the table and the bar stuck part-way.
    if (p.state.extracting) {
        p.state.extracting = false;
        p.ui.SetPosition(Control::ProgressBar1, 0);
    }
}

void OpenPortWithButton(Program& p)
{
    if (p.ui.ComboCount(Control::Combo_Port) == 0) {
        ShowNotice(p, QStringLiteral("无可用端口"));
        return;
    }
    // Only a chosen list item counts; text typed into either box is not read.
    const QString portText = p.ui.ComboItemText(Control::Combo_Port, p.ui.GetSelection(Control::Combo_Port));
    const int rate = LeadingNumber(
        p.ui.ComboItemText(Control::Combo_BaudRate, p.ui.GetSelection(Control::Combo_BaudRate)));
    p.state.portNumber = portText.size() > 3 ? LeadingNumber(QStringView(portText).mid(3)) : 0;

    const int r = p.serial.sio_open(p.state.portNumber);
    if (r != 0) {
        ShowNotice(p, QStringLiteral("端口打开失败") + QString::number(r));
        return;
    }
    p.serial.sio_ioctl(p.state.portNumber, BaudCode(rate), 3);  // 3: 8 data bits, no parity, 1 stop bit
    p.serial.sio_SetReadTimeouts(p.state.portNumber, 1000, 0);
    p.state.portOpen = true;
    p.ui.SetCaption(Control::Button_TogglePort, QStringLiteral("关闭"));
    AppendLog(p, QStringLiteral("打开端口: ") + portText + QLatin1Char(' ') + QString::number(rate) + QStringLiteral("\r\n"));
    EnableModuleButtons(p);
    p.ui.SetInterval(Control::Timer_ReceiveData, 10);
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
        for (int n : ports)
            p.ui.ComboAddItem(Control::Combo_Port, QStringLiteral("COM") + QString::number(n), n,
                              p.serial.DescribePort(n));
    }
    // A list widget would pick the first item by itself; the user must choose.
    p.ui.SetSelection(Control::Combo_Port, -1);
}

void FillBaudLists(Program& p)
{
    static const QStringList kRates = {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                                       QStringLiteral("57600"), QStringLiteral("115200")};
    for (Control box : {Control::Combo_BaudRate, Control::Combo_SetBaudRate}) {
        p.ui.ComboClear(box);
        for (const QString& rate : kRates) p.ui.ComboAddItem(box, rate);
        p.ui.SetSelection(box, 0);
    }
}

void TogglePort(Program& p)
{
    if (p.state.portOpen)
        ClosePortWithButton(p);
    else
        OpenPortWithButton(p);
}

bool ClosePort(Program& p, int portNumber)
{
    return p.serial.sio_close(portNumber) == 0;
}
