#pragma once
// The shell's handlers: what the main window does when it is created and when
// it closes, the clear-log button, and the binding of every window event to
// the handler that owns it.

#include "ui/WindowHandlers.h"

class ConfigTable;
class SerialLibrary;
class UiServices;
struct FileParts;
struct PortParts;
struct Program;

// Theme, port and baud lists (with the ports remembered in `settingsFile`
// and rates chosen), table layout, port state, current file "data.dat" (or
// `startFile`) loaded, title, module buttons disabled: the window's state
// before it first shows.
void OnMainWindowCreated(UiServices& ui, SerialLibrary& serial, ConfigTable& table, const FileParts& files,
                         const QString& startFile, QString& settingsFile);
// Marks the program as shutting down, takes the module out of configuration
// mode when an operation was under way, saves the table to the current file,
// keeps the chosen port and rates, and closes the port when it is open. Asks
// nothing; says something only when the table could not go into the current
// file (see SaveAtExit). `shuttingDown` is the flag the window's parts read.
void OnMainWindowDestroyed(const PortParts& ports, const FileParts& files, bool& shuttingDown,
                           const QString& settingsFile);
// The clear-log button: empties the log box and nothing else.
void ClearDisplay(UiServices& ui);
// Every event of the main window bound to its handler, each handed the parts
// of `p` it uses.
WindowHandlers MakeWindowHandlers(Program& p);
// What a fatal report does before the process ends: keep the table on disk.
void SaveBeforeFatal(const FileParts& files);
