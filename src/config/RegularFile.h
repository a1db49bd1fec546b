#pragma once
// Reading and copying files that are plain files and nothing else. A FIFO, a
// device or a folder in the place of a table file is refused without being
// opened for real, so it can neither hang the program nor be fed to it.

#include <QByteArray>
#include <QString>
#include <functional>

// Reads the whole of a regular file of at most `largest` bytes into `bytes`.
// False for anything else (missing, not a regular file, too large, a read error).
bool ReadRegularFile(const QString& path, qint64 largest, QByteArray* bytes);

// Reads a regular file of at most `largest` bytes in pieces of up to 64 KB,
// handing each to `take` in order; `take` ends the reading early by giving
// false. False when the file is not a regular file, too large or a read fails.
bool ReadRegularFileInPieces(const QString& path, qint64 largest, const std::function<bool(const char*, qint64)>& take);

// Copies the regular file `from` to `to`, which must not exist yet. False, with
// nothing left at `to`, when `from` is not a regular file or a step fails.
bool CopyRegularFile(const QString& from, const QString& to);
