#pragma once
// One port's result as one line of JSON (JSON Lines), for scripts and for a
// station's report. The keys, in this order: port, device, serial, command,
// ok, status, codes, differences, error, seconds.

#include <QByteArray>
#include <QString>

struct PortJob;
struct PortOutcome;

struct PortResultFacts {
    QString command;  // "read", "write", … as typed
    QString port;     // as given
    QString device;   // the device's path, links resolved; empty: null
    QString serial;   // the USB serial number; empty: null
};

// The facts of a job: its command, its port as given, the device resolved,
// the serial number the port list knows for it.
PortResultFacts ResultFactsOf(const PortJob& job);

// The line, ending in a newline. Differences name their column "on" or "off";
// an empty cell is an empty code. `error` is the summary of a port that did
// not end with status 0, null otherwise.
QByteArray JsonResultLine(const PortResultFacts& facts, const PortOutcome& outcome);
