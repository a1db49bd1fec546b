#include "protocol/ModuleOperations.h"

#include "app/Program.h"

// Placeholder bodies until the module operations land.
void SetModuleBaudRate(Program&) {}
void ReadModule(Program&) {}
void ClearModule(Program&) {}
void LearnReport(Program&) {}
void WriteModule(Program&) {}
