#include "app/ModuleHandlers.h"

#include "app/PortHandlers.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "core/LeadingNumber.h"
#include "app/Program.h"
#include "core/TableLayout.h"
#include "core/Texts.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "protocol/Upload.h"
#include "session/ModuleSession.h"

namespace {

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
    const ModuleOutcome o = p.session.SetModuleBaud([&p] { return SelectedModuleRate(p); });
    TellShortOutcome(p, ModuleRequest::SetBaudRate, o);
}

void ReadModule(Program& p)
{
    if (!p.link.MayStartOperation()) return;
    if (!Confirmed(p, Texts::tr("将从模块读取数据到配置软件，数据将被替换"), Texts::tr("读取模块"))) return;
    p.table.ClearCellMarks();  // what a comparison found holds no longer
    p.session.StartRead();
}

void ClearModule(Program& p)
{
    if (!p.link.MayStartOperation()) return;
    if (!Confirmed(p, Texts::tr("确认清空模块数据"), Texts::tr("清空模块"))) return;
    p.table.ClearCellMarks();
    TellShortOutcome(p, ModuleRequest::Clear, p.session.Clear());
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
    p.session.LearnReport(bytes);
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
    // The window's upload does not wait for the module's answers.
    const ModuleOutcome o = p.session.Write([&p](int row, int column) { return p.table.GetCellText(row, column); },
                                            CodesIn(p.table), false);
    TellWriteOutcome(p, o);
}

void ReceiveTick(Program& p) { p.link.ReceiveTick(); }
