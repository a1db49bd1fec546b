#pragma once
// Where the tool speaks: results on standard output, messages on standard
// error, both as UTF-8.

#include <QByteArray>
#include <QString>
#include <cstdio>

#include "CliCommand.h"
#include "TableFiles.h"
#include "core/FileNames.h"

// A message line, with the program's name in front unless told not to;
// control characters in it (a NUL in a code, a line end in a file name) and
// a file name's bytes that are not UTF-8 are written as "\xNN".
inline void Err(const QString& line, bool named = true)
{
    const QString text = (named ? QStringLiteral("velmora-cli: ") : QString()) + Printable(line) + QLatin1Char('\n');
    std::fputs(text.toUtf8().constData(), stderr);
}

// Results on standard output, each written whole (WriteOutput). False when
// they did not all get there; why is said the first time, and nothing more is
// written.
inline bool Out(const QByteArray& bytes)
{
    static bool failed = false;  // one process, one standard output
    QString error;
    if (!failed && WriteOutput(QString(), bytes, &error)) return true;
    if (!failed) Err(error);
    failed = true;
    return false;
}

// A usage error: one line naming the problem, one saying which help to read.
// Gives the exit status for it.
inline int UsageError(const QString& message, const QString& verbName)
{
    Err(message);
    Err(TryHelpLine(verbName), false);
    return 2;
}
