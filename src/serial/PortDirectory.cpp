#include "serial/PortDirectory.h"

#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

namespace {

// "/dev/ttyS2" before "/dev/ttyS10": a plain string order would put ten first.
bool NaturalLess(const QString& a, const QString& b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            int ie = i, je = j;
            while (ie < a.size() && a.at(ie).isDigit()) ++ie;
            while (je < b.size() && b.at(je).isDigit()) ++je;
            // Compare digit runs by value without overflow: strip zeros, then length, then text.
            QStringView da = QStringView(a).mid(i, ie - i), db = QStringView(b).mid(j, je - j);
            while (da.size() > 1 && da.front() == u'0') da = da.mid(1);
            while (db.size() > 1 && db.front() == u'0') db = db.mid(1);
            if (da.size() != db.size()) return da.size() < db.size();
            if (const int c = da.compare(db); c != 0) return c < 0;
            i = ie;
            j = je;
            continue;
        }
        if (a.at(i) != b.at(j)) return a.at(i) < b.at(j);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

}  // namespace

QVector<PortEntry> DiscoverSerialDevices()
{
    QVector<PortEntry> machine;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        machine.push_back({info.systemLocation(), info.description()});
    std::stable_sort(machine.begin(), machine.end(),
                     [](const PortEntry& x, const PortEntry& y) { return NaturalLess(x.device, y.device); });

    const QString extra = qEnvironmentVariable("VELMORA_EXTRA_PORTS");
    for (const QString& path : extra.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        machine.push_back({path, QStringLiteral("VELMORA_EXTRA_PORTS")});
    return machine;
}

std::optional<PortEntry> PortDirectory::Find(int comNumber) const
{
    if (comNumber < 1 || comNumber > entries_.size()) return std::nullopt;
    return entries_.at(comNumber - 1);
}

QString PortToolTip(const PortEntry& entry)
{
    if (entry.description.isEmpty()) return entry.device;
    return entry.device + QStringLiteral(" (") + entry.description + QLatin1Char(')');
}
