#include "config/ConfigTable.h"

#include <QHash>
#include <QRect>
#include <new>

#include "config/FilePlace.h"
#include "config/RegularFile.h"
#include "config/TableFile.h"
#include "config/TableHistory.h"
#include "core/TableLayout.h"

namespace {
int AlignmentOfFormat(quint32 format)
{
    const quint32 h = format & (TableFileFormat::AlignCentre | TableFileFormat::AlignRight);
    return h == TableFileFormat::AlignCentre ? 2 : h == TableFileFormat::AlignRight ? 3 : 0;
}

// Changes only the horizontal part: cells stay vertically centred, a wrapping
// cell keeps wrapping and every other cell is single-line.
quint32 FormatWithAlignment(quint32 format, int alignment)
{
    using namespace TableFileFormat;
    const quint32 h = alignment == 2 ? AlignCentre : alignment == 3 ? AlignRight : 0;
    quint32 f = format & ~(AlignCentre | AlignRight | AlignBottom | SingleLine);
    f |= VerticalCentre | h;
    if (!(format & WordBreak)) f |= SingleLine;
    return f;
}

}  // namespace

struct ConfigTable::Data {
    explicit Data(ConfigTable& table)
        : history([&table](int r, int c, const QString& text) { table.SetCellText(r, c, text); }) {}

    TableContent t = NewTableContent(TableLayout::kRows, TableLayout::kColumns);
    TableHistory history;
    QHash<QPair<int, int>, CellMark> marks;

    // Every text change passes here, so the history misses none of a value
    // cell, and no mark outlives the text it was about.
    void SetText(int r, int c, TableCell& cell, const QString& text)
    {
        if (!t.IsFixed(r, c)) history.Note(r, c, cell.text, text);
        marks.remove({r, c});
        cell.text = text;
        cell.textBytes.clear();
    }

    bool Valid(int r, int c) const { return r >= 0 && r < t.rows && c >= 0 && c < t.columns; }
    const TableCell* Find(int r, int c) const
    {
        const auto it = t.cells.find({r, c});
        return it == t.cells.end() ? nullptr : &it->second;
    }
    // Cuts the far corner down to the table and rejects what cannot be a rectangle.
    bool Clip(int r1, int c1, int& r2, int& c2) const
    {
        if (r1 < 0 || c1 < 0 || r2 < 0 || c2 < 0) return false;
        r2 = qMin(r2, t.rows - 1);
        c2 = qMin(c2, t.columns - 1);
        return r1 <= r2 && c1 <= c2 && Valid(r1, c1) && Valid(r2, c2);
    }
};

ConfigTable::ConfigTable(QObject* parent) : QAbstractTableModel(parent), d(std::make_unique<Data>(*this)) {}
ConfigTable::~ConfigTable() = default;

const TableContent& ConfigTable::Content() const { return d->t; }
TableHistory& ConfigTable::History() { return d->history; }
int ConfigTable::RowCount() const { return d->t.rows; }
int ConfigTable::ColumnCount() const { return d->t.columns; }
int ConfigTable::FixedRowCount() const { return d->t.fixedRows; }
int ConfigTable::FixedColumnCount() const { return d->t.fixedColumns; }
int ConfigTable::RowHeight(int row) const
{
    return (row >= 0 && row < d->t.rows) ? d->t.rowHeights.at(row) : 0;
}
int ConfigTable::ColumnWidth(int column) const
{
    return (column >= 0 && column < d->t.columns) ? d->t.columnWidths.at(column) : 0;
}
int ConfigTable::CellAlignment(int row, int column) const
{
    if (!d->Valid(row, column)) return 0;
    const TableCell* cell = d->Find(row, column);
    return AlignmentOfFormat(cell ? cell->textFormat : TableFileFormat::DefaultTextFormat);
}

bool ConfigTable::SetCellText(int row, int column, const QString& text)
{
    if (!d->Valid(row, column)) return false;
    d->SetText(row, column, d->t.cells[{row, column}], text);
    const QModelIndex i = index(row, column);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

QString ConfigTable::GetCellText(int row, int column) const
{
    if (!d->Valid(row, column)) return QString();
    const TableCell* cell = d->Find(row, column);
    return cell ? cell->text : QString();
}

bool ConfigTable::SetCurrentCell(int row, int column)
{
    if (!d->Valid(row, column)) return false;
    Q_EMIT currentCellRequested(row, column);
    return true;
}

bool ConfigTable::ClearRange(int firstRow, int firstColumn, int lastRow, int lastColumn)
{
    if (!d->Clip(firstRow, firstColumn, lastRow, lastColumn)) return false;
    // Only cells that hold something are stored, so a huge rectangle costs no more than the texts in it.
    auto& cells = d->t.cells;
    d->history.BeginStep();  // one clear, one step
    // An empty cell has no text to clear, but a mark it may have.
    d->marks.removeIf([&](const auto& mark) {
        const auto [r, c] = mark.key();
        return r >= firstRow && r <= lastRow && c >= firstColumn && c <= lastColumn;
    });
    for (auto it = cells.lower_bound({firstRow, firstColumn}); it != cells.end() && it->first.first <= lastRow; ++it) {
        const int c = it->first.second;
        if (c >= firstColumn && c <= lastColumn) d->SetText(it->first.first, c, it->second, QString());
    }
    d->history.EndStep();
    Q_EMIT dataChanged(index(firstRow, firstColumn), index(lastRow, lastColumn), {Qt::DisplayRole, Qt::EditRole});
    return true;
}

bool ConfigTable::SetColumnWidth(int column, int width)
{
    if (column < 0 || column >= d->t.columns) return false;
    d->t.columnWidths[column] = width;
    Q_EMIT geometryChanged();
    return true;
}

bool ConfigTable::SetRowHeight(int row, int height)
{
    if (row < 0 || row >= d->t.rows) return false;
    d->t.rowHeights[row] = height;
    Q_EMIT geometryChanged();
    return true;
}

bool ConfigTable::SetRangeAlignment(int firstRow, int firstColumn, int lastRow, int lastColumn, int alignment)
{
    if (!d->Clip(firstRow, firstColumn, lastRow, lastColumn)) return false;
    for (int r = firstRow; r <= lastRow; ++r)
        for (int c = firstColumn; c <= lastColumn; ++c) {
            TableCell& cell = d->t.cells[{r, c}];
            cell.textFormat = FormatWithAlignment(cell.textFormat, alignment);
        }
    Q_EMIT dataChanged(index(firstRow, firstColumn), index(lastRow, lastColumn), {Qt::TextAlignmentRole});
    return true;
}

void ConfigTable::SetCellMark(int row, int column, const CellMark& mark)
{
    if (!d->Valid(row, column) || d->t.IsFixed(row, column)) return;
    if (mark.kind == CellMarkKind::None)
        d->marks.remove({row, column});
    else
        d->marks.insert({row, column}, mark);
    const QModelIndex i = index(row, column);
    Q_EMIT dataChanged(i, i, {Qt::DecorationRole, Qt::ToolTipRole});
}

CellMark ConfigTable::GetCellMark(int row, int column) const { return d->marks.value({row, column}); }

bool ConfigTable::HasCellMarks() const { return !d->marks.isEmpty(); }

void ConfigTable::ClearCellMarks()
{
    if (d->marks.isEmpty()) return;
    QRect cells;
    for (auto it = d->marks.cbegin(); it != d->marks.cend(); ++it)
        cells |= QRect(it.key().second, it.key().first, 1, 1);
    d->marks.clear();
    Q_EMIT dataChanged(index(cells.top(), cells.left()), index(cells.bottom(), cells.right()),
                       {Qt::DecorationRole, Qt::ToolTipRole});
}

bool ConfigTable::ReadyToSave()
{
    Q_EMIT editingEndRequested();
    return TableFileSize(d->t) <= TableFileFormat::LargestFileSize;
}

QByteArray ConfigTable::TableFileBytes()
{
    if (!ReadyToSave()) return QByteArray();
    try {
        return WriteTableFile(d->t);
    } catch (const std::bad_alloc&) {
        return QByteArray();
    }
}

bool ConfigTable::SaveTable(const QString& path)
{
    const QByteArray bytes = TableFileBytes();
    return !bytes.isEmpty() && WriteFileContent(path, bytes);
}

bool ConfigTable::LoadTable(const QString& path, bool* writesBackWhole, TableFileProblem* problem)
{
    if (problem) *problem = TableFileProblem::NotATable;
    try {
        QByteArray bytes;
        if (ReadRegularFile(path, TableFileFormat::LargestFileSize, &bytes)) return LoadTableBytes(bytes, writesBackWhole, problem);
        if (problem && StampOf(path).size > TableFileFormat::LargestFileSize) *problem = TableFileProblem::TooLargeFile;
        return false;
    } catch (const std::bad_alloc&) {
        // Not even the file's bytes fit: the table stays as it was.
        if (problem) *problem = TableFileProblem::OutOfMemory;
        return false;
    }
}

bool ConfigTable::LoadTableBytes(const QByteArray& bytes, bool* writesBackWhole, TableFileProblem* problem)
{
    TableContent loaded;
    if (!ParseTableFile(bytes, loaded, problem)) return false;
    // Comparing with what a save would write catches every kind of loss at
    // once: trailing bytes, records outside the shape, repeated records, …
    if (writesBackWhole) *writesBackWhole = WritesBack(loaded, bytes);
    beginResetModel();
    d->t = std::move(loaded);
    d->history.Clear();
    d->marks.clear();
    endResetModel();
    return true;
}

int ConfigTable::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : d->t.rows; }
int ConfigTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : d->t.columns; }

QVariant ConfigTable::data(const QModelIndex& i, int role) const
{
    if (!i.isValid() || !d->Valid(i.row(), i.column())) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return GetCellText(i.row(), i.column());
    case Qt::TextAlignmentRole: {
        const int a = CellAlignment(i.row(), i.column());
        const Qt::Alignment h = a == 2 ? Qt::AlignHCenter : a == 3 ? Qt::AlignRight : Qt::AlignLeft;
        return int(h | Qt::AlignVCenter);
    }
    default: return {};
    }
}

bool ConfigTable::setData(const QModelIndex& i, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !i.isValid()) return false;
    return SetCellText(i.row(), i.column(), value.toString());
}

Qt::ItemFlags ConfigTable::flags(const QModelIndex& i) const
{
    if (!i.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!d->t.IsFixed(i.row(), i.column())) f |= Qt::ItemIsEditable;
    return f;
}

void InitTable(ConfigTable& table)
{
    table.SetColumnWidth(0, 80);
    table.SetColumnWidth(1, 315);
    table.SetColumnWidth(2, 315);
    using namespace TableLayout;
    table.SetRangeAlignment(0, kOnColumn, 0, kOffColumn, 2);
    table.SetCellText(0, kOnColumn, QStringLiteral("开"));
    table.SetCellText(0, kOffColumn, QStringLiteral("关"));
    for (int k = 1; k <= kSwitches; ++k) {
        const QString n = QStringLiteral("%1").arg(k, 2, 10, QLatin1Char('0'));
        table.SetCellText(SwitchControlRow(k), 0, QStringLiteral("开关") + n + QStringLiteral("控制"));
        table.SetCellText(SwitchFeedbackRow(k), 0, QStringLiteral("开关") + n + QStringLiteral("反馈"));
    }
    for (int s = 0; s < kScenes; ++s) table.SetCellText(SceneRow(s), 0, QStringLiteral("场景%1").arg(s));
}
