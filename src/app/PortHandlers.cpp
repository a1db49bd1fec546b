#include "app/PortHandlers.h"

#include "core/LeadingNumber.h"
#include "core/PortChoice.h"
#include "app/Program.h"
#include "core/Texts.h"
#include "protocol/ModuleLink.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"

namespace {

// ChosenItem; with `serial`, an item's device path typed counts too.
int Chosen(UiServices& ui, Control box, SerialLibrary* serial)
{
    const int selected = ui.GetSelection(box);
    if (selected >= 0) return selected;
    const QString typed = ui.GetText(box).trimmed();
    if (typed.isEmpty()) return -1;
    for (int i = 0; i < ui.ComboCount(box); ++i) {
        const QString item = ui.ComboItemText(box, i);
        if (item.compare(typed, Qt::CaseInsensitive) == 0) return i;
        if (serial && serial->PortDevice(ComNumber(item).value_or(0)) == typed) return i;
    }
    return -1;
}

void OpenChosenPort(const PortParts& p)
{
    if (p.ui.ComboCount(Control::Combo_Port) == 0) {
        ShowNotice(p.ui, Texts::tr("无可用端口"));
        return;
    }
    // A typed name counts when it is an item's; an empty field tries the
    // port of no item (0), whose refusal the link reports.
    const int portItem = ChosenPort(p.ui, p.serial);
    const QString typedPort = p.ui.GetText(Control::Combo_Port).trimmed();
    if (portItem < 0 && !typedPort.isEmpty()) {
        ShowNotice(p.ui, Texts::tr("没有这个端口: %1").arg(typedPort));
        return;
    }
    // A typed rate counts when it is an item's or one the library can set;
    // without one the port would open at a rate nobody chose.
    int rate = 0;
    const int rateItem = ChosenItem(p.ui, Control::Combo_BaudRate);
    if (rateItem >= 0) {
        rate = LeadingNumber(p.ui.ComboItemText(Control::Combo_BaudRate, rateItem));
    } else {
        const QString typed = p.ui.GetText(Control::Combo_BaudRate).trimmed();
        bool number = false;
        rate = typed.toInt(&number);
        if (!number || rate <= 0 || BaudRateOfCode(BaudCode(rate)) != rate) {
            ShowNotice(p.ui, typed.isEmpty() ? Texts::tr("请选择波特率") : Texts::tr("不支持的波特率: %1").arg(typed));
            return;
        }
    }
    const QString portText = p.ui.ComboItemText(Control::Combo_Port, portItem);
    const int port = ComNumber(portText).value_or(0);
    p.link.Open(port, rate, portText);
}

}  // namespace

void RefreshPortList(UiServices& ui, SerialLibrary& serial)
{
    // A key that does not open leaves the box empty.
    ui.ComboClear(Control::Combo_Port);
    QVector<int> ports;
    if (EnumerateComPorts(serial, ports) == 1) {
        for (int n : ports) {
            const QString name = ComName(n);
            const int index = ui.ComboAddItem(Control::Combo_Port, name, n, serial.DescribePort(n));
            // The open list tells the ports apart by their devices; the item stays "COM"+N.
            const QString summary = serial.PortSummary(n);
            if (index >= 0 && !summary.isEmpty()) ui.ComboSetListText(Control::Combo_Port, index, name + QStringLiteral("  ") + summary);
        }
    }
    // A list widget would pick the first item by itself; the user must choose.
    ui.SetSelection(Control::Combo_Port, -1);
}

void FillBaudLists(UiServices& ui)
{
    for (Control box : {Control::Combo_BaudRate, Control::Combo_SetBaudRate}) {
        ui.ComboClear(box);
        for (int rate : kOfferedRates) ui.ComboAddItem(box, QString::number(rate));
        ui.SetSelection(box, 0);
    }
}

int ChosenItem(UiServices& ui, Control box) { return Chosen(ui, box, nullptr); }

int ChosenPort(UiServices& ui, SerialLibrary& serial) { return Chosen(ui, Control::Combo_Port, &serial); }

void TogglePort(const PortParts& p)
{
    if (p.link.IsOpen())
        p.link.Close();
    else
        OpenChosenPort(p);
}
