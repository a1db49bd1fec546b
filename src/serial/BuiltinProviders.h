#pragma once
// The program's own providers of the library functions: the seven sio_*
// functions over Qt Serial Port and the three registry functions presenting
// the machine's serial devices as HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.

#include <memory>
#include <vector>

#include "serial/SerialLibrary.h"

// Both providers share the map of COM numbers to devices of the last enumeration.
std::vector<std::unique_ptr<LibraryProvider>> MakeBuiltinProviders();
