#pragma once
// The window's drop-down combo boxes: an editable text field over a list that
// only the program fills. Typing selects nothing and inserts nothing; the
// program can run a handler just before the list drops down. The chosen
// item's tool tip is the box's own. An item can read longer in the open list
// than in the field ("COM3  /dev/ttyUSB0 (FT232R USB UART)" over "COM3"),
// and the open list is as wide as its longest item. Screen readers know the
// box by a name of its own, and its chosen text as its value.

#include <QComboBox>
#include <functional>

class ListComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ListComboBox(QWidget* parent = nullptr);

    // What screen readers call the box and its text field.
    void SetName(const QString& name);

    // Runs each time the user opens the list, before the list is shown.
    void SetAboutToDropDown(std::function<void()> handler);

    // Index of the chosen list item; -1 when none, also once the user has
    // typed into the text field after choosing.
    int SelectedIndex() const;
    // Chooses item `index` (or none for -1) and puts its text in the field.
    void Select(int index);
    // Appends an item without changing the selection or the typed text.
    int Append(const QString& text, int itemData, const QString& toolTip);
    // How item `index` reads in the open list; its text there otherwise.
    void SetListText(int index, const QString& text);
    // Removes every item and empties the text field.
    void Clear();

    void showPopup() override;

private:
    class Field;
    class Items;
    std::function<void()> aboutToDropDown_;
    bool typedSinceChoice_ = false;
    bool fieldFinishing_ = false;
};
