#pragma once
// Finding the serial ports, the two baud lists, opening and closing the port.

#include <QVector>

#include "core/ModuleEvents.h"
#include "core/UiServices.h"
#include "serial/SerialLibrary.h"

struct Program;

// Replaces `list` with the port numbers the port list names; 1 when the key
// opened (even with no port), 0 when it did not (list empty).
int EnumerateComPorts(Program& p, QVector<int>& list);
// Refills the port box; nothing is selected afterwards.
void RefreshPortList(Program& p);
// Fills the baud box and the module-baud box and selects "9600" in both.
void FillBaudLists(Program& p);
// The list item of `box` the user chose: the selected one, else the one whose
// text was typed into the box (blanks around it and letter case aside; in the
// port box also the item's device path); -1 when neither.
int ChosenItem(Program& p, Control box);
// The receive timer's interval while the port is open and the line busy.
constexpr int kReceiveTickMs = 10;

// Click handler of the port button: opens or closes the port. Closing stops
// the receive timer, ends an unfinished dump (bar 0) and a running read
// (ReadEnd::PortClosed; whoever closed gives its table back). A refused open
// is reported with the library's code and its reason (OpenRefused). A port
// typed that names no item, or a rate neither chosen nor typed as one the
// library knows, gets a notice and nothing is opened.
void TogglePort(Program& p);
// The device went away (adapter pulled, far end closed, read or write error):
// reports PortLost and closes the port as the port button would. A running
// read ends as ReadEnd::PortLost; a running operation finds the port closed
// and sends nothing more. Does nothing while no port is open.
void ClosePortOnLoss(Program& p);
// Why sio_open refused, from the code it answered.
OpenRefusal OpenRefusalOf(int sioResult);
// True when a library result says the port's device has gone away.
inline bool PortWasLost(int sioResult) { return sioResult == SioResult::DeviceGone; }
// sio_close; true when it answered 0.
bool ClosePort(Program& p, int portNumber);
