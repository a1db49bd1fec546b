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
// - a replace keeps the file's extended attributes, its ACL among them
//   (system.posix_acl_access); where it cannot, the file is written in place
//   as above; no copy or temporary is ever more open than the file;
// - in a sticky folder that everyone may write, a regular file, a FIFO or a
//   file with more than one link that belongs neither to this user nor to the
//   folder's owner is never written, as a link there is never followed;
// - copies and new files take free names exclusively, never through a link;
// - the folder is flushed after every rename or link that puts a file in
//   place, before the save counts as done.

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <sys/types.h>

#include "core/FileStamp.h"

// A file's content made as it is written: handed in order, piece by piece,
// to `put`, which gives false once the writing has failed (the rest is then
// not wanted).
using PutPiece = std::function<bool(QByteArrayView piece)>;
using FileContent = std::function<void(const PutPiece& put)>;

// What a write had to do without, for the front end to say once.
struct FileWriteNotes {
    bool unlocked = false;    // the folder takes no lock (no locks there, or a folder we may not read)
    bool notDurable = false;  // the folder could not be flushed after the file was put in place
};

// What a file is, by identity: the same device and inode is the same file.
struct FileIdentity {
    bool known = false;
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity& o) const { return known && o.known && device == o.device && inode == o.inode; }
};
// The file `path` leads to as it opens for reading (links followed); a name
// too long for one system call is followed piece by piece.
FileIdentity IdentityOf(const QString& path);
// The file behind an open descriptor.
FileIdentity IdentityOfDescriptor(int fd);

class FilePlace {
public:
    // Finds the folder of `path`, following links as the rule allows, and
    // holds it open. The file need not exist.
    explicit FilePlace(const QString& path);
    ~FilePlace();
    FilePlace(const FilePlace&) = delete;
    FilePlace& operator=(const FilePlace&) = delete;

    // False when the place could not be found, a link on the way is not
    // followed, or the file there is another user's in a shared folder (see
    // above); Why() says why in English.
    bool Found() const { return folder_ >= 0; }
    const QString& Why() const { return why_; }
    // The path of the file that is written, links resolved.
    QString Path() const;

    // True when the place was refused for an object another user put in a shared folder.
    bool Planted() const { return planted_; }

    // Takes the lock of the folder, waiting at most `waitMs`; false when
    // someone else held it all that time, or the lock failed (`why`). Where
    // locks cannot work (a folder we may only pass through, a file system
    // without them) the place is written without, and Notes() says so.
    // Kept until the place goes. Under the lock, temporaries that a killed
    // save of this file left behind are removed.
    bool Lock(int waitMs, QString* why = nullptr);
    const FileWriteNotes& Notes() const { return notes_; }

    // What stands there now (not followed: it is never a link).
    FileStamp Stamp() const;
    FileIdentity Identity() const;
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
    // The same, for what a save is about to replace though it was not the
    // user's own work (a table a read replaced): a copy is made as
    // name.YYYYMMDD-HHMMSS.bak, unless a .bak of any kind holds the same bytes;
    // of the copies made this way, the three newest are kept. No other .bak is removed.
    bool KeepPrevious(QString* backup, bool* made, QString* why);
    // The newest of this file's copies (.bak, .bakN, .YYYYMMDD-HHMMSS.bak) for
    // which `loads` is true; empty when none.
    QString NewestCopy(const std::function<bool(const QString& path)>& loads) const;

    // Opens the file for appending (made when absent, with `mode`), only when
    // it is a regular file; -1 with the reason in `why`.
    int OpenForAppend(mode_t mode, QString* why);

    // Writes `bytes` to a new file in this folder under the first free name of
    // `nameFor(1)`, `nameFor(2)`, …, unless a file whose name is `ofTheKind`
    // already holds exactly these bytes; `created` names the file either way.
    // Made exclusively, through a flushed temporary.
    // `mode` is narrowed by the umask as for any new file.
    bool CreateUnique(const QByteArray& bytes, const std::function<QByteArray(int n)>& nameFor,
                      const std::function<bool(const QByteArray& name)>& ofTheKind, QString* created, QString* why,
                      mode_t mode = 0666);

private:
    bool Resolve(const QByteArray& path);
    bool Shared(uid_t* owner = nullptr) const;
    QString PlantedWhy(const struct stat& st) const;
    bool WriteInPlace(const FileContent& content, QString* why);
    bool BackUpAs(QByteArray* backup, bool* made, QString* why, const std::function<QByteArray(int)>& nameFor,
                  const std::function<bool(const QByteArray&)>& ofTheKind);
    bool WriteThroughTemporary(const FileContent& content, QString* why);
    void FlushFolder();
    void RemoveStaleTemporaries();
    QList<QByteArray> Names(const std::function<bool(const QByteArray&)>& ofTheKind, bool* listed = nullptr) const;

    int folder_ = -1;
    QByteArray folderPath_;  // for messages
    QByteArray name_;
    QString why_;
    bool planted_ = false;
    bool locked_ = false;
    FileWriteNotes notes_;
};

// The steps of a save in the order they happen, for tests to watch: "sync"
// (a file flushed), "rename", "link", "sync-folder", "write-in-place". Empty: nobody watches.
using FileStepWatcher = std::function<void(const char* step, const QByteArray& name)>;
void WatchFileSteps(FileStepWatcher watcher);

// A new folder of this user's own (mode 0700) in the temporary folder; empty when none could be made.
QString MakePrivateFolder();

// Appends `line` to the open file `fd` whole, with the file locked against
// other appenders, and waits until it is on disk. False with the reason when
// a step failed; the file is then cut back to the length it had.
bool AppendWhole(int fd, const QByteArray& line, QString* why);

// The mode that a copy of the file at `path` made elsewhere may have so that
// it is no more open than the file itself: 0666 when there is no such file.
mode_t CopyModeFor(const QString& path);

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
// With `backup`, an existing regular file keeps its previous content as a
// .bak first (BackUp). `notes`: what the write did without.
bool WriteFileContent(const QString& path, const QByteArray& bytes, QString* why = nullptr, int lockWaitMs = kSaveLockWaitMs,
                      bool backup = false, FileWriteNotes* notes = nullptr);
// The same for content made while it is written.
bool WriteFileContent(const QString& path, const FileContent& content, QString* why, bool backup, FileWriteNotes* notes);

// Tells whether `a` and `b` name the same file (the same device and inode,
// links followed, however long the names). False when either is not there.
bool SameFile(const QString& a, const QString& b);
