#include "ui/ListComboBox.h"

#include <QLineEdit>

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

void ListComboBox::Clear()
{
    clear();
    clearEditText();
    typedSinceChoice_ = false;
}

void ListComboBox::showPopup()
{
    if (aboutToDropDown_) aboutToDropDown_();
    QComboBox::showPopup();
}
