#include "app/ModuleHandlers.h"

#include "app/PortHandlers.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "core/LeadingNumber.h"
#include "core/Program.h"
#include "core/TableLayout.h"
#include "core/Texts.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "protocol/Upload.h"

namespace {

// What the link tells while one operation of the window runs: the codes that
// went out whole, whether its request went out, the module's echoes. Deaf
// once another operation begins or the port closes after it.
class OperationWatch : public ModuleObserver {
public:
    explicit OperationWatch(ModuleLink& link) : link_(link) { link_.Listen(this); }
    ~OperationWatch() override { link_.StopListening(this); }
    OperationWatch(const OperationWatch&) = delete;
    OperationWatch& operator=(const OperationWatch&) = delete;

    void OnModuleEvent(const ModuleEvent& e) override
    {
        using Kind = ModuleEvent::Kind;
        if (over) return;
        switch (e.kind) {
        case Kind::CodeSent: ++codesSent; return;
        case Kind::RequestSent: requestSent = true; return;
        case Kind::EnterEcho: enterEcho = true; return;
        case Kind::ExitEcho: exitEcho = true; return;
        case Kind::OperationEnded: ended_ = true; return;
        case Kind::OperationBegan: over = ended_; return;
        case Kind::PortClosed: over = true; return;
        default: return;
        }
    }

    int codesSent = 0;
    bool requestSent = false;
    bool enterEcho = false;
    bool exitEcho = false;
    bool over = false;

private:
    ModuleLink& link_;
    bool ended_ = false;
};

// On a busy machine the module's echo of the exit frame can come after the
// frame's pause; a write the module answered waits for it this long more.
constexpr int kLateExitEchoMs = 1000;

void AwaitLateExitEcho(Program& p, const OperationWatch& watch)
{
    const quint32 start = p.ui.TickCount();
    while (!watch.exitEcho && !watch.over && !p.state.shuttingDown && p.ui.TickCount() - start < kLateExitEchoMs)
        p.link.Delay(20);
}

// The value cells holding a code, as the upload sends them.
int CodesIn(const ConfigTable& table)
{
    using namespace TableLayout;
    int codes = 0;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) codes += !RemoveBlanks(table.GetCellText(row, column)).isEmpty();
    return codes;
}

WriteOutcome OutcomeOf(OperationEnd end, const OperationWatch& watch, int codes, bool windowClosed)
{
    using Kind = WriteOutcome::Kind;
    using CutBy = WriteOutcome::CutBy;
    WriteOutcome o{.sent = watch.codesSent, .codes = codes, .exitEcho = watch.exitEcho};
    switch (end) {
    case OperationEnd::Done: o.kind = watch.enterEcho || watch.exitEcho ? Kind::AllSent : Kind::NoEcho; break;
    case OperationEnd::Interrupted:
        o.kind = Kind::CutOff;
        o.cut = windowClosed ? CutBy::WindowClosed : CutBy::PortLost;
        break;
    case OperationEnd::Looped: o.kind = Kind::LoopedLine; break;
    case OperationEnd::NotStarted:
    case OperationEnd::Unsent:
    case OperationEnd::Held:
    case OperationEnd::Stopped:
    case OperationEnd::ShortWrite:
        o.kind = Kind::CutOff;
        o.cut = CutBy::Stopped;
        break;
    }
    return o;
}

// The rate of the module-baud box's chosen list item (selected, or typed as
// it reads); any other typed text is not the module's rate.
quint32 SelectedModuleRate(Program& p)
{
    const int index = ChosenItem(p, Control::Combo_SetBaudRate);
    return quint32(LeadingNumber(p.ui.ComboItemText(Control::Combo_SetBaudRate, index)));
}

}  // namespace

void SetModuleBaudRate(Program& p)
{
    if (!p.link.MayStartOperation()) return;
    if (!Confirmed(p, Texts::tr("确认修改模块波特率"), Texts::tr("修改波特率"))) return;
    quint32 rate = 0;
    OperationWatch watch(p.link);
    p.link.SetModuleBaudRate([&p, &rate] { return rate = SelectedModuleRate(p); });
    HintIfNotTheModule(p);
    // The module answers at its new rate from now on; our port keeps its own.
    if (watch.requestSent && rate > 0 && !p.state.shuttingDown)
        AppendLog(p, Texts::tr("模块波特率已设为 %1：下次操作前请关闭端口，在 波特率: 中选择 %1 后再打开").arg(rate)
                         + QStringLiteral("\r\n"));
}

void ReadModule(Program& p)
{
    if (!p.link.MayStartOperation()) return;
    if (!Confirmed(p, Texts::tr("将从模块读取数据到配置软件，数据将被替换"), Texts::tr("读取模块"))) return;
    p.table.ClearCellMarks();  // what a comparison found holds no longer
    p.link.Read();
}

void ClearModule(Program& p)
{
    if (!p.link.MayStartOperation()) return;
    if (!Confirmed(p, Texts::tr("确认清空模块数据"), Texts::tr("清空模块"))) return;
    p.table.ClearCellMarks();
    p.link.Clear();
    HintIfNotTheModule(p);
}

void LearnReport(Program& p)
{
    if (!p.link.MayStartOperation()) return;
    if (!p.link.IsOpen()) {
        ShowNotice(p, Texts::tr("请先打开端口"));
        return;
    }
    const QString data = RemoveBlanks(p.ui.GetText(Control::Edit_Learn));
    if (data.isEmpty()) {
        ShowNotice(p, Texts::tr("请输入数据"));
        return;
    }
    HexProblem problem;
    const QByteArray bytes = HexToBytes(data, &problem);
    if (problem) return ShowHexProblem(p, problem);
    p.link.LearnReport(bytes);
}

void WriteModule(Program& p)
{
    if (!p.link.MayStartOperation()) return;

    // Every code is checked before the first frame, so a typing error is
    // found while the module is still untouched.
    int badRow = 0, badColumn = 0;
    HexProblem problem;
    if (FindBadCode(p.table, badRow, badColumn, &problem)) {
        ShowHexProblem(p, problem);
        // The codec's boxes deliver messages; the window may be going away.
        if (p.state.shuttingDown) return;
        ShowNotice(p, Texts::tr("位置在%1").arg(p.table.GetCellText(badRow, 0)));
        if (p.state.shuttingDown) return;
        p.table.SetCurrentCell(badRow, badColumn);
        return;
    }

    if (!Confirmed(p, Texts::tr("确认写入自定义数据"), Texts::tr("写入数据"))) return;
    p.table.ClearCellMarks();
    // The grid takes no edit while the upload runs: the codes counted now are those it sends.
    const int codes = CodesIn(p.table);
    OperationWatch watch(p.link);
    const OperationEnd end = p.link.Upload([&p](int row, int column) { return p.table.GetCellText(row, column); });
    if (end == OperationEnd::NotStarted) return;
    if (end == OperationEnd::Done && watch.enterEcho && !watch.exitEcho) AwaitLateExitEcho(p, watch);
    TellWriteOutcome(p, OutcomeOf(end, watch, codes, p.state.shuttingDown));
}

void ReceiveTick(Program& p) { p.link.ReceiveTick(); }
