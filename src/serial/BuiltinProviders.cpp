#include "serial/BuiltinProviders.h"

// Placeholder until the built-in providers land.
std::vector<std::unique_ptr<LibraryProvider>> MakeBuiltinProviders() { return {}; }
