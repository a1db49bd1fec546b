#include "DeviceWatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace {

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// Entries are named by whole paths: the serial layer takes a relative name to be one in /dev.
DeviceWatch::DeviceWatch(const QString& folder, int rescanMs, int settleMs, Clock clock)
    : folder_(QDir::cleanPath(QDir(folder).absolutePath())), settleMs_(settleMs), clock_(clock ? std::move(clock) : Clock(SteadyMs))
{
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this](const QString&) { Rescan(); });
    rescan_.setTimerType(Qt::CoarseTimer);
    rescan_.setInterval(rescanMs);
    QObject::connect(&rescan_, &QTimer::timeout, [this] { Rescan(); });
    settle_.setSingleShot(true);
    settle_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&settle_, &QTimer::timeout, [this] { Rescan(); });
}

int DeviceWatch::Start()
{
    Rewatch();
    const qint64 now = clock_();
    entries_ = Look();
    for (Entry& e : entries_) {
        e.since = now;
        devices_[e.number] = {e.id, true, false};
    }
    rescan_.start();
    return int(devices_.size());
}

void DeviceWatch::Rescan()
{
    Rewatch();
    const qint64 now = clock_();
    QHash<QString, Entry> seen = Look();
    for (auto it = seen.begin(); it != seen.end(); ++it) {
        // Unchanged since the last look: it has stood still since then.
        const auto before = entries_.constFind(it.key());
        const bool same = before != entries_.cend() && before->node == it->node && before->number == it->number && before->id == it->id;
        it->since = same ? before->since : now;
    }
    entries_ = std::move(seen);
    HandOut(now);
}

void DeviceWatch::Release(dev_t number)
{
    const auto it = devices_.find(number);
    if (it == devices_.end()) return;
    it->second.busy = false;
    Rescan();
}

void DeviceWatch::HandOut(qint64 now)
{
    // The devices there now, each with its entries in name order.
    std::map<dev_t, QStringList> leadingTo;
    for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) leadingTo[it->number] << it.key();
    for (auto& [number, names] : leadingTo) names.sort();

    // Gone: no entry leads to it any more, or its device file was made anew
    // between two looks. Either way it is done again when it is there; a busy
    // one is kept until its run is released.
    for (auto it = devices_.begin(); it != devices_.end();) {
        const auto there = leadingTo.find(it->first);
        const bool sameFile = there != leadingTo.end()
            && std::any_of(there->second.cbegin(), there->second.cend(), [&](const QString& name) { return entries_.value(name).id == it->second.id; });
        if (!sameFile) {
            it->second.taken = false;
            if (!it->second.busy && there == leadingTo.end()) {
                it = devices_.erase(it);
                continue;
            }
        }
        ++it;
    }

    QVector<WatchedDevice> ready;
    qint64 nextLook = LLONG_MAX;
    for (const auto& [number, names] : leadingTo) {
        Device& device = devices_[number];
        if (!device.taken) device.id = entries_.value(names.first()).id;
        if (device.taken || device.busy) continue;
        // The first entry, in name order, that has led to it for long enough.
        const auto settled = std::find_if(names.cbegin(), names.cend(), [&](const QString& name) { return now - entries_.value(name).since >= settleMs_; });
        if (settled != names.cend()) {
            ready.push_back({number, *settled, entries_.value(*settled).node});
        } else {
            for (const QString& name : names) nextLook = std::min(nextLook, entries_.value(name).since + settleMs_);
        }
    }
    if (nextLook == LLONG_MAX)
        settle_.stop();
    else
        settle_.start(int(std::clamp<qint64>(nextLook - now, 0, settleMs_)));

    // In name order, so modules plugged in together start in a steady order.
    std::sort(ready.begin(), ready.end(), [](const WatchedDevice& a, const WatchedDevice& b) { return a.entry < b.entry; });
    for (const WatchedDevice& d : ready) {
        Device& device = devices_[d.number];
        device.taken = true;
        device.busy = true;
        if (onReady) onReady(d);
    }
}

QHash<QString, DeviceWatch::Entry> DeviceWatch::Look() const
{
    QHash<QString, Entry> entries;
    const QDir dir(folder_);
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        // A name beginning with a dot is a temporary one, not looked at.
        if (name.startsWith(QLatin1Char('.'))) continue;
        const QString entry = dir.filePath(name);
        // Where the links lead, then what is there: a dangling link, or one to
        // anything but a character device, names no device.
        char resolved[PATH_MAX];
        if (!::realpath(QFile::encodeName(entry).constData(), resolved)) continue;
        struct stat st {};
        if (::stat(resolved, &st) != 0 || !S_ISCHR(st.st_mode)) continue;
        entries.insert(entry, {QFile::decodeName(resolved), st.st_rdev, {st.st_dev, st.st_ino}, 0});
    }
    return entries;
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
