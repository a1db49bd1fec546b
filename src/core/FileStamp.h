#pragma once
// Plain data for what the program remembers of a file on disk.

#include <QtGlobal>

// How a file stood on disk, enough to tell that someone has written it since:
// a save by renaming gives it another inode, a write in place another time.
struct FileStamp {
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
