#include "ui/ConfigGridView.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

#include "config/CellBlock.h"
#include "config/CodeCheck.h"
#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "config/TableHistory.h"
#include "core/Texts.h"

namespace {

constexpr QAbstractItemView::EditTriggers kEditTriggers = QAbstractItemView::DoubleClicked
    | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked;

// The editing actions that change the table.
constexpr const char* kChangingActions[] = {"paste", "clear", "undo", "redo"};

// The tint of a value cell whose text the upload would refuse: a light red
// on a light base, a dark red under the light text of a dark scheme.
QColor BadCodeTint(const QPalette& palette)
{
    const QColor base = palette.color(QPalette::Base);
    if (base.lightness() >= 128) return QColor(255, 205, 205);
    return QColor::fromHsl(0, 140, qMin(base.lightness() + 45, 100));
}

// Why a value cell's text is no code the upload would send as meant; empty
// when it is one (or empty). An empty cell is no code and no mistake either.
// Only the digits the tip shows are kept: a cell may hold millions.
QString CodeFaultText(const QString& text)
{
    const CodeCheck check = CheckCodeBriefly(text);
    switch (check.fault) {
    case CodeFault::None: return QString();
    case CodeFault::NotHexDigit: return Texts::tr("无效的十六进制字符: %1").arg(check.bad);
    case CodeFault::OddDigits: return Texts::tr("十六进制数据长度必须是偶数");
    case CodeFault::SplitByte: return Texts::tr("空格把字节拆开了，写入模块时发送 %1").arg(ShownBytes(check.digits));
    }
    return QString();
}

// The cell's mark (CellMarkKind) as the grid's model serves it.
constexpr int kMarkRole = Qt::UserRole + 1;

// The colour of a cell mark: strong enough to be seen on the base and under
// the selection, in a light or a dark scheme; the two kinds are told apart
// by their shape too (a solid frame with a corner, a dashed frame).
QColor MarkColour(CellMarkKind kind, const QPalette& palette)
{
    const bool light = palette.color(QPalette::Base).lightness() >= 128;
    if (kind == CellMarkKind::Differs) return light ? QColor(196, 86, 0) : QColor(255, 168, 64);
    return light ? QColor(40, 90, 210) : QColor(125, 175, 255);
}

void DrawMark(QPainter* painter, const QRect& cell, CellMarkKind kind, const QPalette& palette)
{
    const QColor colour = MarkColour(kind, palette);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    QPen pen(colour, 2, kind == CellMarkKind::Differs ? Qt::SolidLine : Qt::DashLine);
    pen.setJoinStyle(Qt::MiterJoin);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(cell.adjusted(1, 1, -1, -1));
    if (kind == CellMarkKind::Differs) {
        const int side = qMin(11, cell.height() / 2);
        const QPoint corner = cell.topRight();
        const QPoint triangle[] = {corner, corner - QPoint(side, 0), corner + QPoint(0, side)};
        painter->setPen(Qt::NoPen);
        painter->setBrush(colour);
        painter->drawPolygon(triangle, 3);
    }
    painter->restore();
}

// No cell or heading is drawn wider than ConfigGridView::kLargestDrawnSize
// pixels, and no character is narrower than a pixel, so a longer text is cut
// to that many characters (and marked cut) before the style lays it out.
// Laid out whole, one code of millions of characters held the window for
// seconds at every paint. The table keeps the whole text.
constexpr qsizetype kLongestDrawnText = ConfigGridView::kLargestDrawnSize;

QVariant DrawnText(const QVariant& text)
{
    const QString whole = text.toString();
    if (whole.size() <= kLongestDrawnText) return text;
    return QVariant(whole.left(kLongestDrawnText) + QChar(0x2026));
}

// The open editor shows the tint as it is typed, since it covers the cell.
void TintEditor(QLineEdit* editor)
{
    QPalette pal = editor->parentWidget() ? editor->parentWidget()->palette() : editor->palette();
    const QString fault = CodeFaultText(editor->text());
    if (!fault.isEmpty()) pal.setColor(QPalette::Base, BadCodeTint(pal));
    editor->setPalette(pal);
    editor->setToolTip(fault);
}

}  // namespace

// The table's cells minus its fixed header row and title column, which are
// served as header data instead. Any change of the table's shape is passed on
// as a reset, since a loaded file may bring a table of another size.
class GridCells : public QAbstractTableModel {
public:
    explicit GridCells(ConfigTable& table, QObject* parent) : QAbstractTableModel(parent), table_(table)
    {
        connect(&table_, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                    ForwardChange(from, to, roles);
                });
        connect(&table_, &QAbstractItemModel::headerDataChanged, this, [this] { Reset(); });
        connect(&table_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
            longTextFault_.clear();
            longTextRemark_.clear();
            beginResetModel();
        });
        connect(&table_, &QAbstractItemModel::modelReset, this, [this] { endResetModel(); });
        connect(&table_, &QAbstractItemModel::layoutChanged, this, [this] { Reset(); });
        connect(&table_, &QAbstractItemModel::rowsInserted, this, [this] { Reset(); });
        connect(&table_, &QAbstractItemModel::rowsRemoved, this, [this] { Reset(); });
        connect(&table_, &QAbstractItemModel::columnsInserted, this, [this] { Reset(); });
        connect(&table_, &QAbstractItemModel::columnsRemoved, this, [this] { Reset(); });
    }

    // The tint for the palette the cells are drawn in.
    void SetTint(QColor tint) { tint_ = tint; }
    // How a code that a read of the module cannot bring back whole is told,
    // and the mark it gets.
    void SetUnreadable(std::function<bool(QStringView)> unreadable, const QIcon& mark)
    {
        unreadable_ = std::move(unreadable);
        mark_ = mark;
        longTextRemark_.clear();
    }

    int RowOffset() const { return table_.FixedRowCount() > 0 ? 1 : 0; }
    int ColumnOffset() const { return table_.FixedColumnCount() > 0 ? 1 : 0; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : qMax(0, table_.RowCount() - RowOffset());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : qMax(0, table_.ColumnCount() - ColumnOffset());
    }

    QModelIndex SourceOf(const QModelIndex& i) const
    {
        return table_.index(i.row() + RowOffset(), i.column() + ColumnOffset());
    }

    QVariant data(const QModelIndex& i, int role) const override
    {
        if (!i.isValid()) return {};
        const int row = i.row() + RowOffset(), column = i.column() + ColumnOffset();
        if (role == kMarkRole) return int(table_.GetCellMark(row, column).kind);
        // A look only: the tint, the marks and their reasons are nowhere in the table or its file.
        if (role == Qt::BackgroundRole || role == Qt::ToolTipRole || role == Qt::DecorationRole) {
            const QString fault = role == Qt::DecorationRole ? QString() : Fault(row, column);
            if (role == Qt::BackgroundRole) return fault.isEmpty() ? QVariant() : QVariant(tint_);
            const QString remark = Remark(row, column);
            if (role == Qt::DecorationRole) return remark.isEmpty() ? QVariant() : QVariant(mark_);
            QStringList tips{fault, remark, table_.GetCellMark(row, column).note};
            tips.removeAll(QString());
            return tips.isEmpty() ? QVariant() : QVariant(tips.join(QLatin1Char('\n')));
        }
        const QVariant value = table_.data(SourceOf(i), role);
        return role == Qt::DisplayRole ? DrawnText(value) : value;
    }
    bool setData(const QModelIndex& i, const QVariant& value, int role) override
    {
        if (!i.isValid() || role != Qt::EditRole) return false;
        return table_.setData(SourceOf(i), value, role);
    }
    Qt::ItemFlags flags(const QModelIndex& i) const override
    {
        return i.isValid() ? table_.flags(SourceOf(i)) : Qt::NoItemFlags;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole && role != Qt::TextAlignmentRole) return {};
        const QModelIndex source = orientation == Qt::Horizontal
            ? table_.index(0, section + ColumnOffset())
            : table_.index(section + RowOffset(), 0);
        const QVariant value = table_.data(source, role);
        return role == Qt::DisplayRole ? DrawnText(value) : value;
    }

private:
    void Reset()
    {
        longTextFault_.clear();
        longTextRemark_.clear();
        beginResetModel();
        endResetModel();
    }

    // Why the cell's text is no good code, empty when it is. Long texts are judged
    // once and remembered until the table changes, as a paint asks for every cell it draws.
    QString Fault(int row, int column) const
    {
        const QString text = table_.GetCellText(row, column);
        if (text.size() <= kLongestDrawnText) return CodeFaultText(text);
        const auto known = longTextFault_.constFind({row, column});
        if (known != longTextFault_.cend()) return *known;
        return longTextFault_[{row, column}] = CodeFaultText(text);
    }

    // Why a read of the module cannot bring the cell's code back whole; empty
    // when it can (or the text is no code), remembered for long texts as the fault is.
    QString Remark(int row, int column) const
    {
        if (!unreadable_) return {};
        const QString text = table_.GetCellText(row, column);
        if (text.size() > kLongestDrawnText) {
            const auto known = longTextRemark_.constFind({row, column});
            if (known != longTextRemark_.cend()) return *known;
        }
        // The fault is judged on every digit; the digits themselves are not kept.
        const CodeCheck check = CheckCodeBriefly(text);
        const bool converts = check.fault == CodeFault::None || check.fault == CodeFault::SplitByte;
        const QString remark = converts && unreadable_(text)
            ? Texts::tr("读取模块时无法完整读回此代码（其中含 F4 F7 或模块应答的字节）")
            : QString();
        if (text.size() > kLongestDrawnText) longTextRemark_[{row, column}] = remark;
        return remark;
    }

    void ForwardChange(const QModelIndex& from, const QModelIndex& to, const QList<int>& roles)
    {
        longTextFault_.clear();
        longTextRemark_.clear();
        const int ro = RowOffset();
        const int co = ColumnOffset();
        if (ro && from.row() < ro) Q_EMIT headerDataChanged(Qt::Horizontal, 0, qMax(0, columnCount() - 1));
        if (co && from.column() < co) Q_EMIT headerDataChanged(Qt::Vertical, 0, qMax(0, rowCount() - 1));
        const int r1 = qMax(from.row() - ro, 0), c1 = qMax(from.column() - co, 0);
        const int r2 = to.row() - ro, c2 = to.column() - co;
        if (r2 >= r1 && c2 >= c1) Q_EMIT dataChanged(index(r1, c1), index(r2, c2), roles);
    }

    ConfigTable& table_;
    mutable QHash<QPair<int, int>, QString> longTextFault_;
    mutable QHash<QPair<int, int>, QString> longTextRemark_;
    QColor tint_;
    std::function<bool(QStringView)> unreadable_;
    QIcon mark_;
};

// A plain line editor that hands every keystroke to the table at once, so an
// upload or a save started while the editor is open sees what is typed. It
// takes a text as long as a table file can hold, and keeps no control
// characters (NUL, tab, line breaks, …) from what is typed or pasted: a code
// never needs them, and a NUL would cut the cell where it is drawn. What is
// typed while one editor is open is one undo step.
class GridCellDelegate : public QStyledItemDelegate {
public:
    GridCellDelegate(TableHistory& history, QObject* parent) : QStyledItemDelegate(parent), history_(history)
    {
        connect(this, &QAbstractItemDelegate::closeEditor, this, [this](QWidget* editor) { EndTypingStep(editor); });
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        auto* editor = new QLineEdit(parent);
        // Screen readers name the field by its cell: "开关01控制 开".
        const QAbstractItemModel* cells = index.model();
        editor->setAccessibleName(cells->headerData(index.row(), Qt::Vertical).toString() + QLatin1Char(' ')
                                  + cells->headerData(index.column(), Qt::Horizontal).toString());
        editor->setFrame(false);
        editor->setMaxLength(TableFileFormat::LargestCellText);
        auto* self = const_cast<GridCellDelegate*>(this);
        connect(editor, &QLineEdit::textChanged, editor, [editor] { TintEditor(editor); });
        connect(editor, &QLineEdit::textEdited, self, [self, editor](const QString& text) {
            DropControlCharacters(editor, text);
            Q_EMIT self->commitData(editor);
        });
        // However the editor goes, its step ends with it.
        connect(editor, &QObject::destroyed, self, [self, editor] { self->EndTypingStep(editor); });
        self->EndTypingStep(self->typingIn_);
        self->history_.BeginStep();
        self->typingIn_ = editor;
        self->open_ = editor;
        return editor;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const auto kind = CellMarkKind(index.data(kMarkRole).toInt());
        if (kind != CellMarkKind::None) DrawMark(painter, option.rect, kind, option.palette);
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        auto* line = static_cast<QLineEdit*>(editor);
        const QString text = index.data(Qt::EditRole).toString();
        // Our own commit comes back as a change of the cell; rewriting the
        // editor then would throw the caret to the end while the user types.
        if (line->text() != text) line->setText(text);
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        auto* line = static_cast<QLineEdit*>(editor);
        if (model->data(index, Qt::EditRole).toString() != line->text()) model->setData(index, line->text(), Qt::EditRole);
    }

    void CloseOpenEditor()
    {
        if (!open_) return;
        QWidget* editor = open_;
        open_.clear();
        Q_EMIT commitData(editor);
        Q_EMIT closeEditor(editor, QAbstractItemDelegate::NoHint);
    }

private:
    // Only input passes here (textEdited), so a cell loaded with such
    // characters keeps them until the user edits it.
    static void DropControlCharacters(QLineEdit* editor, const QString& text)
    {
        const auto isControl = [](QChar c) { return c.category() == QChar::Other_Control; };
        if (std::none_of(text.begin(), text.end(), isControl)) return;
        const int cursor = editor->cursorPosition();
        const int droppedBeforeCursor = int(std::count_if(text.begin(), text.begin() + cursor, isControl));
        QString kept = text;
        kept.removeIf(isControl);
        editor->setText(kept);
        editor->setCursorPosition(cursor - droppedBeforeCursor);
    }

    // Ends the step of `editor` if it is the one gathering (a closed
    // editor is deleted late, when another may already be open).
    void EndTypingStep(const QObject* editor)
    {
        if (!typingIn_ || typingIn_ != editor) return;
        typingIn_ = nullptr;
        history_.EndStep();
    }

    TableHistory& history_;
    QPointer<QLineEdit> open_;
    const QObject* typingIn_ = nullptr;  // compared only, never dereferenced
};

// A header whose breadth the table fixes. The view asks every header for its
// size hint whenever it lays itself out, and the plain header answers by
// measuring the text of each of its sections; with the breadth fixed that
// answer changes nothing, and the 97 row titles made it the dearest step of
// the first show.
class FixedBreadthHeader : public QHeaderView {
public:
    using QHeaderView::QHeaderView;

    QSize sizeHint() const override
    {
        if (orientation() == Qt::Vertical && minimumWidth() == maximumWidth())
            return QSize(maximumWidth(), defaultSectionSize());
        if (orientation() == Qt::Horizontal && minimumHeight() == maximumHeight())
            return QSize(defaultSectionSize(), maximumHeight());
        return QHeaderView::sizeHint();
    }
};

ConfigGridView::ConfigGridView(ConfigTable& table, QWidget* parent)
    : QTableView(parent),
      table_(table),
      cells_(new GridCells(table, this)),
      delegate_(new GridCellDelegate(table.History(), this))
{
    setHorizontalHeader(new FixedBreadthHeader(Qt::Horizontal, this));
    setVerticalHeader(new FixedBreadthHeader(Qt::Vertical, this));
    // Fixed before the headers get the model, which they would otherwise
    // measure section by section in a bold font that is never drawn.
    ApplyHeaderBreadths();
    setModel(cells_);
    setItemDelegate(delegate_);
    setWordWrap(false);
    setTabKeyNavigation(false);  // Tab moves on to the next control of the window
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(kEditTriggers);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    cells_->SetTint(BadCodeTint(palette()));

    for (QHeaderView* header : {horizontalHeader(), verticalHeader()}) {
        header->setSectionResizeMode(QHeaderView::Fixed);
        header->setMinimumSectionSize(1);
        header->setHighlightSections(false);
        header->setSectionsClickable(false);
    }
    verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    connect(&table_, &ConfigTable::geometryChanged, this, &ConfigGridView::ApplyGeometry);
    // Titles written after the layout (the table is laid out cell by cell) may
    // need a wider title column than the font had room for.
    connect(&table_, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from, const QModelIndex& to) {
        if (cells_->ColumnOffset() > 0 && from.column() == 0 && to.row() >= cells_->RowOffset()
            && verticalHeader()->width() < TitleWidth(from.row(), to.row() + 1))
            ApplyHeaderBreadths();
    });
    connect(cells_, &QAbstractItemModel::modelReset, this, &ConfigGridView::ApplyGeometry);
    connect(&table_, &ConfigTable::currentCellRequested, this, &ConfigGridView::FocusCell);
    connect(&table_, &ConfigTable::editingEndRequested, this, &ConfigGridView::EndEditing);
    ApplyGeometry();
    MakeEditActions();
}

ConfigGridView::~ConfigGridView() = default;

QModelIndex ConfigGridView::IndexOfCell(int row, int column) const
{
    return cells_->index(row - cells_->RowOffset(), column - cells_->ColumnOffset());
}

QPoint ConfigGridView::CellOfIndex(const QModelIndex& index) const
{
    return QPoint(index.column() + cells_->ColumnOffset(), index.row() + cells_->RowOffset());
}

namespace {

int AtLeast(int size, int least) { return size > 0 ? qMax(size, least) : size; }

}  // namespace

void ConfigGridView::ApplyHeaderBreadths()
{
    const int ro = cells_->RowOffset();
    const int co = cells_->ColumnOffset();
    horizontalHeader()->setVisible(ro > 0);
    verticalHeader()->setVisible(co > 0);
    if (ro) horizontalHeader()->setFixedHeight(AtLeast(DrawnSize(table_.RowHeight(0)), LeastRowHeight()));
    if (co) verticalHeader()->setFixedWidth(AtLeast(DrawnSize(table_.ColumnWidth(0)), LeastTitleWidth()));
}

void ConfigGridView::ApplyGeometry()
{
    ApplyHeaderBreadths();
    ApplyColumnWidths();
    ApplySectionSizes(verticalHeader(), table_.Content().rowHeights, cells_->RowOffset(), cells_->rowCount(),
                      LeastRowHeight(), 0);
}

void ConfigGridView::ApplyColumnWidths()
{
    const QVector<qint32>& widths = table_.Content().columnWidths;
    const int offset = cells_->ColumnOffset();
    const int columns = qMin(cells_->columnCount(), int(widths.size()) - offset);
    if (columns <= 0) return;
    int spare = 0;
    if (fillWidth_) {
        spare = viewport()->width();
        for (int i = 0; i < columns; ++i) spare -= DrawnSize(widths[offset + i]);
        spare = qMax(0, spare);
    }
    ApplySectionSizes(horizontalHeader(), widths, offset, columns, 0, spare / columns);
    // What does not divide evenly goes to the last column, up to the scroll bar.
    if (spare % columns && widths[offset + columns - 1] > 0)
        horizontalHeader()->resizeSection(columns - 1, horizontalHeader()->sectionSize(columns - 1) + spare % columns);
}

void ConfigGridView::SetFillWidth(bool fill)
{
    if (fill == fillWidth_) return;
    fillWidth_ = fill;
    ApplyColumnWidths();
}

void ConfigGridView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    if (fillWidth_) ApplyColumnWidths();
}

int ConfigGridView::LeastRowHeight() const { return fontMetrics().height() + 4; }

int ConfigGridView::LeastTitleWidth() const
{
    // The laid-out titles are all near the top; a file's thousands of rows
    // are not measured one by one at every load.
    return TitleWidth(cells_->RowOffset(), qMin(table_.RowCount(), 256));
}

int ConfigGridView::TitleWidth(int fromRow, int toRow) const
{
    const QFontMetrics fm = verticalHeader()->fontMetrics();
    if (verticalHeader()->font() != titleFont_ || titleAdvances_.size() > 4096) {
        titleAdvances_.clear();
        titleFont_ = verticalHeader()->font();
    }
    int widest = 0;
    for (int row = qMax(fromRow, cells_->RowOffset()); row < qMin(toRow, table_.RowCount()); ++row) {
        const QString title = table_.GetCellText(row, 0);
        auto known = titleAdvances_.constFind(title);
        if (known == titleAdvances_.constEnd()) known = titleAdvances_.insert(title, fm.horizontalAdvance(title));
        widest = qMax(widest, *known);
    }
    return widest + 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, verticalHeader()) + 4;
}

void ConfigGridView::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) ApplyGeometry();
    if (event->type() == QEvent::PaletteChange) cells_->SetTint(BadCodeTint(palette()));
}

void ConfigGridView::ApplySectionSizes(QHeaderView* header, const QVector<qint32>& sizes, int offset, int count,
                                       int least, int extra)
{
    count = qMin(count, int(sizes.size()) - offset);
    if (count <= 0) return;
    const qint32* size = sizes.constData() + offset;
    const auto drawnOf = [least, extra](int s) {
        const int drawn = AtLeast(DrawnSize(s), least);
        return drawn > 0 ? drawn + extra : drawn;
    };
    // The size most sections have becomes the header's default, which sizes
    // them all in one pass; only the others are resized one by one. A header
    // resizing a section while it draws recomputes every section's position,
    // so those resizes run with its updates off, and cost the same each.
    int common = drawnOf(size[0]);
    if (std::count(size, size + count, common) <= count / 2) {
        QHash<int, int> seen;
        int most = 0;
        for (int i = 0; i < count; ++i) {
            const int n = ++seen[drawnOf(size[i])];
            if (n > most) {
                most = n;
                common = drawnOf(size[i]);
            }
        }
    }
    const bool updates = header->updatesEnabled();
    header->setUpdatesEnabled(false);
    if (header->defaultSectionSize() != common) header->setDefaultSectionSize(common);
    for (int i = 0; i < count; ++i) {
        const int drawn = drawnOf(size[i]);
        if (header->sectionSize(i) != drawn) header->resizeSection(i, drawn);
    }
    header->setUpdatesEnabled(updates);
}

int ConfigGridView::DrawnSize(int size)
{
    // A file may ask for any size; beyond what a screen can show it is drawn
    // clamped (the table keeps the size it was given and writes it back).
    return qBound(0, size, kLargestDrawnSize);
}

void ConfigGridView::FocusCell(int row, int column)
{
    const int ro = cells_->RowOffset();
    const int co = cells_->ColumnOffset();
    // A fixed cell has no place of its own in the view: show its row or column.
    const QModelIndex target = cells_->index(qMax(row, ro) - ro, qMax(column, co) - co);
    if (!target.isValid()) return;
    if (row >= ro && column >= co) setCurrentIndex(target);
    scrollTo(target);
    setFocus(Qt::OtherFocusReason);
}

void ConfigGridView::EndEditing()
{
    delegate_->CloseOpenEditor();
    clearSelection();
}

void ConfigGridView::SetReadOnly(bool readOnly)
{
    if (readOnly == readOnly_) return;
    readOnly_ = readOnly;
    if (readOnly) delegate_->CloseOpenEditor();
    setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers : kEditTriggers);
    for (const char* name : kChangingActions) EditAction(QString::fromLatin1(name))->setEnabled(!readOnly);
}

void ConfigGridView::MakeEditActions()
{
    struct Spec {
        const char* name;
        QString text;
        QList<QKeySequence> keys;
        void (ConfigGridView::*run)();
    };
    const Spec specs[] = {
        {"copy", Texts::tr("复制"), {QKeySequence::Copy}, &ConfigGridView::CopySelection},
        {"paste", Texts::tr("粘贴"), {QKeySequence::Paste}, &ConfigGridView::PasteAtCurrentCell},
        {"clear", Texts::tr("清除"), {QKeySequence(Qt::Key_Delete)}, &ConfigGridView::ClearSelectedCells},
        {"undo", Texts::tr("撤销"), {QKeySequence(Qt::CTRL | Qt::Key_Z)}, &ConfigGridView::UndoStep},
        {"redo", Texts::tr("重做"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)},
         &ConfigGridView::RedoStep},
    };
    for (const Spec& spec : specs) {
        auto* action = new QAction(spec.text, this);
        action->setObjectName(QString::fromLatin1(spec.name));
        action->setShortcuts(spec.keys);
        // Only while the grid itself has the focus: an open cell editor keeps its own keys.
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, spec.run);
        addAction(action);
    }
}

QAction* ConfigGridView::EditAction(const QString& name) const { return findChild<QAction*>(name); }

void ConfigGridView::SetUnreadableCode(std::function<bool(QStringView)> unreadable)
{
    cells_->SetUnreadable(std::move(unreadable), style()->standardIcon(QStyle::SP_MessageBoxWarning));
}

void ConfigGridView::SetCompareAction(QAction* compare) { compare_ = compare; }

void ConfigGridView::SetShowNotice(std::function<void(const QString&)> showNotice)
{
    showNotice_ = std::move(showNotice);
}

bool ConfigGridView::SelectedBlock(QRect* cells) const
{
    // The selection is one block at most (contiguous selection).
    QModelIndexList selected = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    if (selected.isEmpty() && currentIndex().isValid()) selected << currentIndex();
    if (selected.isEmpty()) return false;
    QRect block(CellOfIndex(selected.first()), QSize(1, 1));
    for (const QModelIndex& i : selected) block |= QRect(CellOfIndex(i), QSize(1, 1));
    *cells = block;
    return true;
}

void ConfigGridView::CopySelection()
{
    QRect block;
    if (!SelectedBlock(&block)) return;
    QGuiApplication::clipboard()->setText(BlockAsText(table_, block.top(), block.left(), block.bottom(), block.right()));
}

void ConfigGridView::PasteAtCurrentCell()
{
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return;
    const QVector<QStringList> rows = BlockOfText(QGuiApplication::clipboard()->text());
    if (rows.isEmpty()) return;
    delegate_->CloseOpenEditor();
    const QPoint at = CellOfIndex(current);
    switch (PasteBlock(table_, at.y(), at.x(), rows)) {
    case PasteOutcome::Pasted: {
        // The pasted block is left selected, as spreadsheets do.
        int width = 0;
        for (const QStringList& r : rows) width = qMax(width, int(r.size()));
        const QModelIndex last = IndexOfCell(at.y() + int(rows.size()) - 1, at.x() + width - 1);
        setCurrentIndex(current);
        selectionModel()->select(QItemSelection(current, last), QItemSelectionModel::ClearAndSelect);
        return;
    }
    case PasteOutcome::PastTheEnd:
        if (showNotice_) showNotice_(Texts::tr("粘贴的内容超出表格范围，未粘贴"));
        return;
    case PasteOutcome::TooLong:
        if (showNotice_) showNotice_(Texts::tr("粘贴的代码过长，未粘贴"));
        return;
    case PasteOutcome::NotAValueCell: return;
    }
}

void ConfigGridView::ClearSelectedCells()
{
    QRect block;
    if (!SelectedBlock(&block)) return;
    delegate_->CloseOpenEditor();
    table_.ClearRange(block.top(), block.left(), block.bottom(), block.right());
}

void ConfigGridView::UndoStep()
{
    delegate_->CloseOpenEditor();
    table_.History().Undo();
}

void ConfigGridView::RedoStep()
{
    delegate_->CloseOpenEditor();
    table_.History().Redo();
}

QVector<QPoint> ConfigGridView::DifferingCells() const
{
    QVector<QPoint> cells;
    const auto differs = [this](QPoint cell) {
        return table_.GetCellMark(cell.y(), cell.x()).kind == CellMarkKind::Differs;
    };
    if (currentIndex().isValid() && differs(CellOfIndex(currentIndex()))) cells << CellOfIndex(currentIndex());
    if (cells.isEmpty() || !selectionModel()) return cells;
    for (const QModelIndex& i : selectionModel()->selectedIndexes())
        if (const QPoint cell = CellOfIndex(i); differs(cell) && !cells.contains(cell)) cells << cell;
    return cells;
}

void ConfigGridView::UseModuleCodes()
{
    if (readOnly_) return;
    delegate_->CloseOpenEditor();
    const QVector<QPoint> cells = DifferingCells();
    QStringList codes;
    for (const QPoint& cell : cells) codes << table_.GetCellMark(cell.y(), cell.x()).moduleCode;
    table_.History().BeginStep();
    for (qsizetype i = 0; i < cells.size(); ++i) table_.SetCellText(cells[i].y(), cells[i].x(), codes[i]);
    table_.History().EndStep();
}

void ConfigGridView::keyPressEvent(QKeyEvent* event)
{
    // An open editor takes Esc itself; here it is the marks' turn.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && state() != EditingState
        && table_.HasCellMarks()) {
        table_.ClearCellMarks();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ConfigGridView::AddModuleEntries(QMenu* menu)
{
    menu->addSeparator();
    if (compare_) {
        QAction* entry = menu->addAction(compare_->text(), compare_.data(), &QAction::trigger);
        entry->setObjectName(QStringLiteral("compare"));
        entry->setShortcut(compare_->shortcut());
        entry->setShortcutContext(Qt::WidgetShortcut);
        entry->setEnabled(compare_->isEnabled());
    }
    if (!DifferingCells().isEmpty()) {
        QAction* entry = menu->addAction(Texts::tr("用模块中的代码"), this, &ConfigGridView::UseModuleCodes);
        entry->setObjectName(QStringLiteral("useModuleCode"));
        entry->setEnabled(!readOnly_);
    }
    if (compare_ || !DifferingCells().isEmpty()) menu->addSeparator();
}

QMenu* ConfigGridView::MakeContextMenu()
{
    // The editor's own step ends here, so what was just typed can be undone.
    delegate_->CloseOpenEditor();
    QRect block;
    const bool selected = SelectedBlock(&block);
    TableHistory& history = table_.History();
    auto* menu = new QMenu(this);
    for (const auto& [name, enabled] :
         {std::pair{"copy", selected}, std::pair{"paste", currentIndex().isValid()
                                                              && !QGuiApplication::clipboard()->text().isEmpty()},
          std::pair{"clear", selected}, std::pair{"undo", history.CanUndo()}, std::pair{"redo", history.CanRedo()}}) {
        QAction* source = EditAction(QString::fromLatin1(name));
        // Entries of their own: greying them must not switch the keys off.
        QAction* entry = menu->addAction(source->text(), source, &QAction::trigger);
        entry->setObjectName(source->objectName());
        entry->setShortcuts(source->shortcuts());
        entry->setShortcutContext(Qt::WidgetShortcut);
        entry->setEnabled(enabled && source->isEnabled());
        if (QLatin1String(name) == QLatin1String("clear")) AddModuleEntries(menu);
    }
    return menu;
}

void ConfigGridView::contextMenuEvent(QContextMenuEvent* event)
{
    // The grid may go while the menu shows (the window closed under it).
    QPointer<QMenu> menu = MakeContextMenu();
    menu->exec(event->globalPos());
    delete menu.data();
}
