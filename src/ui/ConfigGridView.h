#pragma once
// The configuration grid: a view of the ConfigTable in which the table's
// fixed header row and title column are the view's own headers, so they never
// scroll away, and every other cell is edited in place. The table stays the
// only copy of the codes: an edit reaches it with every keystroke.
//
// A block of value cells is selected, copied, pasted, cleared, and every
// change undone and redone, with the usual keys (Ctrl+C, Ctrl+V, Delete,
// Ctrl+Z, Ctrl+Shift+Z or Ctrl+Y) and from the context menu.
//
// The table's cell marks are drawn each in its own way, their notes as tool
// tips; Esc, while no cell is being edited, takes them all away.

#include <QFont>
#include <QHash>
#include <QPointer>
#include <QTableView>
#include <QVector>
#include <functional>

class ConfigTable;
class GridCells;
class GridCellDelegate;
class QAction;
class QHeaderView;
class QMenu;

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
    // Read-only, the grid still scrolls, selects and copies; typing, paste,
    // clear, undo and redo are refused (their keys and menu entries grey), and
    // an open editor is closed with what it holds.
    void SetReadOnly(bool readOnly);
    bool IsReadOnly() const { return readOnly_; }
    // Whether the value columns share the view's whole width, drawn wider
    // than the table's widths (which it keeps), so no empty strip stays
    // between the last of them and the scroll bar. Off: drawn as the table has them.
    void SetFillWidth(bool fill);

    // The largest row height or column width drawn; larger ones are drawn this size.
    static constexpr int kLargestDrawnSize = 10000;

    // The editing action "copy", "paste", "clear", "undo" or "redo".
    QAction* EditAction(const QString& name) const;
    // The context menu, its entries greyed where they have nothing to do; the caller owns it.
    QMenu* MakeContextMenu();
    // How a refused paste is told; without it, it is not.
    void SetShowNotice(std::function<void(const QString&)> showNotice);
    // Which codes a read of the module cannot bring back whole: they get a
    // mark of their own and a tool tip that says so. Without it, none does.
    void SetUnreadableCode(std::function<bool(QStringView codeText)> unreadable);

    // The window's comparison with the module, offered in the context menu
    // (greyed while the action is); without it, the menu has no such entry.
    void SetCompareAction(QAction* compare);

    // The selected block (or else the current cell) as tab-separated text.
    void CopySelection();
    // The clipboard's tab-separated text into the cells from the current cell
    // on, as one undo step; refused with a notice when it would reach past the table.
    void PasteAtCurrentCell();
    // Empties the selected block, as one undo step.
    void ClearSelectedCells();
    void UndoStep();
    void RedoStep();
    // The module's code (or nothing) into the current cell and every selected
    // cell marked as differing from the module, as one undo step.
    void UseModuleCodes();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The table's cells of the selection (or else the current cell); false when there are none.
    bool SelectedBlock(QRect* cells) const;
    // The current cell and the selected cells that are marked as differing from the module.
    QVector<QPoint> DifferingCells() const;
    // The entries of the comparison with the module, after the clear entry.
    void AddModuleEntries(QMenu* menu);
    void MakeEditActions();
    // The fixed header row's height and title column's width, and which of them shows.
    void ApplyHeaderBreadths();
    // Row heights and column widths, in time linear in the number of sections.
    void ApplyGeometry();
    void ApplyColumnWidths();
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
    // Room the titles of rows [fromRow, toRow) ask for in the header's font.
    int TitleWidth(int fromRow, int toRow) const;
    // Each title's advance, measured once for the header's font: laying the
    // table out measures every title several times, and where the font has no
    // Chinese of its own (English), each measure goes through the fallback fonts.
    mutable QHash<QString, int> titleAdvances_;
    mutable QFont titleFont_;

    ConfigTable& table_;
    GridCells* cells_;
    GridCellDelegate* delegate_;
    bool fillWidth_ = false;
    bool readOnly_ = false;
    std::function<void(const QString&)> showNotice_;
    QPointer<QAction> compare_;
};
