#include "protocol/TableBeforeRead.h"

#include "core/ModuleEvents.h"
#include "core/Program.h"
#include "config/ConfigTable.h"
#include "config/TableHistory.h"
#include "core/TableLayout.h"

namespace {

using namespace TableLayout;

QStringList ValueCells(const ConfigTable& table)
{
    QStringList cells;
    cells.reserve(2 * kLastValueRow);
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) cells << table.GetCellText(row, column);
    return cells;
}

void PutValueCells(ConfigTable& table, const QStringList& cells)
{
    qsizetype i = 0;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) table.SetCellText(row, column, cells.value(i++));
}

// What the read writes from here on, however many ticks it takes, is one undo
// step; so is its giving back, which then leaves no step at all.
void GatherReadIntoOneStep(Program& p)
{
    p.table.History().BeginRead([&p] { return p.state.beforeRead.tableIsRead; });
    p.state.beforeRead.tableIsRead = true;
}

}  // namespace

void KeepTableBeforeRead(Program& p)
{
    TableBeforeRead& kept = p.state.beforeRead;
    kept.cells = ValueCells(p.table);
    GatherReadIntoOneStep(p);
    ForgetGivenBackRead(p);
}

void KeepReadResult(Program& p)
{
    p.state.beforeRead.tableIsRead = false;
    p.state.beforeRead.cells.clear();  // a copy of the whole table, of no more use
    ForgetGivenBackRead(p);
}

void GiveBackUnfinishedRead(Program& p)
{
    TableBeforeRead& kept = p.state.beforeRead;
    if (!kept.tableIsRead) return;
    kept.mayResume = p.state.readEnd == ReadEnd::NoAnswer;
    if (kept.mayResume) kept.unfinished = ValueCells(p.table);
    PutValueCells(p.table, kept.cells);
    kept.tableIsRead = false;  // only now: the cells given back belong to the read's undo step
    Report(p, {.kind = ModuleEvent::Kind::TableGivenBack});
}

bool MayResumeRead(const Program& p) { return p.state.beforeRead.mayResume; }

void ResumeGivenBackRead(Program& p)
{
    TableBeforeRead& kept = p.state.beforeRead;
    if (!kept.mayResume) return;
    // Edits made to the given-back table are what a later give-back returns.
    kept.cells = ValueCells(p.table);
    GatherReadIntoOneStep(p);
    PutValueCells(p.table, kept.unfinished);
    ForgetGivenBackRead(p);
    Report(p, {.kind = ModuleEvent::Kind::ReadResumed});
}

void ForgetGivenBackRead(Program& p)
{
    p.state.beforeRead.mayResume = false;
    p.state.beforeRead.unfinished.clear();
}
