#include "serial/PortConnection.h"

#include "app/Program.h"

// Placeholder bodies until the port connection lands.
int EnumerateComPorts(Program&, QVector<int>& list) { list.clear(); return 0; }
void RefreshPortList(Program&) {}
void FillBaudLists(Program&) {}
void TogglePort(Program&) {}
bool ClosePort(Program&, int) { return false; }
