#pragma once
// One port's result as people and scripts read it: the port's name and a
// difference as text, and the whole result as one line of JSON (JSON Lines)
// whose keys are, in this order: port, device, serial, command, ok, status,
// codes, differences, error, seconds.

#include <QByteArray>
#include <QString>

struct CodeDifference;
struct PortJob;
struct PortOutcome;
struct PortTarget;

// How a port is named in messages: COM<n> with its device, or the path as given.
QString PortName(const PortTarget& target);

// A difference as verify prints it: title, 开 or 关, the file's code, the
// module's, tab-separated; "(none)" for an empty cell.
QString DifferenceText(const CodeDifference& difference);

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
