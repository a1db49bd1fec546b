#include "config/ReceiveTick.h"

#include "app/Program.h"

// Placeholder until receiving lands.
void ReceiveTick(Program&) {}
