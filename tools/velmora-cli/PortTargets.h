#pragma once
// The ports a command names: COM<n> in the window's numbering, or a device path.

#include <QString>
#include <QStringList>
#include <QVector>

#include "serial/PortDirectory.h"

struct PortTarget {
    QString name;    // as given on the command line
    QString device;  // the device it names; empty when COM<n> is beyond the list
    QString label;   // what {port} stands for in an output pattern: COM<n>, or the device's file name
};

// Resolves every name against `list` (the window's port list). False, with
// the reason, when two names mean the same device.
bool ResolvePorts(const QStringList& names, const QVector<PortEntry>& list, QVector<PortTarget>& out, QString* error);

// The index of `device` in `list`, -1 when absent (paths compared as the
// system resolves them).
int IndexOfDevice(const QVector<PortEntry>& list, const QString& device);

// `pattern` with every {port} replaced by the target's label.
QString OutputPathFor(const QString& pattern, const PortTarget& target);

// The device's path as the system resolves it (links followed, e.g. a
// /dev/serial/by-id entry to /dev/ttyUSB0); as given when it does not resolve.
QString ResolvedDevicePath(const QString& device);

// The USB serial number `list` knows for `device`; empty when none.
QString SerialNumberOf(const QVector<PortEntry>& list, const QString& device);
