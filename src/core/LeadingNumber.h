#pragma once
// Reading a number the way the lists' item texts carry it.

#include <QStringView>
#include <QtGlobal>
#include <climits>

// The leading decimal digits of `text` as a number ("115200" -> 115200,
// "12x" -> 12); no digits give 0. A run too long for an int stops at the
// largest int instead of wrapping.
inline int LeadingNumber(QStringView text)
{
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') break;
        value = qMin<qint64>(value * 10 + (c.unicode() - u'0'), INT_MAX);
    }
    return int(value);
}
