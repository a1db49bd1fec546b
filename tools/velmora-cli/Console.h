#pragma once
// Where the tool speaks: results on standard output, messages on standard
// error, both as UTF-8.

#include <QByteArray>
#include <QString>
#include <cstdio>

#include "CliCommand.h"

inline void Out(const QByteArray& bytes) { std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout); }

// A message line, with the program's name in front unless told not to.
inline void Err(const QString& line, bool named = true)
{
    std::fputs(((named ? QStringLiteral("velmora-cli: ") : QString()) + line + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

// A usage error: one line naming the problem, one saying which help to read.
// Gives the exit status for it.
inline int UsageError(const QString& message, const QString& verbName)
{
    Err(message);
    Err(TryHelpLine(verbName), false);
    return 2;
}
