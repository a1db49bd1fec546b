#pragma once
// velmora-cli provision: a station on a production line. It watches a folder
// for serial devices, writes the table into every module that appears and
// reads it back, several modules at once, and gives one line per module.

struct CliCommand;
struct PortJob;

// Runs the station until --count modules are done or a signal asks it to
// stop; `base` holds the table, already checked. Gives the exit status.
int RunStation(const CliCommand& c, const PortJob& base);
