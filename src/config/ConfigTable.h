#pragma once
// The configuration table: the program's only model of the codes. 97 rows by
// 3 columns when laid out (a loaded file may bring any shape), row 0 a fixed
// header row and column 0 a fixed title column. The grid widget is a view of
// this model; every operation reads and writes the cells here.

#include <QAbstractTableModel>
#include <QString>
#include <QVector>
#include <memory>

struct TableContent;
class TableHistory;
enum class TableFileProblem;

// A mark on a value cell that only the window shows and no file keeps: a code
// the module's answers left in doubt, or a code the module holds otherwise.
enum class CellMarkKind { None, Doubtful, Differs };
struct CellMark {
    CellMarkKind kind = CellMarkKind::None;
    QString note;        // the tool tip: why doubtful; what the module holds
    QString moduleCode;  // Differs: the module's code as the table writes it; empty when it holds none
};

class ConfigTable : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ConfigTable(QObject* parent = nullptr);
    ~ConfigTable() override;

    int RowCount() const;
    int ColumnCount() const;
    int FixedRowCount() const;
    int FixedColumnCount() const;
    int RowHeight(int row) const;
    int ColumnWidth(int column) const;
    // Horizontal alignment of a cell: 0 left, 2 centre, 3 right.
    int CellAlignment(int row, int column) const;

    // Everything the table file carries, as it stands now (read only).
    const TableContent& Content() const;
    // The undo history of the value cells; every change of one is noted
    // there, and a load empties it.
    TableHistory& History();

    // The table operations. Invalid cells or rectangles change nothing and give false.
    // Rectangles: the last row and column are cut down to the table; a negative
    // corner, a first row or column after the last one, or a corner outside the
    // table rejects the whole rectangle.
    bool SetCellText(int row, int column, const QString& text);
    QString GetCellText(int row, int column) const;
    bool SetCurrentCell(int row, int column);
    bool ClearRange(int firstRow, int firstColumn, int lastRow, int lastColumn);
    bool SetColumnWidth(int column, int width);
    bool SetRowHeight(int row, int height);
    bool SetRangeAlignment(int firstRow, int firstColumn, int lastRow, int lastColumn, int alignment);
    // Marks of cells: a change of the cell's text removes its mark (an edit,
    // a paste, a clear, an undo), a load removes them all.
    void SetCellMark(int row, int column, const CellMark& mark);
    CellMark GetCellMark(int row, int column) const;
    bool HasCellMarks() const;
    void ClearCellMarks();
    // Ends editing, then replaces the file atomically: on failure the previous
    // file stays whole and false is given. A FIFO or a character device in its
    // place is written into instead, anything else that is not a regular file
    // is left alone (WriteFileContent). A table too large for LoadTable to take
    // back is not written.
    bool SaveTable(const QString& path);
    // Ends editing, then gives the table's file; empty when it is larger than
    // LoadTable takes back (or there is no memory to build it).
    QByteArray TableFileBytes();
    // Ends editing; false when the table's file would be larger than LoadTable
    // takes back. The file itself is then written from Content() in pieces.
    bool ReadyToSave();
    // Reads the whole file into a new table first; only a regular file that is
    // consistent to its end replaces the table (model reset), otherwise the
    // table stays exactly as it was and false is given. `writesBackWhole` tells
    // whether a save would write the file back byte for byte (nothing in it
    // that the table drops). A file whose table would take more memory than a
    // small multiple of its size, or more than the system gives, or a file
    // larger than any table file, is refused like a damaged one; `problem`
    // tells them apart.
    bool LoadTable(const QString& path, bool* writesBackWhole = nullptr, TableFileProblem* problem = nullptr);
    // The same for the bytes of a table file already read.
    bool LoadTableBytes(const QByteArray& bytes, bool* writesBackWhole = nullptr, TableFileProblem* problem = nullptr);

    // QAbstractTableModel: every cell of the table, fixed ones included.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    // The view makes this cell its focused cell and scrolls it into view.
    void currentCellRequested(int row, int column);
    // A row height or column width changed (SetColumnWidth, SetRowHeight); a
    // load resets the whole model instead.
    void geometryChanged();
    // The view ends its editing and selection before a save.
    void editingEndRequested();

private:
    struct Data;
    std::unique_ptr<Data> d;
};

// Lays the table out: widths, centred headers "开"/"关", the 96 row titles.
void InitTable(ConfigTable& table);
