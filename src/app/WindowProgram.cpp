#include "app/WindowProgram.h"

#include "config/FileHandlers.h"
#include "core/Texts.h"
#include "protocol/HexCodec.h"

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

void Line(Program& p, const QString& text) { AppendLog(p, text + kLineEnd); }

QString RefusalInWords(OpenRefusal refusal)
{
    switch (refusal) {
    case OpenRefusal::NoSuchDevice: return Texts::tr("设备不存在");
    case OpenRefusal::InUse: return Texts::tr("端口被占用");
    case OpenRefusal::NoPermission: return Texts::tr("没有权限，请将用户加入 dialout 组后重新登录");
    case OpenRefusal::Other: return Texts::tr("系统拒绝打开");
    case OpenRefusal::DeviceGone:
    case OpenRefusal::Unknown: break;
    }
    return Texts::tr("原因不明");
}

QString RequestInWords(ModuleRequest request)
{
    switch (request) {
    case ModuleRequest::SetBaudRate: return Texts::tr("设置信息已发出");
    case ModuleRequest::Read: return Texts::tr("已发送读取指令");
    case ModuleRequest::Clear: break;
    }
    return Texts::tr("已发送清空指令");
}

// The file buttons, greyed while an operation holds the table.
constexpr Control kFileButtons[] = {Control::Button_OpenFile, Control::Button_SaveFile, Control::Button_SaveAs};

// What to check when nothing the module's comes back: said once, until an
// operation begins or the port is opened or closed again.
void HintToCheckTheLine(Program& p)
{
    if (p.state.line.hintGiven || p.state.shuttingDown) return;
    p.state.line.hintGiven = true;
    Line(p, Texts::tr("请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电"));
}

}  // namespace

WindowProgram::WindowProgram(UiServices& ui, SerialLibrary& serial, ConfigTable& table)
    : pacing(ui), link(serial, table, pacing), program{AppState{}, ui, serial, table, link}, narration(program)
{
    pacing.EndWhen(program.state.shuttingDown);
    link.Listen(&narration);
}

void WindowNarration::OnModuleEvent(const ModuleEvent& e)
{
    using Kind = ModuleEvent::Kind;
    switch (e.kind) {
    case Kind::PortOpened:
    case Kind::PortClosed:
    case Kind::OperationBegan: p_.state.line = {}; break;
    case Kind::EnterEcho:
    case Kind::ExitEcho:
    case Kind::DumpStarted:
    case Kind::Record:
    case Kind::DumpEnded: p_.state.line.moduleHeard = true; break;
    case Kind::Unrecognised: p_.state.line.strayBytes = true; break;
    default: break;
    }
    Narrate(e);
    FollowOperation();
}

// The one place the window follows whether an operation runs (the link
// decides it): while one does, nothing replaces, saves or edits the table
// under it; all comes back when it ends.
void WindowNarration::FollowOperation()
{
    const bool held = p_.link.UnderWay();
    if (held == p_.state.tableHeld) return;
    p_.state.tableHeld = held;
    for (Control c : kFileButtons) p_.ui.SetDisabled(c, held);
    p_.ui.SetReadOnly(Control::ConfigGrid, held);
}

void WindowNarration::Narrate(const ModuleEvent& e)
{
    Program& p = p_;
    using Kind = ModuleEvent::Kind;
    switch (e.kind) {
    case Kind::PortOpened:
        p.ui.SetCaption(Control::Button_TogglePort, Texts::tr("关闭"));
        Line(p, Texts::tr("打开端口: %1 %2").arg(e.portName, QString::number(e.rate)));
        EnableModuleButtons(p);
        return;
    case Kind::OpenRefused:
        // The code alone tells the user nothing; the log says why, behind the notice.
        Line(p, Texts::tr("端口打开失败: COM%1 %2").arg(QString::number(e.port), RefusalInWords(e.refusal)));
        ShowNotice(p, Texts::tr("端口打开失败%1").arg(e.result));
        return;
    case Kind::PortClosed:
        p.ui.SetCaption(Control::Button_TogglePort, Texts::tr("开启"));
        Line(p, Texts::tr("端口已关闭"));
        DisableModuleButtons(p);
        return;
    case Kind::PortLost: Line(p, Texts::tr("端口已断开: COM%1").arg(e.port)); return;
    case Kind::RequestSent: Line(p, RequestInWords(e.request)); return;
    case Kind::LearnReportSent: Line(p, Texts::tr("已上报，请手机上点击按钮测试")); return;
    case Kind::CodeNotConverted: {
        HexProblem problem;
        HexToBytes(e.text, &problem);
        ShowHexProblem(p, problem);
        return;
    }
    case Kind::OperationBegan:
        DisableModuleButtons(p);
        p.ui.SetDisabled(Control::Button_TogglePort, true);
        return;
    case Kind::OperationEnded:
        if (e.free)
            EnableModuleButtons(p);
        else
            DisableModuleButtons(p);
        p.ui.SetDisabled(Control::Button_TogglePort, false);
        return;
    case Kind::ModuleFree: EnableModuleButtons(p); return;
    case Kind::Progress: p.ui.SetPosition(Control::ProgressBar1, e.position); return;
    case Kind::EnterEcho: Line(p, Texts::tr("模块进入配置模式")); return;
    case Kind::ExitEcho: Line(p, Texts::tr("模块退出配置模式")); return;
    case Kind::DumpStarted: Line(p, Texts::tr("开始从模块提取数据")); return;
    case Kind::DumpEnded:
        Line(p, Texts::tr("数据提取完成"));
        // Bytes that were no record came in the dump: a record may be missing too.
        if (!e.whole && !e.doubtful.isEmpty())
            Line(p, Texts::tr("有 %1 个代码可能有误，空白的单元格也可能漏了代码，请重新读取").arg(e.doubtful.size()));
        else if (!e.whole)
            Line(p, Texts::tr("数据中有无法识别的字节，空白的单元格可能漏了代码，请重新读取"));
        else if (!e.doubtful.isEmpty())
            Line(p, Texts::tr("有 %1 个代码可能有误，请重新读取").arg(e.doubtful.size()));
        NoteTableReplacedByRead(p);  // the table is the module's now
        return;
    case Kind::Unrecognised: {
        // As BytesToHex writes it: a space after every pair, the last one included.
        AppendLog(p, BytesToHex(e.bytes) + kLineEnd);
        p.ui.MoveCaretToEnd(Control::Edit_Display);
        return;
    }
    case Kind::ReadUnanswered:
        Line(p, Texts::tr("模块无应答"));
        HintToCheckTheLine(p);
        return;
    case Kind::TableGivenBack: Line(p, Texts::tr("读取未完成，配置表已恢复为读取前的内容")); return;
    case Kind::ReadResumed:
        Line(p, Texts::tr("模块继续发送数据"));
        DisableModuleButtons(p);
        return;
    case Kind::LineLooped: Line(p, Texts::tr("线路只把发出的数据原样送回，没有模块应答（环回或接线错误？）")); return;
    case Kind::CodeSent:
    case Kind::Record: return;
    }
}

void TellWriteOutcome(Program& p, const WriteOutcome& o)
{
    using Kind = WriteOutcome::Kind;
    using CutBy = WriteOutcome::CutBy;
    if (o.kind == Kind::CutOff && o.cut == CutBy::WindowClosed) {
        // Nobody reads the log of a window that is going away.
        p.ui.ReportOnConsole(QStringLiteral("velmora: the window was closed while it wrote the module: "
                                            "%1 of %2 codes sent, the write is incomplete")
                                 .arg(o.sent)
                                 .arg(o.codes));
        return;
    }
    switch (o.kind) {
    case Kind::AllSent:
        Line(p, o.exitEcho ? Texts::tr("写入完成，共发送 %1 个代码").arg(o.sent)
                           : Texts::tr("已发送 %1 个代码，但未收到模块退出配置模式的应答").arg(o.sent));
        break;
    case Kind::NoEcho:
        Line(p, Texts::tr("已发送 %1 个代码，模块无应答（线路上没有模块？）").arg(o.sent));
        HintToCheckTheLine(p);
        return;
    case Kind::CutOff:
        Line(p, (o.cut == CutBy::PortLost ? Texts::tr("写入未完成：已发送 %1/%2 个代码，端口已断开")
                                          : Texts::tr("写入未完成：已发送 %1/%2 个代码，已停止"))
                    .arg(o.sent)
                    .arg(o.codes));
        break;
    case Kind::LoopedLine: return;  // the link's own line said no module is there: one line is enough
    }
    HintIfNotTheModule(p);
}

void HintIfNotTheModule(Program& p)
{
    // Stray bytes beside the module's own answers are noise on a line that works.
    if (p.state.line.strayBytes && !p.state.line.moduleHeard) HintToCheckTheLine(p);
}

void ShowHexProblem(Program& p, const HexProblem& problem)
{
    const QString text = problem.kind == HexProblem::Kind::OddLength
        ? Texts::tr("十六进制数据长度必须是偶数")
        : Texts::tr("无效的十六进制字符: %1").arg(problem.character);
    p.ui.ShowMessageBox(text, MessageBoxFlags::Ok, Texts::tr("错误"));
}
