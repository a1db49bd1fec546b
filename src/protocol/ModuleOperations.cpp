#include "protocol/ModuleOperations.h"

#include "core/LeadingNumber.h"
#include "core/ModuleEvents.h"
#include "core/Program.h"
#include "core/Texts.h"
#include "config/ConfigTable.h"
#include "core/TableLayout.h"
#include "protocol/ExclusiveOperation.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/TableBeforeRead.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"

namespace {

// The rate of the module-baud box's chosen list item (selected, or typed as
// it reads); any other typed text is not the module's rate.
quint32 SelectedModuleRate(Program& p)
{
    const int index = ChosenItem(p, Control::Combo_SetBaudRate);
    return quint32(LeadingNumber(p.ui.ComboItemText(Control::Combo_SetBaudRate, index)));
}

// Enters configuration mode, sends one request (built when its turn comes, so
// it reads the controls as they are then), reports it and pauses, and
// leaves configuration mode again; stops early when the window closes.
template <typename BuildFrame>
void RequestInConfigMode(Program& p, BuildFrame buildFrame, ModuleRequest request, int pause)
{
    SendFrame(p, EnterConfigFrame);
    Delay(p, 100);
    if (OperationInterrupted(p)) return EndExclusiveOperation(p);

    SendFrame(p, buildFrame());
    // A request that found the device gone was not sent; the log must not say it was.
    if (OperationInterrupted(p)) return EndExclusiveOperation(p);
    Report(p, {.kind = ModuleEvent::Kind::RequestSent, .request = request});
    Delay(p, pause);
    if (OperationInterrupted(p)) return EndExclusiveOperation(p);

    SendFrame(p, ExitConfigFrame);
    Delay(p, 100);
    EndExclusiveOperation(p);
}

}  // namespace

void SetModuleBaudRate(Program& p)
{
    if (!MayStartOperation(p)) return;
    if (!Confirmed(p, Texts::tr("确认修改模块波特率"), Texts::tr("修改波特率"))) return;
    if (!BeginExclusiveOperation(p)) return;
    // Only the module changes its rate; our own port keeps its settings.
    RequestInConfigMode(p, [&p] { return SetBaudFrame(SelectedModuleRate(p)); }, ModuleRequest::SetBaudRate, 150);
}

void ReadModule(Program& p)
{
    if (!MayStartOperation(p)) return;
    if (!Confirmed(p, Texts::tr("将从模块读取数据到配置软件，数据将被替换"), Texts::tr("读取模块")))
        return;
    if (!BeginExclusiveOperation(p)) return;

    SendFrame(p, EnterConfigFrame);
    Delay(p, 100);
    if (OperationInterrupted(p)) return EndExclusiveOperation(p);

    // No pause after the request: the table is emptied and the buttons are
    // grey before the receive tick can place the first record. The module
    // leaves configuration mode by itself after the dump.
    p.state.readEnd = ReadEnd::Running;
    p.state.readAliveAt = p.ui.TickCount();
    SendFrame(p, ReadRequestFrame);
    // A device gone in this very write ends the read before it began: the table stays.
    if (OperationInterrupted(p)) return EndExclusiveOperation(p);
    Report(p, {.kind = ModuleEvent::Kind::RequestSent, .request = ModuleRequest::Read});
    KeepTableBeforeRead(p);
    p.table.ClearRange(TableLayout::kFirstValueRow, TableLayout::kOnColumn, TableLayout::kLastValueRow,
                      TableLayout::kOffColumn);

    // The module buttons stay disabled until the dump ends (the receive tick
    // enables them) or the port is closed; the port button comes back now so
    // that a dump that never ends can be given up.
    p.state.operationRunning = false;
    DisableModuleButtons(p);
    p.ui.SetDisabled(Control::Button_TogglePort, false);
}

void ClearModule(Program& p)
{
    if (!MayStartOperation(p)) return;
    if (!Confirmed(p, Texts::tr("确认清空模块数据"), Texts::tr("清空模块"))) return;
    if (!BeginExclusiveOperation(p)) return;
    RequestInConfigMode(p, [] { return ClearRequestFrame; }, ModuleRequest::Clear, 200);
}

void LearnReport(Program& p)
{
    // One write and no pause, so it never interleaves by itself; it is still
    // refused while another operation holds the line.
    if (!MayStartOperation(p)) return;
    LeaveGivenBackRead(p);
    if (!p.state.portOpen) {
        ShowNotice(p, Texts::tr("请先打开端口"));
        return;
    }
    const QString data = RemoveBlanks(p.ui.GetText(Control::Edit_Learn));
    if (data.isEmpty()) {
        ShowNotice(p, Texts::tr("请输入数据"));
        return;
    }
    HexProblem problem;
    const QByteArray bytes = HexToBytes(LearnReportFrame(data), &problem);
    if (bytes.isEmpty()) return ShowHexProblem(p, problem);
    if (OperationInterrupted(p)) return;

    // The log line promises the phone can test now; only a whole write keeps that promise.
    const int written = WriteToPort(p, bytes);
    if (written == bytes.size()) Report(p, {.kind = ModuleEvent::Kind::LearnReportSent});
}

void ShowHexProblem(Program& p, const HexProblem& problem)
{
    const QString text = problem.kind == HexProblem::Kind::OddLength
        ? Texts::tr("十六进制数据长度必须是偶数")
        : Texts::tr("无效的十六进制字符: %1").arg(problem.character);
    p.ui.ShowMessageBox(text, MessageBoxFlags::Ok, Texts::tr("错误"));
}

void LeaveConfigurationModeAtExit(Program& p)
{
    const bool underWay = p.state.operationRunning || p.state.readEnd == ReadEnd::Running;
    if (!p.state.portOpen || !underWay) return;
    // SendFrame writes nothing once the window is going, and a device found
    // gone must not touch a window that is going away: one plain write, the
    // last before the port closes.
    const QByteArray frame = FixedFrameBytes(ExitConfigFrame);
    p.serial.sio_write(p.state.portNumber, frame.constData(), int(frame.size()));
}
