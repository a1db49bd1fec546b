#include "config/ConfigTable.h"

// First cut: the cells and their layout. The table file and the attributes it
// carries come with the table-file work.

struct ConfigTable::Data {
    int rows = 97;
    int columns = 3;
    int fixedRows = 1;
    int fixedColumns = 1;
    QVector<int> rowHeights = QVector<int>(97, 24);
    QVector<int> columnWidths = QVector<int>(3, 200);
    QVector<QString> texts = QVector<QString>(97 * 3);
    QVector<int> alignments = QVector<int>(97 * 3, 0);

    bool Valid(int r, int c) const { return r >= 0 && r < rows && c >= 0 && c < columns; }
    int At(int r, int c) const { return r * columns + c; }
    // Cuts the far corner down to the table and rejects what cannot be a rectangle.
    bool Clip(int r1, int c1, int& r2, int& c2) const
    {
        if (r1 < 0 || c1 < 0 || r2 < 0 || c2 < 0) return false;
        r2 = qMin(r2, rows - 1);
        c2 = qMin(c2, columns - 1);
        return r1 <= r2 && c1 <= c2 && Valid(r1, c1) && Valid(r2, c2);
    }
};

ConfigTable::ConfigTable(QObject* parent) : QAbstractTableModel(parent), d(new Data) {}
ConfigTable::~ConfigTable() { delete d; }

int ConfigTable::RowCount() const { return d->rows; }
int ConfigTable::ColumnCount() const { return d->columns; }
int ConfigTable::FixedRowCount() const { return d->fixedRows; }
int ConfigTable::FixedColumnCount() const { return d->fixedColumns; }
int ConfigTable::RowHeight(int row) const { return (row >= 0 && row < d->rows) ? d->rowHeights.at(row) : 0; }
int ConfigTable::ColumnWidth(int column) const
{
    return (column >= 0 && column < d->columns) ? d->columnWidths.at(column) : 0;
}
int ConfigTable::CellAlignment(int row, int column) const
{
    return d->Valid(row, column) ? d->alignments.at(d->At(row, column)) : 0;
}

bool ConfigTable::SetCellText(int row, int column, const QString& text)
{
    if (!d->Valid(row, column)) return false;
    d->texts[d->At(row, column)] = text;
    const QModelIndex i = index(row, column);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

QString ConfigTable::GetCellText(int row, int column) const
{
    return d->Valid(row, column) ? d->texts.at(d->At(row, column)) : QString();
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
    for (int r = firstRow; r <= lastRow; ++r)
        for (int c = firstColumn; c <= lastColumn; ++c) d->texts[d->At(r, c)].clear();
    Q_EMIT dataChanged(index(firstRow, firstColumn), index(lastRow, lastColumn), {Qt::DisplayRole, Qt::EditRole});
    return true;
}

bool ConfigTable::SetColumnWidth(int column, int width)
{
    if (column < 0 || column >= d->columns) return false;
    d->columnWidths[column] = width;
    Q_EMIT geometryChanged();
    return true;
}

bool ConfigTable::SetRowHeight(int row, int height)
{
    if (row < 0 || row >= d->rows) return false;
    d->rowHeights[row] = height;
    Q_EMIT geometryChanged();
    return true;
}

bool ConfigTable::SetRangeAlignment(int firstRow, int firstColumn, int lastRow, int lastColumn, int alignment)
{
    if (!d->Clip(firstRow, firstColumn, lastRow, lastColumn)) return false;
    const int value = (alignment == 2 || alignment == 3) ? alignment : 0;
    for (int r = firstRow; r <= lastRow; ++r)
        for (int c = firstColumn; c <= lastColumn; ++c) d->alignments[d->At(r, c)] = value;
    Q_EMIT dataChanged(index(firstRow, firstColumn), index(lastRow, lastColumn), {Qt::TextAlignmentRole});
    return true;
}

bool ConfigTable::SaveTable(const QString&) { return false; }
bool ConfigTable::LoadTable(const QString&) { return false; }

int ConfigTable::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : d->rows; }
int ConfigTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : d->columns; }

QVariant ConfigTable::data(const QModelIndex& i, int role) const
{
    if (!i.isValid() || !d->Valid(i.row(), i.column())) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return d->texts.at(d->At(i.row(), i.column()));
    case Qt::TextAlignmentRole: {
        const int a = d->alignments.at(d->At(i.row(), i.column()));
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
    if (i.row() >= d->fixedRows && i.column() >= d->fixedColumns) f |= Qt::ItemIsEditable;
    return f;
}

void InitTable(ConfigTable& table)
{
    table.SetColumnWidth(0, 80);
    table.SetColumnWidth(1, 315);
    table.SetColumnWidth(2, 315);
    table.SetRangeAlignment(0, 1, 0, 2, 2);
    table.SetCellText(0, 1, QStringLiteral("开"));
    table.SetCellText(0, 2, QStringLiteral("关"));
    for (int k = 1; k <= 32; ++k) {
        const QString n = QStringLiteral("%1").arg(k, 2, 10, QLatin1Char('0'));
        table.SetCellText(2 * k - 1, 0, QStringLiteral("开关") + n + QStringLiteral("控制"));
        table.SetCellText(2 * k, 0, QStringLiteral("开关") + n + QStringLiteral("反馈"));
    }
    for (int s = 0; s <= 31; ++s) table.SetCellText(65 + s, 0, QStringLiteral("场景%1").arg(s));
}
