#include "PortTargets.h"

#include <QFileInfo>
#include <QSet>

#include "core/PortChoice.h"

namespace {

// Two spellings of one device (a link and its target, ./x and x) compare equal.
QString SameDeviceKey(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

}  // namespace

int IndexOfDevice(const QVector<PortEntry>& list, const QString& device)
{
    const QString key = SameDeviceKey(device);
    for (int i = 0; i < list.size(); ++i)
        if (list.at(i).device == device || SameDeviceKey(list.at(i).device) == key) return i;
    return -1;
}

bool ResolvePorts(const QStringList& names, const QVector<PortEntry>& list, QVector<PortTarget>& out, QString* error)
{
    QVector<PortTarget> targets;
    QSet<QString> devices;
    for (const QString& name : names) {
        PortTarget t;
        t.name = name;
        if (const int n = ExactComNumber(name)) {
            t.label = ComName(n);
            if (n <= list.size()) t.device = list.at(n - 1).device;
        } else {
            // The serial layer takes a name without a folder to be one in
            // /dev; a path relative to the working folder is made whole.
            const QFileInfo info(name);
            t.device = info.isRelative() && (name.contains(QLatin1Char('/')) || info.exists()) ? info.absoluteFilePath() : name;
            t.label = QFileInfo(name).fileName();
        }
        const QString key = t.device.isEmpty() ? t.label : SameDeviceKey(t.device);
        if (devices.contains(key)) {
            if (error) *error = QStringLiteral("\"%1\" names a port that PORTS already names").arg(name);
            return false;
        }
        devices.insert(key);
        targets << t;
    }
    out = targets;
    return true;
}

QString OutputPathFor(const QString& pattern, const PortTarget& target)
{
    return QString(pattern).replace(QStringLiteral("{port}"), target.label);
}

QString ResolvedDevicePath(const QString& device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString SerialNumberOf(const QVector<PortEntry>& list, const QString& device)
{
    const int i = device.isEmpty() ? -1 : IndexOfDevice(list, device);
    return i < 0 ? QString() : list.at(i).serialNumber;
}
