#pragma once
// A table's codes against the module's, as the dumps confirmed them: which
// value cells hold what the module holds, which differ, and which the dumps
// could not confirm (never called different). velmora-cli's verify and the
// window's comparison both ask here.

#include <QString>
#include <QVector>

#include "config/TableCsv.h"
#include "core/ModuleEvents.h"

class ConfirmedCodes;

// A value cell whose code is not the module's.
struct CellDifference {
    int row = 0;
    int column = 0;     // TableLayout::kOnColumn or kOffColumn
    QString inTable;    // ComparableCode of the table's text; empty for an empty cell
    QString inModule;   // the module's code in canonical form; empty when it holds none
    bool notACode = false;  // the table's text is no code at all
};

struct TableComparison {
    QVector<CellDifference> differences;  // in table order
    QVector<CellPosition> unconfirmed;    // in table order
    int compared = 0;  // confirmed cells holding a code in the table, the module or both
};

// A cell's text for comparing: its canonical code, or for text that is no
// code, the text without blanks in upper case.
QString ComparableCode(const QString& text);

// Every value cell of `table` against the module's confirmed codes. The
// codes a dump cannot frame by itself come out right only when the dumps
// were read expecting them (UnframableCodes of the same table).
TableComparison CompareTable(const TableCodes& table, const ConfirmedCodes& module);
