#include "app/WindowProgram.h"

#include <utility>

#include "app/FileHandlers.h"
#include "config/ConfigTable.h"
#include "core/Texts.h"
#include "protocol/HexCodec.h"

namespace {

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
void HintToCheckTheLine(const WindowWords& w)
{
    if (w.line.hintGiven || w.shuttingDown) return;
    w.line.hintGiven = true;
    LogLine(w.ui, Texts::tr("请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电"));
}

QString DoubtInWords(DoubtReason why)
{
    switch (why) {
    case DoubtReason::Unconfirmed: return Texts::tr("模块的应答不清楚，无法确认此代码");
    case DoubtReason::StrayBytes: break;
    }
    return Texts::tr("此代码旁收到了无法识别的字节，代码可能有误");
}

// The doubtful codes of a read, by name; each marked in the table when the
// read filled it.
void TellDoubtfulCells(Program& p, const QVector<CellPosition>& cells, bool readFilledTable)
{
    if (cells.isEmpty()) return;
    LogLine(p.ui, Texts::tr("可能有误的代码：%1").arg(CellNames(p.table, cells)));
    if (!readFilledTable) return;
    MarkDoubtful(p.table, p.session.LatestRead().doubtful);
}

void TellDumpEnded(Program& p, const ModuleEvent& e)
{
    LogLine(p.ui, Texts::tr("数据提取完成"));
    if (p.state.comparing) return;
    // Bytes that were no record came in the dump: a record may be missing too.
    if (!e.whole && !e.doubtful.isEmpty())
        LogLine(p.ui, Texts::tr("有 %1 个代码可能有误，空白的单元格也可能漏了代码，请重新读取").arg(e.doubtful.size()));
    else if (!e.whole)
        LogLine(p.ui, Texts::tr("数据中有无法识别的字节，空白的单元格可能漏了代码，请重新读取"));
    else if (!e.doubtful.isEmpty())
        LogLine(p.ui, Texts::tr("有 %1 个代码可能有误，请重新读取").arg(e.doubtful.size()));
    // A whole dump filled the table: it is the module's now.
    const bool readFilledTable = e.dumpStarted;
    TellDoubtfulCells(p, e.doubtful, readFilledTable);
    if (readFilledTable) NoteTableReplacedByRead(p.Files());
}

}  // namespace

void MarkDoubtful(ConfigTable& table, const QVector<DoubtfulCode>& codes)
{
    for (const DoubtfulCode& d : codes)
        table.SetCellMark(d.cell.row, d.cell.column, {CellMarkKind::Doubtful, DoubtInWords(d.why), QString()});
}

QString CellNames(const ConfigTable& table, const QVector<CellPosition>& cells)
{
    constexpr int kNamed = 12;
    QStringList named;
    for (const CellPosition& c : cells.mid(0, kNamed))
        named << table.GetCellText(c.row, 0) + QLatin1Char(' ') + table.GetCellText(0, c.column);
    QString words = named.join(Texts::tr("、"));
    if (cells.size() > kNamed) words += Texts::tr(" …另有 %1 个").arg(cells.size() - kNamed);
    return words;
}

WindowProgram::WindowProgram(UiServices& ui, SerialLibrary& serial, ConfigTable& table)
    : pacing(ui), session(serial, table, pacing), document(table),
      program{AppState{}, ui, serial, table, session.Link(), session, document},
      narration(program)
{
    pacing.EndWhen(program.state.shuttingDown);
    session.Link().Listen(&narration);
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
    FollowOperation(p_.Hold());
}

void FollowOperation(const TableHold& hold)
{
    const bool held = hold.link.UnderWay() || hold.comparing;
    if (held == hold.document.Held()) return;
    hold.document.Hold(held);
    for (Control c : kFileButtons) hold.ui.SetDisabled(c, held);
    hold.ui.SetReadOnly(Control::ConfigGrid, held);
}

void WindowNarration::Narrate(const ModuleEvent& e)
{
    Program& p = p_;
    using Kind = ModuleEvent::Kind;
    switch (e.kind) {
    case Kind::PortOpened:
        p.ui.SetCaption(Control::Button_TogglePort, Texts::tr("关闭"));
        LogLine(p.ui, Texts::tr("打开端口: %1 %2").arg(e.portName, QString::number(e.rate)));
        EnableModuleButtons(p.ui);
        return;
    case Kind::OpenRefused:
        // The code alone tells the user nothing; the log says why, behind the notice.
        LogLine(p.ui, Texts::tr("端口打开失败: COM%1 %2").arg(QString::number(e.port), RefusalInWords(e.refusal)));
        ShowNotice(p.ui, Texts::tr("端口打开失败%1").arg(e.result));
        return;
    case Kind::PortClosed:
        p.ui.SetCaption(Control::Button_TogglePort, Texts::tr("开启"));
        LogLine(p.ui, Texts::tr("端口已关闭"));
        DisableModuleButtons(p.ui);
        p.table.ClearCellMarks();
        return;
    case Kind::PortLost: LogLine(p.ui, Texts::tr("端口已断开: COM%1").arg(e.port)); return;
    case Kind::RequestSent: LogLine(p.ui, RequestInWords(e.request)); return;
    case Kind::LearnReportSent: LogLine(p.ui, Texts::tr("已上报，请手机上点击按钮测试")); return;
    case Kind::CodeNotConverted: {
        HexProblem problem;
        HexToBytes(e.text, &problem);
        ShowHexProblem(p.ui, problem);
        return;
    }
    case Kind::OperationBegan:
        DisableModuleButtons(p.ui);
        p.ui.SetDisabled(Control::Button_TogglePort, true);
        return;
    case Kind::OperationEnded:
        if (e.free)
            EnableModuleButtons(p.ui);
        else
            DisableModuleButtons(p.ui);
        p.ui.SetDisabled(Control::Button_TogglePort, false);
        return;
    case Kind::ModuleFree:
        if (!p.state.comparing) EnableModuleButtons(p.ui);
        return;
    case Kind::Progress: p.ui.SetPosition(Control::ProgressBar1, e.position); return;
    case Kind::EnterEcho: LogLine(p.ui, Texts::tr("模块进入配置模式")); return;
    case Kind::ExitEcho: LogLine(p.ui, Texts::tr("模块退出配置模式")); return;
    case Kind::DumpStarted: LogLine(p.ui, Texts::tr("开始从模块提取数据")); return;
    case Kind::DumpEnded: TellDumpEnded(p, e); return;
    case Kind::Unrecognised: {
        // As BytesToHex writes it: a space after every pair, the last one included.
        LogLine(p.ui, BytesToHex(e.bytes));
        p.ui.MoveCaretToEnd(Control::Edit_Display);
        return;
    }
    case Kind::ReadUnanswered:
        LogLine(p.ui, Texts::tr("模块无应答"));
        HintToCheckTheLine(p.Words());
        return;
    case Kind::TableGivenBack:
        if (!p.state.comparing) LogLine(p.ui, Texts::tr("读取未完成，配置表已恢复为读取前的内容"));
        return;
    case Kind::ReadResumed:
        LogLine(p.ui, Texts::tr("模块继续发送数据"));
        DisableModuleButtons(p.ui);
        return;
    // Said with the operation's outcome, after the no-answer line.
    case Kind::LineLooped:
    case Kind::CodeSent:
    case Kind::Record: return;
    }
}

namespace {

// The module did not answer an operation's enter frame: said after the
// operation's own lines, with what was seen on the line.
void TellNoAnswer(const WindowWords& w, const ModuleOutcome& o)
{
    LogLine(w.ui, Texts::tr("模块无应答"));
    if (o.lineLooped)
        LogLine(w.ui, Texts::tr("线路只把发出的数据原样送回，没有模块应答（环回或接线错误？）"));
    else
        HintToCheckTheLine(w);
}

}  // namespace

void TellShortOutcome(const WindowWords& w, ModuleRequest request, const ModuleOutcome& o)
{
    if (w.shuttingDown) return;
    switch (o.kind) {
    case OutcomeKind::NoAnswer:
    case OutcomeKind::Looped: TellNoAnswer(w, o); return;
    case OutcomeKind::Done:
        // The module answers at its new rate from now on; our port keeps its own.
        if (request == ModuleRequest::SetBaudRate && o.requestSent && o.rate > 0)
            LogLine(w.ui, Texts::tr("模块波特率已设为 %1：下次操作前请关闭端口，在 波特率: 中选择 %1 后再打开").arg(o.rate));
        HintIfNotTheModule(w);
        return;
    default: HintIfNotTheModule(w); return;
    }
}

void TellWriteOutcome(const WindowWords& w, bool& compareHintGiven, const ModuleOutcome& o)
{
    if (o.kind == OutcomeKind::Ending) {
        // Nobody reads the log of a window that is going away.
        w.ui.ReportOnConsole(QStringLiteral("velmora: the window was closed while it wrote the module: "
                                            "%1 of %2 codes sent, the write is incomplete")
                                 .arg(o.codesSent)
                                 .arg(o.codes));
        return;
    }
    switch (o.kind) {
    case OutcomeKind::Done:
        LogLine(w.ui, o.exitEcho ? Texts::tr("写入完成，共发送 %1 个代码").arg(o.codesSent)
                           : Texts::tr("已发送 %1 个代码，但未收到模块退出配置模式的应答").arg(o.codesSent));
        if (o.exitEcho && !std::exchange(compareHintGiven, true)) LogLine(w.ui, Texts::tr("按 F7 与模块比较"));
        break;
    case OutcomeKind::NoAnswer:
        LogLine(w.ui, Texts::tr("已发送 %1 个代码，模块无应答（线路上没有模块？）").arg(o.codesSent));
        HintToCheckTheLine(w);
        return;
    case OutcomeKind::Looped: TellNoAnswer(w, o); return;
    case OutcomeKind::PortLost:
        LogLine(w.ui, Texts::tr("写入未完成：已发送 %1/%2 个代码，端口已断开").arg(o.codesSent).arg(o.codes));
        LogLine(w.ui, Texts::tr("模块中可能只有部分代码，也可能仍在配置模式；端口恢复后请重新写入"));
        return;
    case OutcomeKind::NotStarted: return;
    default:
        LogLine(w.ui, Texts::tr("写入未完成：已发送 %1/%2 个代码，已停止").arg(o.codesSent).arg(o.codes));
        break;
    }
    HintIfNotTheModule(w);
}

void HintIfNotTheModule(const WindowWords& w)
{
    // Stray bytes beside the module's own answers are noise on a line that works.
    if (w.line.strayBytes && !w.line.moduleHeard) HintToCheckTheLine(w);
}

void ShowHexProblem(UiServices& ui, const HexProblem& problem)
{
    const QString text = problem.kind == HexProblem::Kind::OddLength
        ? Texts::tr("十六进制数据长度必须是偶数")
        : Texts::tr("无效的十六进制字符: %1").arg(problem.character);
    ui.ShowMessageBox(text, MessageBoxFlags::Ok, Texts::tr("错误"));
}
