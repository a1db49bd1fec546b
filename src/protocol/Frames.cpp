#include "protocol/Frames.h"

#include "app/Program.h"

// Placeholder bodies until the frames land.
int SendFrame(Program&, const QString&) { return 0; }
void Delay(Program&, int) {}
