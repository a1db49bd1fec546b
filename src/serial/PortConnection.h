#pragma once
// Finding the serial ports, the two baud lists, opening and closing the port.

#include <QVector>

struct Program;

// Replaces `list` with the port numbers the port list names; 1 when the key
// opened (even with no port), 0 when it did not (list empty).
int EnumerateComPorts(Program& p, QVector<int>& list);
// Refills the port box; nothing is selected afterwards.
void RefreshPortList(Program& p);
// Fills the baud box and the module-baud box and selects "9600" in both.
void FillBaudLists(Program& p);
// Click handler of the port button: opens or closes the port.
void TogglePort(Program& p);
// sio_close; true when it answered 0.
bool ClosePort(Program& p, int portNumber);
