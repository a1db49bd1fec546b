#pragma once
// What a port is chosen by: the rates offered and the one both lists start
// at, and the names of the ports, "COM" + N, N counting from 1 in the order
// of the port list.

#include <QString>
#include <QStringView>
#include <optional>

#include "core/LeadingNumber.h"

// The five rates offered for the port and for the module, in the order the
// window's lists show them; the first is where they start, and the rate a
// port opens at.
inline constexpr int kOfferedRates[] = {9600, 19200, 38400, 57600, 115200};
inline constexpr int kDefaultRate = kOfferedRates[0];

// The name of port `n`.
inline QString ComName(int n) { return QStringLiteral("COM") + QString::number(n); }

// N of a name that begins with "COM" (any case): the leading decimal digits
// after it, 0 when there are none. Nothing when the name does not begin so.
inline std::optional<int> ComNumber(QStringView name)
{
    if (!name.startsWith(u"COM", Qt::CaseInsensitive)) return std::nullopt;
    return LeadingNumber(name.mid(3));
}

// N when the whole name is "COM" + N with N at least 1 (any case), as typed
// on a command line; 0 for any other name, which is then a device's path.
inline int ExactComNumber(QStringView name)
{
    if (name.size() < 4 || !name.startsWith(u"COM", Qt::CaseInsensitive) || !name.at(3).isDigit()) return 0;
    bool ok = false;
    const int n = name.mid(3).toInt(&ok);
    return ok && n > 0 ? n : 0;
}
