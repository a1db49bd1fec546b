#pragma once
// A block of cells as text, the way spreadsheets pass it through the
// clipboard: rows separated by line breaks, cells by tabs, a cell that holds
// a tab, a line break or a quote put in quotes with its quotes doubled.

#include <QString>
#include <QStringList>
#include <QVector>

class ConfigTable;

// The cells from (firstRow, firstColumn) to (lastRow, lastColumn), each
// without its trailing blanks, so a code reads as it was typed; a text that
// a spreadsheet would run as a formula (FormulaLike) with an apostrophe in front.
QString BlockAsText(const ConfigTable& table, int firstRow, int firstColumn, int lastRow, int lastColumn);

// The rows of cells of such a text. A line break at the very end ends the
// last row; control characters inside a cell are dropped, as the cell
// editor drops them. Blank text gives no rows.
QVector<QStringList> BlockOfText(const QString& text);

enum class PasteOutcome { Pasted, PastTheEnd, TooLong, NotAValueCell };

// Writes `rows` into the table with its first cell at (row, column), as one
// undo step. Refused, changing nothing, when a cell would land past the
// table's last row or column or a text is longer than a cell can be saved;
// titles and headers are never pasted over.
PasteOutcome PasteBlock(ConfigTable& table, int row, int column, const QVector<QStringList>& rows);
