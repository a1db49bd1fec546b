#pragma once
// Reading files that are plain files and nothing else, and writing a file's
// content without ever replacing what is not a plain file.
// A FIFO, a device or a folder in the place of a table file is refused without
// being opened for real, so it can neither hang the program nor be fed to it.

#include <QByteArray>
#include <QString>
#include <functional>

#include "core/FileStamp.h"

// Reads the whole of a regular file of at most `largest` bytes into `bytes`.
// False for anything else (missing, not a regular file, too large, a read error).
bool ReadRegularFile(const QString& path, qint64 largest, QByteArray* bytes);

// Reads a regular file of at most `largest` bytes in pieces of up to 64 KB,
// handing each to `take` in order; `take` ends the reading early by giving
// false. False when the file is not a regular file, too large or a read fails.
bool ReadRegularFileInPieces(const QString& path, qint64 largest, const std::function<bool(const char*, qint64)>& take);

// Writes all of `bytes` to the open descriptor `fd`, going on after a partial
// write or a signal, and on a descriptor that does not block, waiting for room
// (at most `stalledMs` at a time; -1: as long as it takes). False, with the
// reason in English in `why` (errno's text; "it is closed" for a closed
// descriptor; "its reader stopped taking it" after a stall), unless every byte
// was taken.
bool WriteAllTo(int fd, QByteArrayView bytes, QString* why = nullptr, int stalledMs = -1);

// How the file at `path` (a link followed) stands now; not there: all zero.
FileStamp StampOf(const QString& path);
// The stamp of a file as stat() found it.
FileStamp StampOf(const struct stat& st);
