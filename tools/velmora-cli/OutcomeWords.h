#pragma once
// How velmora-cli words what the session says of an operation: the exit
// status and the one line of its result. Nothing here decides how the
// operation went; the outcome says it.

#include <QString>
#include <functional>

#include "CliCommand.h"
#include "PortSession.h"
#include "session/Outcomes.h"

// `interrupted`: the status of the signal that asked everything to stop (128 + s).
// A clear or a module baud change.
void WordShort(Verb verb, int newRate, const ModuleOutcome& o, int interrupted, PortOutcome& outcome);
// A write; true when it went through and the read back may follow.
bool WordWrite(const ModuleOutcome& o, int interrupted, PortOutcome& outcome);
void WordLearn(const ModuleOutcome& o, int interrupted, PortOutcome& outcome);
// A read that did not end with every dump whole; `nothingWritten`: a read
// that would have written a file says that it did not.
void WordReadFailure(const ReadOutcome& r, bool nothingWritten, int interrupted, PortOutcome& outcome);
// "the module's answers were not clear for N codes (title 开, …); read again …",
// each cell named by `name`.
QString WordUnclear(const ReadOutcome& r, const std::function<QString(const CellPosition&)>& name);
