#pragma once
// The program's own providers of the library functions: the seven sio_*
// functions over Qt Serial Port and the three registry functions presenting
// the machine's serial devices as HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.

#include <memory>
#include <vector>

#include "serial/BuiltinRegistryProvider.h"
#include "serial/SerialLibrary.h"

// Both providers share the map of COM numbers to devices of the last
// enumeration. The port list is the machine's (DiscoverSerialDevices) unless
// `discover` gives another.
std::vector<std::unique_ptr<LibraryProvider>> MakeBuiltinProviders(BuiltinRegistryProvider::Discover discover = {});
// Providers whose port N is devices[N - 1] from the start, with no enumeration
// first: for a program that names its devices itself (velmora-cli).
std::vector<std::unique_ptr<LibraryProvider>> MakeBuiltinProvidersFor(const QVector<PortEntry>& devices);
