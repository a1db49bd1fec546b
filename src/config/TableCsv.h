#pragma once
// The table's codes as CSV text, for diffs, spreadsheets and scripts. UTF-8;
// the header "row,title,on,off", then one line per value row, 1 to 96 in
// table order: the row number, its title, the "开" code and the "关" code. A
// code is written as upper-case hex pairs separated by one space, an empty
// cell as an empty field; fields are quoted only where they must be.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <memory>

#include "core/TableLayout.h"

class ConfigTable;

// The texts of the title column and of the value cells, indexed by table row
// and column; what lies outside the value cells and titles stays empty.
struct TableCodes {
    QString title[TableLayout::kRows];
    QString code[TableLayout::kRows][TableLayout::kColumns];

    bool operator==(const TableCodes& other) const;
};

// The titles and value cells of a table as they stand (another shape of
// table gives empty texts where it has no cell).
TableCodes CodesOf(const ConfigTable& table);
// Writes the value cells of `codes` into the table; titles are left alone.
void PutCodes(const TableCodes& codes, ConfigTable& table);

// A code in the CSV's form: the text without any blank (ASCII or full-width
// space, as the upload drops them), upper-cased, in pairs separated by one
// space; blank text gives the empty code. False, with the reason in English,
// when what is left is not whole pairs of hex digits or a blank splits a pair.
bool CanonicalCode(const QString& text, QString* code, QString* reason = nullptr);

// (row, column) of cells, in table order.
using CellList = QVector<QPair<int, int>>;

// True for a text a spreadsheet would run as a formula: one that begins with
// =, +, -, @, a tab or a CR. No code begins so.
bool FormulaLike(QStringView text);

// The CSV of the titles and codes. A value cell whose text is not a code is
// written as it stands, so that nothing is lost (reading the CSV back rejects
// it), and is listed in *notCodes; a title or such a cell that is FormulaLike
// gets an apostrophe in front, so a spreadsheet takes it as text.
QByteArray WriteTableCsv(const TableCodes& codes, CellList* notCodes = nullptr);

struct CsvProblem {
    int line = 0;     // 1 for the first line of the text; 0 for the text as a whole
    QString message;  // English
};

// Bounds no CSV of the table comes near (one is a few kilobytes and 97
// lines), so that any text is read in bounded memory and time.
namespace TableCsvLimits {
constexpr qint64 LargestText = qint64(8) << 20;  // bytes
constexpr int MostLines = 100000;
}  // namespace TableCsvLimits

// Reads a CSV written by WriteTableCsv or edited since: codes in any case and
// spacing, the title column's text ignored, every row from 1 to 96 exactly
// once in any order, blank lines skipped, a byte-order mark and CR LF line
// ends accepted. The text comes piece by piece and only the record being
// read is held, so memory stays within the size of the codes themselves.
// The first problem ends the reading; its line is the one it was found on.
class TableCsvReader {
public:
    TableCsvReader();
    ~TableCsvReader();
    // The next piece of the text; false once the text is refused.
    bool Feed(const char* data, qsizetype size);
    // The end of the text: true with canonical codes in `out` (titles empty)
    // when the whole text is the CSV of a table; `out` is untouched otherwise.
    bool Finish(TableCodes& out);
    // Why the text was refused.
    const CsvProblem& Problem() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

// The whole text at once through TableCsvReader; on the first problem gives
// false with its line and leaves `out` untouched.
bool ReadTableCsv(const QByteArray& bytes, TableCodes& out, CsvProblem* problem);
