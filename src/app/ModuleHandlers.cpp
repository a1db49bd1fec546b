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
quint32 SelectedModuleRate(UiServices& ui)
{
    const int index = ChosenItem(ui, Control::Combo_SetBaudRate);
    return quint32(LeadingNumber(ui.ComboItemText(Control::Combo_SetBaudRate, index)));
}

}  // namespace

void SetModuleBaudRate(const ModuleParts& m)
{
    if (!m.link.MayStartOperation()) return;
    if (!Confirmed(m.words.ui, Texts::tr("确认修改模块波特率"), Texts::tr("修改波特率"))) return;
    const ModuleOutcome o = m.session.SetModuleBaud([&ui = m.words.ui] { return SelectedModuleRate(ui); });
    TellShortOutcome(m.words, ModuleRequest::SetBaudRate, o);
}

void ReadModule(const ModuleParts& m)
{
    if (!m.link.MayStartOperation()) return;
    if (!Confirmed(m.words.ui, Texts::tr("将从模块读取数据到配置软件，数据将被替换"), Texts::tr("读取模块"))) return;
    m.table.ClearCellMarks();  // what a comparison found holds no longer
    m.session.StartRead();
}

void ClearModule(const ModuleParts& m)
{
    if (!m.link.MayStartOperation()) return;
    if (!Confirmed(m.words.ui, Texts::tr("确认清空模块数据"), Texts::tr("清空模块"))) return;
    m.table.ClearCellMarks();
    TellShortOutcome(m.words, ModuleRequest::Clear, m.session.Clear());
}

void LearnReport(const ModuleParts& m)
{
    if (!m.link.MayStartOperation()) return;
    if (!m.link.IsOpen()) {
        ShowNotice(m.words.ui, Texts::tr("请先打开端口"));
        return;
    }
    const QString data = RemoveBlanks(m.words.ui.GetText(Control::Edit_Learn));
    if (data.isEmpty()) {
        ShowNotice(m.words.ui, Texts::tr("请输入数据"));
        return;
    }
    HexProblem problem;
    const QByteArray bytes = HexToBytes(data, &problem);
    if (problem) return ShowHexProblem(m.words.ui, problem);
    m.session.LearnReport(bytes);
}

void WriteModule(const ModuleParts& m)
{
    if (!m.link.MayStartOperation()) return;

    // Every code is checked before the first frame, so a typing error is
    // found while the module is still untouched.
    int badRow = 0, badColumn = 0;
    HexProblem problem;
    if (FindBadCode(m.table, badRow, badColumn, &problem)) {
        ShowHexProblem(m.words.ui, problem);
        // The codec's boxes deliver messages; the window may be going away.
        if (m.words.shuttingDown) return;
        ShowNotice(m.words.ui, Texts::tr("位置在%1").arg(m.table.GetCellText(badRow, 0)));
        if (m.words.shuttingDown) return;
        m.table.SetCurrentCell(badRow, badColumn);
        return;
    }

    if (!Confirmed(m.words.ui, Texts::tr("确认写入自定义数据"), Texts::tr("写入数据"))) return;
    m.table.ClearCellMarks();
    // The grid takes no edit while the upload runs: the codes counted now are those it sends.
    // The window's upload does not wait for the module's answers.
    const ModuleOutcome o = m.session.Write([&table = m.table](int row, int column) { return table.GetCellText(row, column); },
                                            CodesIn(m.table), false);
    TellWriteOutcome(m.words, m.compareHintGiven, o);
}

void ReceiveTick(ModuleLink& link) { link.ReceiveTick(); }
