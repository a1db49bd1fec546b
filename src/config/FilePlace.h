#pragma once
// Where a file is written, and the writing itself, safe against other users
// and other processes:
// - links are followed only as the kernel's protected_symlinks rule allows:
//   in a folder that is sticky and writable by all (/tmp), a link is followed
//   only when it belongs to this user or to the folder's owner;
// - the file itself is opened with no-follow flags, never checked first and
//   opened after;
// - saves of one folder are serialised between processes by a lock on the
//   folder, which a replace by renaming does not take away;
// - a replace keeps the file's owner, group, mode and hard links: where a new
//   file renamed into place cannot (a file of another owner that we may
//   write, or one with more than one link), the file is written in place,
//   after a complete, flushed copy of it;
// - copies and new files take free names exclusively, never through a link.

#include <QByteArray>
#include <QString>
#include <functional>

#include "core/FileStamp.h"

// A file's content made as it is written: handed in order, piece by piece,
// to `put`, which gives false once the writing has failed (the rest is then
// not wanted).
using PutPiece = std::function<bool(QByteArrayView piece)>;
using FileContent = std::function<void(const PutPiece& put)>;

class FilePlace {
public:
    // Finds the folder of `path`, following links as the rule allows, and
    // holds it open. The file need not exist.
    explicit FilePlace(const QString& path);
    ~FilePlace();
    FilePlace(const FilePlace&) = delete;
    FilePlace& operator=(const FilePlace&) = delete;

    // False when the place could not be found or a link on the way is not
    // followed; Why() says why in English.
    bool Found() const { return folder_ >= 0; }
    const QString& Why() const { return why_; }
    // The folder, open, and the file's name in it, for an openat() with
    // O_NOFOLLOW of a file that is not written whole (an appended report).
    int Folder() const { return folder_; }
    const QByteArray& Name() const { return name_; }

    // Takes the lock of the folder, waiting at most `waitMs`; false when
    // someone else held it all that time. A folder we may not read cannot be
    // locked and is written without the lock. Kept until the place goes.
    bool Lock(int waitMs);

    // What stands there now (not followed: it is never a link).
    FileStamp Stamp() const;
    bool IsRegularFile() const;

    // Puts `bytes` in the file's place, whole or not at all (see above). A FIFO
    // or a character device is written into; a folder or any other special
    // file is refused, and so is a regular file we may not write. False with
    // the reason in English in `why`. When a write in place fails, the file's
    // previous content is in the copy named in `why`.
    bool Write(const QByteArray& bytes, QString* why);
    // The same for content made while it is written, so it is never whole in memory.
    bool Write(const FileContent& content, QString* why);

    // Copies the regular file here to a free name beside it (name.bak, then
    // name.bak2, …), through a flushed temporary renamed into place, with the
    // file's owner, group and mode. A copy that already holds the same bytes
    // is taken instead of making another. False with the reason in `why`.
    bool BackUp(QString* backup, bool* made, QString* why);

    // Writes `bytes` to a new file in this folder under the first free name of
    // `nameFor(1)`, `nameFor(2)`, …, unless a file whose name is `ofTheKind`
    // already holds exactly these bytes; `created` names the file either way.
    // Made exclusively, through a flushed temporary.
    bool CreateUnique(const QByteArray& bytes, const std::function<QByteArray(int n)>& nameFor,
                      const std::function<bool(const QByteArray& name)>& ofTheKind, QString* created, QString* why);

private:
    bool Resolve(const QByteArray& path);
    bool WriteInPlace(const FileContent& content, QString* why);
    bool BackUpAs(QByteArray* backup, bool* made, QString* why);
    bool WriteThroughTemporary(const FileContent& content, QString* why);

    int folder_ = -1;
    QByteArray folderPath_;  // for messages
    QByteArray name_;
    QString why_;
    bool locked_ = false;
};

// How long a save waits for another process's save of the same folder.
constexpr int kSaveLockWaitMs = 2000;

// Puts `bytes` in the place of `path`, whole or not at all, as FilePlace
// writes (links followed only as the sticky-folder rule allows; owner, mode
// and hard links kept), under the folder's lock, waited for at most
// `lockWaitMs`. A FIFO or a character device is written straight into and
// stays what it was; a FIFO that nobody reads is a failed write, and so is a
// reader that stops taking bytes for 10 s. Anything else there that is not a
// regular file is refused. False, with the reason in English in `why`,
// unless every byte got there.
bool WriteFileContent(const QString& path, const QByteArray& bytes, QString* why = nullptr, int lockWaitMs = kSaveLockWaitMs);

// Tells whether `a` and `b` name the same file (the same device and inode,
// links followed). False when either is not there.
bool SameFile(const QString& a, const QString& b);
