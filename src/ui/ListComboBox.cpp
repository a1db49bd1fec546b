#include "ui/ListComboBox.h"

#include <QLineEdit>

ListComboBox::ListComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // Inline completion would silently turn a typed name into a list item.
    setCompleter(nullptr);
    setDuplicatesEnabled(true);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { typedSinceChoice_ = true; });
    connect(this, &QComboBox::activated, this, [this] { typedSinceChoice_ = false; });
}

void ListComboBox::SetAboutToDropDown(std::function<void()> handler) { aboutToDropDown_ = std::move(handler); }

int ListComboBox::SelectedIndex() const { return typedSinceChoice_ ? -1 : currentIndex(); }

void ListComboBox::Select(int index)
{
    typedSinceChoice_ = false;
    setCurrentIndex(index);
    if (index < 0) setEditText(QString());
}

int ListComboBox::Append(const QString& text, int data, const QString& toolTip)
{
    const int selectedBefore = currentIndex();
    const QString typed = currentText();
    const int before = count();
    addItem(text, data);
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
