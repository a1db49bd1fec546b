#include "app/CompareHandlers.h"

#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "config/TableCsv.h"
#include "app/Program.h"
#include "core/Texts.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "session/ConfirmedCodes.h"
#include "session/ModuleSession.h"
#include "session/TableCompare.h"

namespace {

void TellComparison(const ModuleParts& m, const TableComparison& result, const ConfirmedCodes& module,
                    const QVector<DoubtfulCode>& doubtful)
{
    QVector<CellPosition> differing;
    for (const CellDifference& d : result.differences) {
        differing << CellPosition{d.row, d.column};
        QString note = d.inModule.isEmpty() ? Texts::tr("模块中为空") : Texts::tr("模块中为 %1").arg(d.inModule);
        if (d.notACode) note = Texts::tr("表中不是代码") + QLatin1Char('\n') + note;
        // As a read writes the code it brought.
        const QByteArray code = module.Code(d.row, d.column);
        m.table.SetCellMark(d.row, d.column,
                            {CellMarkKind::Differs, note, code.isEmpty() ? QString() : BytesToHex(code)});
    }
    MarkDoubtful(m.table, doubtful);

    if (differing.isEmpty() && result.unconfirmed.isEmpty())
        LogLine(m.words.ui, Texts::tr("模块与配置表一致（共 %1 个代码）").arg(result.compared));
    if (!differing.isEmpty())
        LogLine(m.words.ui, Texts::tr("有 %1 个代码与模块不同：%2").arg(differing.size()).arg(CellNames(m.table, differing)));
    if (!result.unconfirmed.isEmpty()) LogLine(m.words.ui, Texts::tr("有 %1 个代码无法确认").arg(result.unconfirmed.size()));
}

}  // namespace

void CompareWithModule(const ModuleParts& m, const TableHold& hold, bool& comparing)
{
    if (comparing || m.link.UnderWay() || !m.link.MayStartOperation() || m.words.ui.IsDisabled(Control::Button_ReadModule))
        return;
    // Held from here: an open editor ends with what it holds, and nothing
    // edits, opens or saves the table until the comparison has told.
    comparing = true;
    FollowOperation(hold);
    m.table.ClearCellMarks();
    const TableCodes codes = CodesOf(m.table);

    // The link's reads go into this table meanwhile: whatever the module
    // sends, the window's table never holds it, not even for a moment.
    ConfigTable dumps;
    m.link.ReadInto(&dumps);
    ConfirmedCodes confirmed(false);
    const ReadOutcome r = m.session.ReadConfirmed(confirmed, {}, UnframableCodes(codes));
    m.link.ReadInto(nullptr);
    // Every dump whole; some codes may still be unconfirmed, which the comparison says apart.
    const bool read = r.kind == OutcomeKind::Done || r.kind == OutcomeKind::Unconfirmed;

    comparing = false;
    if (m.words.shuttingDown) return;
    FollowOperation(hold);
    if (m.link.IsOpen() && m.link.MayStartOperation()) EnableModuleButtons(m.words.ui);
    if (read) return TellComparison(m, CompareTable(codes, confirmed), confirmed, r.doubtful);
    // A dump end that followed no dump start: nothing the module holds came.
    if (r.dumpEndAlone || r.kind == OutcomeKind::Unclear) LogLine(m.words.ui, Texts::tr("模块无应答"));
}
