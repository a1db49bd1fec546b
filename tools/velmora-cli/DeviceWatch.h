#pragma once
// The serial devices in a folder (/dev/serial/by-id, or any folder of device
// paths or links to them), and which of them is ready for a run. A device is
// known by its device number, whatever entries lead to it: two links to one
// adapter are one device, and a link renamed or re-pointed is the device it
// leads to now. A device is ready once after each time it comes: taken when
// it is handed out, busy until its run is released, and given again only
// after it has gone from the folder and come back.
//
// Entries whose names begin with a dot (the temporary names links are made
// under before they are renamed into place) and entries that do not lead to a
// character device are not looked at. An entry counts once it has led to the
// same device file for a moment, so a link still being made is not taken.
//
// A file-system watch gives quick notice; a slow rescan catches what a watch
// can miss (the folder made or removed, a link that turns to another device).
// No polling loop.

#include <QFileSystemWatcher>
#include <QHash>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <sys/types.h>

struct WatchedDevice {
    dev_t number = 0;  // the device number (st_rdev)
    QString entry;     // the entry in the folder it was found by
    QString node;      // the device file that entry led to, links resolved: what a run opens
};

class DeviceWatch {
public:
    // Milliseconds that never go back; the steady clock unless told.
    using Clock = std::function<qint64()>;

    // Watches `folder`; a folder that does not exist yet is waited for. An
    // entry counts once it has led to the same device file for `settleMs`.
    explicit DeviceWatch(const QString& folder, int rescanMs = 2000, int settleMs = 200, Clock clock = {});

    // A device ready for a run. It is busy from then on, until Release.
    std::function<void(const WatchedDevice& device)> onReady;

    // Takes the first look, without telling: the devices there now are taken,
    // as if done, until they go. Gives how many there are.
    int Start();

    // Looks again and hands out the devices now ready, in their entries' name order.
    void Rescan();

    // The run on device `number` has ended. The device stays taken while it
    // is there; one that went and came back during the run is ready at once.
    void Release(dev_t number);

private:
    struct NodeId {
        dev_t fileSystem = 0;
        ino_t inode = 0;
        bool operator==(const NodeId&) const = default;
    };
    struct Entry {
        QString node;
        dev_t number = 0;
        NodeId id;         // a device file made anew (unplugged and plugged in) has another
        qint64 since = 0;  // when it last changed
    };
    struct Device {
        NodeId id;
        bool taken = false;  // handed out (or there at the start) since it last came
        bool busy = false;   // its run has not been released
    };

    QHash<QString, Entry> Look() const;
    void HandOut(qint64 now);  // what is gone, and what is ready now
    void Rewatch();

    QString folder_;
    int settleMs_;
    Clock clock_;
    QHash<QString, Entry> entries_;  // entry path -> what it leads to
    std::map<dev_t, Device> devices_;  // by device number: those there, and busy ones that went
    QFileSystemWatcher watcher_;
    QTimer rescan_;
    QTimer settle_;  // the next look, when an entry will have stood long enough
};
