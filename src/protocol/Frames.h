#pragma once
// The frames the program writes to the module, the one way they are sent,
// and the pause between them.

#include <QString>

struct Program;

// Converts the hex text and writes it with one sio_write on the program's
// port; returns the write's result unchanged.
int SendFrame(Program& p, const QString& hexText);
// Waits ms milliseconds by the monotonic clock while delivering window messages.
void Delay(Program& p, int ms);
