#include "ui/ListComboBox.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>

namespace {

constexpr int kListTextRole = Qt::UserRole + 1;

}  // namespace

// The items. An editable box takes an item's text from its edit role, the
// open list from its display role; the two are one in a plain item, and
// part here where an item has a list text.
class ListComboBox::Items : public QStandardItemModel {
public:
    using QStandardItemModel::QStandardItemModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::EditRole) return QStandardItemModel::data(index, Qt::DisplayRole);
        if (role == Qt::DisplayRole) {
            const QVariant listText = QStandardItemModel::data(index, kListTextRole);
            if (listText.isValid()) return listText;
        }
        return QStandardItemModel::data(index, role);
    }
};

// The text field. Qt makes an item whose text was typed in full the chosen
// one when typing ends (Enter, leaving the field); here typing chooses
// nothing, so the box must know that an activation comes from there.
class ListComboBox::Field : public QLineEdit {
public:
    explicit Field(ListComboBox* owner) : QLineEdit(owner), owner_(owner) {}

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        const bool before = owner_->fieldFinishing_;
        owner_->fieldFinishing_ = true;
        QLineEdit::keyPressEvent(e);
        owner_->fieldFinishing_ = before;
    }
    void focusOutEvent(QFocusEvent* e) override
    {
        const bool before = owner_->fieldFinishing_;
        owner_->fieldFinishing_ = true;
        QLineEdit::focusOutEvent(e);
        owner_->fieldFinishing_ = before;
    }

private:
    ListComboBox* owner_;
};

ListComboBox::ListComboBox(QWidget* parent) : QComboBox(parent)
{
    setModel(new Items(this));
    setLineEdit(new Field(this));  // makes the box editable
    setInsertPolicy(QComboBox::NoInsert);
    // Inline completion would silently turn a typed name into a list item.
    setCompleter(nullptr);
    setDuplicatesEnabled(true);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { typedSinceChoice_ = true; });
    connect(this, &QComboBox::activated, this, [this] {
        if (!fieldFinishing_) typedSinceChoice_ = false;
    });
    // The closed box tells what its chosen item is, as the item does in the list.
    connect(this, &QComboBox::currentIndexChanged, this,
            [this](int index) { setToolTip(index >= 0 ? itemData(index, Qt::ToolTipRole).toString() : QString()); });
}

void ListComboBox::SetAboutToDropDown(std::function<void()> handler) { aboutToDropDown_ = std::move(handler); }

int ListComboBox::SelectedIndex() const { return typedSinceChoice_ ? -1 : currentIndex(); }

void ListComboBox::Select(int index)
{
    typedSinceChoice_ = false;
    setCurrentIndex(index);
    if (index < 0) setEditText(QString());
}

int ListComboBox::Append(const QString& text, int itemData, const QString& toolTip)
{
    const int selectedBefore = currentIndex();
    const QString typed = currentText();
    const int before = count();
    addItem(text, itemData);
    if (count() != before + 1) return -1;
    const int index = count() - 1;
    if (!toolTip.isEmpty()) setItemData(index, toolTip, Qt::ToolTipRole);
    // The first item added to an empty list would otherwise become the
    // selection; adding must leave both the choice and the typed text alone.
    if (currentIndex() != selectedBefore) setCurrentIndex(selectedBefore);
    if (currentText() != typed) setEditText(typed);
    return index;
}

void ListComboBox::SetListText(int index, const QString& text) { setItemData(index, text, kListTextRole); }

void ListComboBox::Clear()
{
    clear();
    clearEditText();
    typedSinceChoice_ = false;
}

void ListComboBox::showPopup()
{
    if (aboutToDropDown_) aboutToDropDown_();
    // The list drops down as wide as the box, or as its longest item.
    QAbstractItemView* list = view();
    const int frame = list->frameWidth() * 2;
    list->setMinimumWidth(qMax(width(), list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width() + frame));
    QComboBox::showPopup();
}
