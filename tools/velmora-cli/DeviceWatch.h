#pragma once
// The serial devices in a folder (/dev/serial/by-id, or any folder of device
// paths or links to them) and which of them come and go. A file-system watch
// gives quick notice; a slow rescan catches what a watch can miss (the folder
// made or removed, a link that turns to another device). No polling loop.

#include <QFileSystemWatcher>
#include <QHash>
#include <QString>
#include <QTimer>
#include <functional>
#include <sys/types.h>

class DeviceWatch {
public:
    // Watches `folder`; a folder that does not exist yet is waited for.
    explicit DeviceWatch(const QString& folder, int rescanMs = 2000);

    // An entry (its path in the folder) that now names a character device it
    // did not name at the last look.
    std::function<void(const QString& entry)> onAppeared;
    // An entry that no longer names the device it named.
    std::function<void(const QString& entry)> onGone;

    // Takes the first look, without telling: what is there now is the start.
    // Gives the entries present.
    QStringList Start();

    // Looks again and tells what changed.
    void Rescan();

private:
    QHash<QString, dev_t> Look() const;
    void Rewatch();

    QString folder_;
    QHash<QString, dev_t> present_;  // entry -> the device number it names
    QFileSystemWatcher watcher_;
    QTimer rescan_;
};
