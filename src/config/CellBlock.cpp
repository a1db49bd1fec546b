#include "config/CellBlock.h"

#include "config/CodeCheck.h"
#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "config/TableCsv.h"
#include "config/TableHistory.h"

namespace {

QString Quoted(const QString& text)
{
    if (!text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r'))
        && !text.startsWith(QLatin1Char('"')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString BlockAsText(const ConfigTable& table, int firstRow, int firstColumn, int lastRow, int lastColumn)
{
    QStringList lines;
    for (int r = firstRow; r <= lastRow; ++r) {
        QStringList cells;
        for (int c = firstColumn; c <= lastColumn; ++c) {
            QString text = table.GetCellText(r, c);
            qsizetype end = text.size();
            while (end > 0 && IsCodeBlank(text.at(end - 1).unicode())) --end;
            text.truncate(end);
            // Pasted into a spreadsheet, it must stay text, not run as a formula.
            if (FormulaLike(text)) text.prepend(QLatin1Char('\''));
            cells << Quoted(text);
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

QVector<QStringList> BlockOfText(const QString& text)
{
    QVector<QStringList> rows;
    QStringList row;
    QString cell;
    auto endCell = [&] {
        cell.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
        row << cell;
        cell.clear();
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"') && cell.isEmpty()) {
            // A quoted cell runs to the quote that is not doubled.
            for (++i; i < n; ++i) {
                if (text.at(i) != QLatin1Char('"')) cell += text.at(i);
                else if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) cell += text.at(++i);
                else break;
            }
        } else if (c == QLatin1Char('\t')) {
            endCell();
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n')) ++i;
            endCell();
            rows << row;
            row.clear();
        } else {
            cell += c;
        }
    }
    if (!cell.isEmpty() || !row.isEmpty()) {
        endCell();
        rows << row;
    }
    const bool blank = std::all_of(rows.cbegin(), rows.cend(), [](const QStringList& r) {
        return std::all_of(r.cbegin(), r.cend(), [](const QString& s) { return s.trimmed().isEmpty(); });
    });
    return blank ? QVector<QStringList>() : rows;
}

PasteOutcome PasteBlock(ConfigTable& table, int row, int column, const QVector<QStringList>& rows)
{
    if (row < table.FixedRowCount() || column < table.FixedColumnCount()) return PasteOutcome::NotAValueCell;
    if (row + rows.size() > table.RowCount()) return PasteOutcome::PastTheEnd;
    for (const QStringList& cells : rows) {
        if (column + cells.size() > table.ColumnCount()) return PasteOutcome::PastTheEnd;
        for (const QString& text : cells)
            if (text.size() > TableFileFormat::LargestCellText) return PasteOutcome::TooLong;
    }
    TableHistory& history = table.History();
    history.BeginStep();
    for (qsizetype r = 0; r < rows.size(); ++r)
        for (qsizetype c = 0; c < rows.at(r).size(); ++c) table.SetCellText(row + int(r), column + int(c), rows.at(r).at(c));
    history.EndStep();
    return PasteOutcome::Pasted;
}
