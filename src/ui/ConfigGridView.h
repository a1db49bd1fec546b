#pragma once
// The configuration grid: a view of the ConfigTable in which the table's
// fixed header row and title column are the view's own headers, so they never
// scroll away, and every other cell is edited in place. The table stays the
// only copy of the codes: an edit reaches it with every keystroke.

#include <QTableView>
#include <QVector>

class ConfigTable;
class GridCells;
class GridCellDelegate;
class QHeaderView;

class ConfigGridView : public QTableView {
    Q_OBJECT
public:
    explicit ConfigGridView(ConfigTable& table, QWidget* parent = nullptr);
    ~ConfigGridView() override;

    ConfigTable& Table() const { return table_; }
    // View index of the table's cell (row, column); invalid for a fixed cell.
    QModelIndex IndexOfCell(int row, int column) const;
    // The table's (row, column) shown at a view index.
    QPoint CellOfIndex(const QModelIndex& index) const;

    // Focuses the table's cell (row, column) and scrolls it into view.
    void FocusCell(int row, int column);
    // Commits and closes an open editor.
    void EndEditing();
    // Room the view has beyond what it was laid out for; the value columns
    // share it, drawn wider (the table keeps its widths).
    void SetSpareWidth(int pixels);

    // The largest row height or column width drawn; larger ones are drawn this size.
    static constexpr int kLargestDrawnSize = 10000;

protected:
    void changeEvent(QEvent* event) override;

private:
    // The fixed header row's height and title column's width, and which of them shows.
    void ApplyHeaderBreadths();
    // Row heights and column widths, in time linear in the number of sections.
    void ApplyGeometry();
    // Sections of `header` at `sizes`, none of those that show below `least`,
    // and each that shows `extra` larger.
    void ApplySectionSizes(QHeaderView* header, const QVector<qint32>& sizes, int offset, int count, int least,
                           int extra);
    static int DrawnSize(int size);
    // What the font needs: a row as high as a line of text, the title column
    // as wide as its widest title. A size the table asks for is drawn no
    // smaller (the table keeps its own); a row or column of 0 stays hidden.
    int LeastRowHeight() const;
    int LeastTitleWidth() const;

    ConfigTable& table_;
    GridCells* cells_;
    GridCellDelegate* delegate_;
    int spareWidth_ = 0;
};
