#include "DeviceWatch.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

// Entries are named by whole paths: the serial layer takes a relative name to be one in /dev.
DeviceWatch::DeviceWatch(const QString& folder, int rescanMs) : folder_(QDir::cleanPath(QDir(folder).absolutePath()))
{
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this](const QString&) { Rescan(); });
    rescan_.setTimerType(Qt::CoarseTimer);
    rescan_.setInterval(rescanMs);
    QObject::connect(&rescan_, &QTimer::timeout, [this] { Rescan(); });
}

QStringList DeviceWatch::Start()
{
    Rewatch();
    present_ = Look();
    rescan_.start();
    QStringList entries = present_.keys();
    entries.sort();
    return entries;
}

void DeviceWatch::Rescan()
{
    Rewatch();
    const QHash<QString, dev_t> now = Look();
    QStringList gone, appeared;
    for (auto it = present_.cbegin(); it != present_.cend(); ++it)
        if (now.value(it.key(), dev_t(-1)) != it.value()) gone << it.key();
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (present_.value(it.key(), dev_t(-1)) != it.value()) appeared << it.key();
    present_ = now;
    // In name order, so modules plugged in together start in a steady order.
    gone.sort();
    appeared.sort();
    for (const QString& entry : gone)
        if (onGone) onGone(entry);
    for (const QString& entry : appeared)
        if (onAppeared) onAppeared(entry);
}

QHash<QString, dev_t> DeviceWatch::Look() const
{
    QHash<QString, dev_t> devices;
    const QDir dir(folder_);
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString entry = dir.filePath(name);
        struct stat st {};
        // stat follows the link: a dangling one, or one to anything but a
        // character device, names no device.
        if (::stat(QFile::encodeName(entry).constData(), &st) == 0 && S_ISCHR(st.st_mode)) devices.insert(entry, st.st_rdev);
    }
    return devices;
}

void DeviceWatch::Rewatch()
{
    // The folder itself, or while it does not exist the nearest folder above
    // it, where it will be made (/dev/serial/by-id comes with the first adapter).
    QString target = folder_;
    while (!QFileInfo(target).isDir() && target != QDir::rootPath() && !target.isEmpty()) target = QFileInfo(target).path();
    const QStringList watched = watcher_.directories();
    if (watched == QStringList{target}) return;
    if (!watched.isEmpty()) watcher_.removePaths(watched);
    watcher_.addPath(target);
}
