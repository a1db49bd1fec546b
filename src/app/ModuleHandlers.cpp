#include "app/ModuleHandlers.h"

#include "app/PortHandlers.h"
#include "config/ConfigTable.h"
#include "core/LeadingNumber.h"
#include "core/Program.h"
#include "core/Texts.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "protocol/Upload.h"

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
    p.link.SetModuleBaudRate([&p] { return SelectedModuleRate(p); });
}

void ReadModule(Program& p)
{
    if (!p.link.MayStartOperation()) return;
    if (!Confirmed(p, Texts::tr("将从模块读取数据到配置软件，数据将被替换"), Texts::tr("读取模块"))) return;
    p.link.Read();
}

void ClearModule(Program& p)
{
    if (!p.link.MayStartOperation()) return;
    if (!Confirmed(p, Texts::tr("确认清空模块数据"), Texts::tr("清空模块"))) return;
    p.link.Clear();
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
    // The grid takes no edit while the upload runs; each cell is still read when its turn comes.
    p.link.Upload([&p](int row, int column) { return p.table.GetCellText(row, column); });
}

void ReceiveTick(Program& p) { p.link.ReceiveTick(); }

void ShowHexProblem(Program& p, const HexProblem& problem)
{
    const QString text = problem.kind == HexProblem::Kind::OddLength
        ? Texts::tr("十六进制数据长度必须是偶数")
        : Texts::tr("无效的十六进制字符: %1").arg(problem.character);
    p.ui.ShowMessageBox(text, MessageBoxFlags::Ok, Texts::tr("错误"));
}
