#include "config/FilePlace.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/RegularFile.h"
#include "core/FileNames.h"

namespace {

bool Fail(QString* why, const QString& reason)
{
    if (why) *why = reason;
    return false;
}

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Links followed on the way to one file, as the system allows (MAXSYMLINKS).
constexpr int kMostLinks = 40;
// How long a FIFO's reader may leave us waiting for room before the write fails.
constexpr int kStalledReaderMs = 10000;
// Names tried for a copy or a new file before giving up.
constexpr int kMostNames = 999;

// A descriptor closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1)
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

QByteArray Joined(const QByteArray& folder, const QByteArray& name)
{
    if (folder.isEmpty()) return name;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// A new file beside the target that nobody else can have made or linked,
// removed again unless Keep() is called.
class Temporary {
public:
    // `mode`: 0600 for a file that takes another's owner and mode later;
    // 0666 for a new one, which the umask then narrows.
    Temporary(int folder, const QByteArray& target, mode_t mode) : folder_(folder)
    {
        for (int attempt = 0; attempt < 100 && fd_.Get() < 0; ++attempt) {
            name_ = '.' + target + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
            fd_.Reset(::openat(folder, name_.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            if (fd_.Get() < 0 && errno != EEXIST) break;
        }
        error_ = errno;
    }
    ~Temporary()
    {
        if (fd_.Get() >= 0 && !kept_) ::unlinkat(folder_, name_.constData(), 0);
    }
    int Fd() const { return fd_.Get(); }
    int Error() const { return error_; }
    const QByteArray& Name() const { return name_; }
    void Keep() { kept_ = true; }

private:
    int folder_;
    ::Fd fd_;
    QByteArray name_;
    int error_ = 0;
    bool kept_ = false;
};

// Gives the temporary the owner, group and mode of `like`. False when this
// user may not (another owner, a group we are not in).
bool TakeOwnerAndMode(int fd, const struct stat& like)
{
    struct stat now = {};
    if (::fstat(fd, &now) != 0) return false;
    if ((now.st_uid != like.st_uid || now.st_gid != like.st_gid) && ::fchown(fd, like.st_uid, like.st_gid) != 0) return false;
    // After the owner: a change of owner clears the set-id bits.
    return ::fchmod(fd, like.st_mode & 07777) == 0;
}

// Flushes the temporary and gives it the first free name from `nameFor(n)`
// on, never replacing anything (a dangling link counts as taken).
bool PublishExclusively(int folder, Temporary& temp, const std::function<QByteArray(int)>& nameFor, QByteArray* taken,
                        QString* why)
{
    if (::fsync(temp.Fd()) != 0) return Fail(why, ErrnoText(errno));
    for (int n = 1; n <= kMostNames; ++n) {
        const QByteArray name = nameFor(n);
        if (::renameat2(folder, temp.Name().constData(), folder, name.constData(), RENAME_NOREPLACE) == 0) {
            temp.Keep();
            *taken = name;
            return true;
        }
        if (errno == EEXIST) continue;
        if (errno != EINVAL && errno != ENOSYS) return Fail(why, ErrnoText(errno));
        // A file system without renameat2's flags: a new link fails on any name taken.
        if (::linkat(folder, temp.Name().constData(), folder, name.constData(), 0) == 0) {
            *taken = name;
            return true;  // the temporary's own name goes with it
        }
        if (errno != EEXIST) return Fail(why, ErrnoText(errno));
    }
    return Fail(why, QStringLiteral("no free name for it (tried %1)").arg(kMostNames));
}

// Whole reads from `fd` at `offset` of up to `n` bytes; fewer only at the end.
qint64 ReadAt(int fd, char* into, qint64 n, qint64 offset)
{
    qint64 done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, into + done, size_t(n - done), off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += got;
    }
    return done;
}

// True when the regular file `name` in `folder` holds exactly the bytes that
// `next(offset, into, n)` gives, `size` of them.
bool FileHolds(int folder, const QByteArray& name, qint64 size, const std::function<qint64(qint64, char*, qint64)>& next)
{
    struct stat st = {};
    if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_size != size)
        return false;
    Fd fd(::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) return false;
    constexpr qint64 kPiece = 1 << 16;
    QByteArray mine(kPiece, Qt::Uninitialized), theirs(kPiece, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += kPiece) {
        const qint64 n = qMin(kPiece, size - at);
        if (ReadAt(fd.Get(), mine.data(), n, at) != n || next(at, theirs.data(), n) != n) return false;
        if (std::memcmp(mine.constData(), theirs.constData(), size_t(n)) != 0) return false;
    }
    return true;
}

// Writes all of `content` to `fd` (see WriteAllTo); `size` is how much there was.
bool WriteContentTo(int fd, const FileContent& content, QString* why, qint64* size = nullptr, int stalledMs = -1)
{
    bool written = true;
    qint64 total = 0;
    content([&](QByteArrayView piece) {
        written = written && WriteAllTo(fd, piece, why, stalledMs);
        total += piece.size();
        return written;
    });
    if (size) *size = total;
    return written;
}

// Writes all of `content` to a FIFO or a character device, which is not replaced.
bool WriteIntoSpecial(int folder, const QByteArray& name, const FileContent& content, QString* why)
{
    Fd fd(::openat(folder, name.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENXIO) return Fail(why, QStringLiteral("a FIFO that nobody reads"));
        return Fail(why, ErrnoText(errno));
    }
    struct stat st = {};
    // Something else may have been put there since we looked.
    if (::fstat(fd.Get(), &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)))
        return Fail(why, QStringLiteral("it changed while it was opened"));
    if (!WriteContentTo(fd.Get(), content, why, nullptr, kStalledReaderMs)) return false;
    if (::close(fd.Release()) != 0 && errno != EINTR) return Fail(why, ErrnoText(errno));
    return true;
}

}  // namespace

FilePlace::FilePlace(const QString& path)
{
    const QByteArray native = NativeFileName(path);
    if (native.isEmpty()) {
        why_ = QStringLiteral("no file name");
        return;
    }
    if (!Resolve(native)) return;
    // A folder we may read can be locked and listed; one we may only pass through still takes files.
    const int readable = ::openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (readable >= 0) {
        ::close(folder_);
        folder_ = readable;
    }
}

FilePlace::~FilePlace()
{
    if (folder_ >= 0) ::close(folder_);  // the lock goes with it
}

bool FilePlace::Resolve(const QByteArray& path)
{
    const auto parts = [](const QByteArray& p) {
        std::deque<QByteArray> out;
        for (const QByteArray& part : p.split('/'))
            if (!part.isEmpty()) out.push_back(part);
        return out;
    };
    std::deque<QByteArray> left = parts(path);
    Fd folder(::open(path.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    folderPath_ = path.startsWith('/') ? QByteArray("/") : QByteArray();
    const auto fail = [this](const QString& why) {
        why_ = why;
        return false;
    };
    if (folder.Get() < 0) return fail(ErrnoText(errno));
    int links = 0;
    while (!left.empty()) {
        const QByteArray part = left.front();
        left.pop_front();
        const bool last = left.empty();
        struct stat st = {};
        if (::fstatat(folder.Get(), part.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !last) return fail(ErrnoText(errno));
            st.st_mode = 0;  // a new file
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMostLinks) return fail(ErrnoText(ELOOP));
            struct stat in = {};
            if (::fstat(folder.Get(), &in) != 0) return fail(ErrnoText(errno));
            // The rule of protected_symlinks: in a sticky folder that everyone
            // may write, only a link of ours or of the folder's owner leads on.
            const bool shared = (in.st_mode & S_ISVTX) && (in.st_mode & S_IWOTH);
            if (shared && st.st_uid != ::geteuid() && st.st_uid != in.st_uid)
                return fail(QStringLiteral("%1 is a link that another user (uid %2) put in the shared folder %3; "
                                           "it is not followed")
                                .arg(FileNameFromNative(Joined(folderPath_, part))).arg(st.st_uid)
                                .arg(FileNameFromNative(folderPath_.isEmpty() ? QByteArray(".") : folderPath_)));
            QByteArray target(4096, Qt::Uninitialized);
            const ssize_t n = ::readlinkat(folder.Get(), part.constData(), target.data(), size_t(target.size()));
            if (n < 0) return fail(ErrnoText(errno));
            if (n >= target.size()) return fail(ErrnoText(ENAMETOOLONG));
            target.truncate(n);
            std::deque<QByteArray> spliced = parts(target);
            if (spliced.empty() && !target.startsWith('/')) return fail(ErrnoText(ENOENT));
            left.insert(left.begin(), spliced.begin(), spliced.end());
            if (target.startsWith('/')) {
                folder.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                folderPath_ = "/";
                if (left.empty()) return fail(QStringLiteral("it is a folder"));
            }
            continue;
        }
        if (last && part != "." && part != "..") {
            name_ = part;
            folder_ = folder.Release();
            return true;
        }
        if (part == ".") continue;
        const int next = ::openat(folder.Get(), part.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return fail(ErrnoText(errno));
        folder.Reset(next);
        folderPath_ = Joined(folderPath_, part);
    }
    return fail(ErrnoText(EISDIR));  // "name/", ".": a folder by its very name
}

bool FilePlace::Lock(int waitMs)
{
    if (!Found()) return false;
    if (locked_) return true;
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (::flock(folder_, LOCK_EX | LOCK_NB) == 0) return locked_ = true;
        if (errno == EINTR) continue;
        // A descriptor that only passes through (a folder we may not read), a
        // file system without locks: written as before there were locks.
        if (errno != EWOULDBLOCK) return true;
        if (deadline.hasExpired()) return false;
        QThread::msleep(5);
    }
}

FileStamp FilePlace::Stamp() const
{
    struct stat st = {};
    if (!Found() || ::fstatat(folder_, name_.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    return StampOf(st);
}

bool FilePlace::IsRegularFile() const
{
    struct stat st = {};
    return Found() && ::fstatat(folder_, name_.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

bool FilePlace::Write(const QByteArray& bytes, QString* why)
{
    return Write([&bytes](const PutPiece& put) { put(bytes); }, why);
}

bool FilePlace::Write(const FileContent& content, QString* why)
{
    if (!Found()) return Fail(why, why_);
    struct stat st = {};
    if (::fstatat(folder_, name_.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) return Fail(why, ErrnoText(errno));
        return WriteThroughTemporary(content, why);
    }
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return WriteIntoSpecial(folder_, name_, content, why);
    if (S_ISDIR(st.st_mode)) return Fail(why, QStringLiteral("it is a folder"));
    if (S_ISLNK(st.st_mode)) return Fail(why, QStringLiteral("it changed while it was opened"));
    if (!S_ISREG(st.st_mode)) return Fail(why, QStringLiteral("it is neither a regular file, a FIFO nor a character device"));
    // A file its owner made read-only stays as it is, though the folder would let us replace it.
    if (::faccessat(folder_, name_.constData(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) return Fail(why, ErrnoText(errno));
    // A new file renamed into place would lose the other links and, unless
    // we may give it away, the owner.
    if (st.st_nlink > 1 || (st.st_uid != ::geteuid() && ::geteuid() != 0)) return WriteInPlace(content, why);
    return WriteThroughTemporary(content, why);
}

bool FilePlace::WriteThroughTemporary(const FileContent& content, QString* why)
{
    struct stat old = {};
    const bool replacing = ::fstatat(folder_, name_.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    // A new file gets the usual mode; a replacing one stays private until it
    // has the old file's owner and mode.
    Temporary temp(folder_, name_, replacing ? 0600 : 0666);
    if (temp.Fd() < 0) return Fail(why, ErrnoText(temp.Error()));
    if (replacing && !TakeOwnerAndMode(temp.Fd(), old)) return WriteInPlace(content, why);  // a group we are not in
    if (!WriteContentTo(temp.Fd(), content, why)) return false;
    if (::fsync(temp.Fd()) != 0) return Fail(why, ErrnoText(errno));
    if (::renameat(folder_, temp.Name().constData(), folder_, name_.constData()) != 0) return Fail(why, ErrnoText(errno));
    temp.Keep();
    return true;
}

bool FilePlace::WriteInPlace(const FileContent& content, QString* why)
{
    QByteArray backup;
    QString reason;
    bool made = false;
    if (!BackUpAs(&backup, &made, &reason))
        return Fail(why, QStringLiteral("it must be written in place, and no copy of it could be made first: ") + reason);
    Fd fd(::openat(folder_, name_.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st = {};
    bool ok = fd.Get() >= 0 && ::fstat(fd.Get(), &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        ok = false;
        errno = EINVAL;
    }
    if (!ok) reason = ErrnoText(errno);
    qint64 size = 0;
    ok = ok && WriteContentTo(fd.Get(), content, &reason, &size);
    if (ok && (::ftruncate(fd.Get(), off_t(size)) != 0 || ::fsync(fd.Get()) != 0)) {
        ok = false;
        reason = ErrnoText(errno);
    }
    if (!ok) return Fail(why, reason + QStringLiteral("; what it held is in ") + FileNameFromNative(Joined(folderPath_, backup)));
    // The copy was only for the time of the write.
    if (made) ::unlinkat(folder_, backup.constData(), 0);
    return true;
}

bool FilePlace::BackUp(QString* backup, bool* made, QString* why)
{
    QByteArray name;
    if (!BackUpAs(&name, made, why)) return false;
    *backup = FileNameFromNative(Joined(folderPath_, name));
    return true;
}

bool FilePlace::BackUpAs(QByteArray* backup, bool* made, QString* why)
{
    if (!Found()) return Fail(why, why_);
    Fd source(::openat(folder_, name_.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st = {};
    if (source.Get() < 0 || ::fstat(source.Get(), &st) != 0) return Fail(why, ErrnoText(errno));
    if (!S_ISREG(st.st_mode)) return Fail(why, QStringLiteral("it is not a regular file"));
    const auto nameFor = [this](int n) { return name_ + ".bak" + (n > 1 ? QByteArray::number(n) : QByteArray()); };
    const auto fromSource = [&source](qint64 at, char* into, qint64 n) { return ReadAt(source.Get(), into, n, at); };
    for (int n = 1; n <= kMostNames; ++n) {
        if (!FileHolds(folder_, nameFor(n), st.st_size, fromSource)) continue;
        *backup = nameFor(n);
        *made = false;
        return true;
    }
    Temporary temp(folder_, name_, 0600);
    if (temp.Fd() < 0) return Fail(why, ErrnoText(temp.Error()));
    QByteArray piece(1 << 16, Qt::Uninitialized);
    for (qint64 at = 0;;) {
        const qint64 got = ReadAt(source.Get(), piece.data(), piece.size(), at);
        if (got < 0) return Fail(why, ErrnoText(errno));
        if (got == 0) break;
        if (!WriteAllTo(temp.Fd(), QByteArray::fromRawData(piece.constData(), got), why)) return false;
        at += got;
    }
    // Owner and mode as far as we may give them: a copy is never more open than the file.
    if (!TakeOwnerAndMode(temp.Fd(), st)) ::fchmod(temp.Fd(), st.st_mode & 0777);
    if (!PublishExclusively(folder_, temp, nameFor, backup, why)) return false;
    *made = true;
    return true;
}

bool FilePlace::CreateUnique(const QByteArray& bytes, const std::function<QByteArray(int)>& nameFor,
                             const std::function<bool(const QByteArray&)>& ofTheKind, QString* created, QString* why)
{
    if (!Found()) return Fail(why, why_);
    // The same bytes under a name of the kind asked for: kept already.
    const auto fromBytes = [&bytes](qint64 at, char* into, qint64 n) {
        std::memcpy(into, bytes.constData() + at, size_t(n));
        return n;
    };
    const int listed = ::openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr) {
        QByteArray same;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (ofTheKind(name) && FileHolds(folder_, name, bytes.size(), fromBytes)) {
                same = name;
                break;
            }
        }
        ::closedir(dir);
        if (!same.isEmpty()) {
            *created = FileNameFromNative(Joined(folderPath_, same));
            return true;
        }
    } else if (listed >= 0) {
        ::close(listed);
    }
    Temporary temp(folder_, nameFor(1), 0666);
    if (temp.Fd() < 0) return Fail(why, ErrnoText(temp.Error()));
    QByteArray taken;
    if (!WriteAllTo(temp.Fd(), bytes, why) || !PublishExclusively(folder_, temp, nameFor, &taken, why)) return false;
    *created = FileNameFromNative(Joined(folderPath_, taken));
    return true;
}

bool SameFile(const QString& a, const QString& b)
{
    struct stat sa = {}, sb = {};
    return ::stat(NativeFileName(a).constData(), &sa) == 0 && ::stat(NativeFileName(b).constData(), &sb) == 0
        && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool WriteFileContent(const QString& path, const QByteArray& bytes, QString* why, int lockWaitMs)
{
    FilePlace place(path);
    if (!place.Found()) return Fail(why, place.Why());
    if (!place.Lock(lockWaitMs))
        return Fail(why, QStringLiteral("another program kept it locked for %1 s while saving it").arg(lockWaitMs / 1000.0));
    return place.Write(bytes, why);
}
