#include "ui/ListComboBox.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>

namespace {

constexpr int kListTextRole = Qt::UserRole + 1;

// The box as screen readers see it. Qt's own combo box on Linux gives the
// chosen text as the box's name as well as its value (leaving the name to a
// label's relation), so a box without a label beside it would be known only
// as "9600"; this one keeps its own name and gives the text as its value.
// Otherwise it is Qt's: the list and the text field are its children, and it
// can drop its list down.
class ComboAccessible : public QAccessibleWidget {
public:
    explicit ComboAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value) return Box()->currentText();
        if (t == QAccessible::Accelerator) return QKeySequence(Qt::Key_Down).toString(QKeySequence::NativeText);
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = Box()->view()->isVisible();
        s.editable = Box()->isEditable();
        return s;
    }
    int childCount() const override { return Box()->lineEdit() ? 2 : 1; }
    QAccessibleInterface* child(int index) const override
    {
        if (index == 0) return QAccessible::queryAccessibleInterface(Box()->view());
        if (index == 1 && Box()->lineEdit()) return QAccessible::queryAccessibleInterface(Box()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child) return -1;
        if (child->object() == Box()->view()) return 0;
        if (Box()->lineEdit() && child->object() == Box()->lineEdit()) return 1;
        return -1;
    }
    QStringList actionNames() const override
    {
        return QStringList(showMenuAction()) << QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction()) return QAccessibleWidget::doAction(action);
        if (Box()->view()->isVisible()) Box()->hidePopup();
        else Box()->showPopup();
    }

private:
    QComboBox* Box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* MakeComboAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("ListComboBox") && object && object->isWidgetType())
        return new ComboAccessible(static_cast<QComboBox*>(object));
    return nullptr;
}

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
    static const bool accessible = (QAccessible::installFactory(MakeComboAccessible), true);
    Q_UNUSED(accessible);
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

void ListComboBox::SetName(const QString& name)
{
    setAccessibleName(name);
    lineEdit()->setAccessibleName(name);
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
