#pragma once
// The port box, the two baud lists and the port button: what the user
// chooses, read from the window and handed to the module link as values.

#include "ui/UiServices.h"

struct PortParts;
class SerialLibrary;

// Refills the port box from the port list; nothing is selected afterwards.
void RefreshPortList(UiServices& ui, SerialLibrary& serial);
// Fills the baud box and the module-baud box with the offered rates and
// selects the first ("9600") in both.
void FillBaudLists(UiServices& ui);
// The list item of `box` the user chose: the selected one, else the one whose
// text was typed into the box (blanks around it and letter case aside); -1
// when neither. ChosenPort: the same in the port box, where the item's device
// path typed counts too.
int ChosenItem(UiServices& ui, Control box);
int ChosenPort(UiServices& ui, SerialLibrary& serial);
// Click handler of the port button: opens the chosen port at the chosen rate,
// or closes the open one. A refused open is told with the library's code and
// its reason. A port typed that names no item, or a rate neither chosen nor
// typed as one the library knows, gets a notice and nothing is opened.
void TogglePort(const PortParts& p);
