#include "config/FilePlace.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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

FileStepWatcher& StepWatcher()
{
    static FileStepWatcher watcher;
    return watcher;
}

void Step(const char* step, const QByteArray& name)
{
    if (StepWatcher()) StepWatcher()(step, name);
}

// Extended attributes, names and values, as the system keeps them.
using Attributes = QList<std::pair<QByteArray, QByteArray>>;
const QByteArray kAccessAcl = QByteArrayLiteral("system.posix_acl_access");

QList<QByteArray> SplitNames(const QByteArray& list)
{
    QList<QByteArray> names = list.split('\0');
    names.removeAll(QByteArray());
    return names;
}

// The extended attributes of the file behind `fd`; an O_PATH descriptor's
// are read through its /proc name, which leads to the file itself. False when
// they cannot be read; a file system without them has none.
bool ReadAttributes(int fd, Attributes* out)
{
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
    // An O_PATH descriptor takes no calls on itself: EBADF.
    const bool byPath = ::flistxattr(fd, nullptr, 0) < 0 && errno == EBADF;
    const auto list = [&](char* into, size_t size) {
        return byPath ? ::listxattr(path.constData(), into, size) : ::flistxattr(fd, into, size);
    };
    const auto get = [&](const char* name, char* into, size_t size) {
        return byPath ? ::getxattr(path.constData(), name, into, size) : ::fgetxattr(fd, name, into, size);
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        out->clear();
        const ssize_t size = list(nullptr, 0);
        if (size < 0) return errno == ENOTSUP;
        QByteArray names(size, Qt::Uninitialized);
        const ssize_t got = list(names.data(), size_t(names.size()));
        if (got < 0 && errno == ERANGE) continue;  // it grew meanwhile
        if (got < 0) return false;
        names.truncate(got);
        bool whole = true;
        for (const QByteArray& name : SplitNames(names)) {
            const ssize_t n = get(name.constData(), nullptr, 0);
            if (n < 0 && errno == ENODATA) continue;
            if (n < 0) return false;
            QByteArray value(n, Qt::Uninitialized);
            const ssize_t v = get(name.constData(), value.data(), size_t(value.size()));
            if (v < 0 && errno == ERANGE) {
                whole = false;
                break;
            }
            if (v < 0) return false;
            value.truncate(v);
            out->append({name, value});
        }
        if (whole) return true;
    }
    return false;
}

// Gives the open file `to` the attributes `from` lists, and takes away the
// ones it got that `from` lacks (a folder's default ACL). False when one
// could not be set or taken away.
bool TakeAttributes(int to, const Attributes& from)
{
    const auto has = [&from](const QByteArray& name) {
        return std::any_of(from.begin(), from.end(), [&name](const auto& a) { return a.first == name; });
    };
    const ssize_t size = ::flistxattr(to, nullptr, 0);
    if (size < 0 && errno != ENOTSUP) return false;
    QByteArray list(qMax<ssize_t>(size, 0), Qt::Uninitialized);
    const ssize_t got = size > 0 ? ::flistxattr(to, list.data(), size_t(list.size())) : 0;
    if (got < 0) return false;
    list.truncate(got);
    for (const QByteArray& name : SplitNames(list))
        if ((name.startsWith("user.") || name == kAccessAcl) && !has(name) && ::fremovexattr(to, name.constData()) != 0
            && errno != ENODATA)
            return false;
    for (const auto& [name, value] : from) {
        QByteArray now(value.size() + 1, Qt::Uninitialized);
        const ssize_t n = ::fgetxattr(to, name.constData(), now.data(), size_t(now.size()));
        if (n == value.size() && std::memcmp(now.constData(), value.constData(), size_t(n)) == 0) continue;
        if (::fsetxattr(to, name.constData(), value.constData(), size_t(value.size()), 0) != 0) return false;
    }
    return true;
}

bool HasAccessAcl(const Attributes& attributes)
{
    return std::any_of(attributes.begin(), attributes.end(), [](const auto& a) { return a.first == kAccessAcl; });
}

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
    Step("sync", temp.Name());
    for (int n = 1; n <= kMostNames; ++n) {
        const QByteArray name = nameFor(n);
        if (::renameat2(folder, temp.Name().constData(), folder, name.constData(), RENAME_NOREPLACE) == 0) {
            Step("rename", name);
            temp.Keep();
            *taken = name;
            return true;
        }
        if (errno == EEXIST) continue;
        if (errno != EINVAL && errno != ENOSYS) return Fail(why, ErrnoText(errno));
        // A file system without renameat2's flags: a new link fails on any name taken.
        if (::linkat(folder, temp.Name().constData(), folder, name.constData(), 0) == 0) {
            Step("link", name);
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
    // A folder we may read can be locked, listed and flushed; one we may only pass through still takes files.
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

bool FilePlace::Shared(uid_t* owner) const
{
    struct stat in = {};
    if (::fstat(folder_, &in) != 0) return false;
    if (owner) *owner = in.st_uid;
    return (in.st_mode & S_ISVTX) && (in.st_mode & S_IWOTH);
}

// The rule of protected_regular and protected_fifos, whether the kernel
// keeps it or not: in a shared folder, what another user put there is theirs.
QString FilePlace::PlantedWhy(const struct stat& st) const
{
    uid_t owner = 0;
    if (S_ISDIR(st.st_mode) || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || st.st_nlink > 1)) return QString();
    if (!Shared(&owner) || st.st_uid == ::geteuid() || st.st_uid == owner) return QString();
    const QString kind = st.st_nlink > 1 && !S_ISDIR(st.st_mode) ? QStringLiteral("hard link")
                         : S_ISFIFO(st.st_mode)                 ? QStringLiteral("FIFO")
                                                                : QStringLiteral("file");
    return QStringLiteral("%1 is a %2 that another user (uid %3) put in the shared folder %4; it is not written")
        .arg(FileNameFromNative(Joined(folderPath_, name_)), kind)
        .arg(st.st_uid)
        .arg(FileNameFromNative(folderPath_.isEmpty() ? QByteArray(".") : folderPath_));
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
            if (shared && st.st_uid != ::geteuid() && st.st_uid != in.st_uid) {
                planted_ = true;
                return fail(QStringLiteral("%1 is a link that another user (uid %2) put in the shared folder %3; "
                                           "it is not followed")
                                .arg(FileNameFromNative(Joined(folderPath_, part))).arg(st.st_uid)
                                .arg(FileNameFromNative(folderPath_.isEmpty() ? QByteArray(".") : folderPath_)));
            }
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
            const QString planted = st.st_mode ? PlantedWhy(st) : QString();
            if (planted.isEmpty()) return true;
            planted_ = true;
            ::close(std::exchange(folder_, -1));
            return fail(planted);
        }
        if (part == ".") continue;
        const int next = ::openat(folder.Get(), part.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return fail(ErrnoText(errno));
        folder.Reset(next);
        folderPath_ = Joined(folderPath_, part);
    }
    return fail(ErrnoText(EISDIR));  // "name/", ".": a folder by its very name
}

QString FilePlace::Path() const { return FileNameFromNative(Joined(folderPath_, name_)); }

bool FilePlace::Lock(int waitMs, QString* why)
{
    if (!Found()) return Fail(why, why_);
    if (locked_ || notes_.unlocked) return true;
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (::flock(folder_, LOCK_EX | LOCK_NB) == 0) {
            locked_ = true;
            RemoveStaleTemporaries();
            return true;
        }
        if (errno == EINTR) continue;
        // Where locks cannot work: a descriptor that only passes through (a
        // folder we may not read), a file system without locks.
        if (errno == EBADF || errno == ENOLCK || errno == EOPNOTSUPP) {
            notes_.unlocked = true;
            return true;
        }
        if (errno != EWOULDBLOCK) return Fail(why, QStringLiteral("its folder could not be locked: ") + ErrnoText(errno));
        if (deadline.hasExpired())
            return Fail(why, QStringLiteral("another program kept it locked for %1 s while saving it").arg(waitMs / 1000.0));
        QThread::msleep(5);
    }
}

QList<QByteArray> FilePlace::Names(const std::function<bool(const QByteArray&)>& ofTheKind, bool* listed) const
{
    QList<QByteArray> names;
    const int fd = ::openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (listed) *listed = dir != nullptr;
    if (!dir) {
        if (fd >= 0) ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (ofTheKind(name)) names << name;
    }
    ::closedir(dir);
    return names;
}

namespace {
bool AllOf(QByteArrayView text, const char* allowed)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [allowed](char c) { return std::strchr(allowed, c) != nullptr; });
}
const char kDigits[] = "0123456789";

// "name.YYYYMMDD-HHMMSS.bak", "…-N.bak": a copy kept of what a save replaced.
bool IsKeptCopy(const QByteArray& file, const QByteArray& name)
{
    if (!name.startsWith(file + '.') || !name.endsWith(".bak")) return false;
    const QByteArray stamp = name.mid(file.size() + 1, name.size() - file.size() - 5);
    const QList<QByteArray> parts = stamp.split('-');
    return (parts.size() == 2 || parts.size() == 3) && parts[0].size() == 8 && parts[1].size() == 6
        && std::all_of(parts.begin(), parts.end(), [](const QByteArray& p) { return AllOf(p, kDigits); });
}

// Any copy of the file: "name.bak", "name.bakN" or a kept copy.
bool IsCopy(const QByteArray& file, const QByteArray& name)
{
    const QByteArray bak = file + ".bak";
    return name == bak || (name.startsWith(bak) && AllOf(QByteArrayView(name).sliced(bak.size()), kDigits)) || IsKeptCopy(file, name);
}

// How kept copies sort, newest first: by their stamp, then their number.
std::pair<QByteArray, int> KeptOrder(const QByteArray& file, const QByteArray& name)
{
    const QList<QByteArray> parts = name.mid(file.size() + 1, name.size() - file.size() - 5).split('-');
    return {parts[0] + parts[1], parts.size() == 3 ? parts[2].toInt() : 1};
}
}  // namespace

void FilePlace::RemoveStaleTemporaries()
{
    const QByteArray prefix = '.' + name_ + '.';
    const auto stale = [&prefix](const QByteArray& name) {
        return name.startsWith(prefix) && name.endsWith(".tmp")
            && AllOf(QByteArrayView(name).sliced(prefix.size(), name.size() - prefix.size() - 4), "0123456789abcdefghijklmnopqrstuvwxyz");
    };
    for (const QByteArray& name : Names(stale)) {
        struct stat st = {};
        if (::fstatat(folder_, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlinkat(folder_, name.constData(), 0);
    }
}

void FilePlace::FlushFolder()
{
    // A descriptor that only passes through cannot be flushed: the user hears it once.
    if (::fsync(folder_) != 0) notes_.notDurable = true;
    else Step("sync-folder", folderPath_);
}

FileStamp FilePlace::Stamp() const
{
    struct stat st = {};
    if (!Found() || ::fstatat(folder_, name_.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    return StampOf(st);
}

FileIdentity FilePlace::Identity() const
{
    const FileStamp stamp = Stamp();
    return {stamp.exists, stamp.device, stamp.inode};
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
    // Put there since the place was found.
    if (const QString planted = PlantedWhy(st); !planted.isEmpty()) return Fail(why, planted);
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
    Attributes attributes;
    if (replacing) {
        // Read if we may (its attributes then need no /proc), else only found.
        Fd original(::openat(folder_, name_.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
        if (original.Get() < 0) original.Reset(::openat(folder_, name_.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat now = {};
        if (original.Get() < 0 || ::fstat(original.Get(), &now) != 0 || now.st_ino != old.st_ino || now.st_dev != old.st_dev)
            return Fail(why, QStringLiteral("it changed while it was opened"));
        // What cannot be read cannot be given to a new file: the file itself keeps it.
        if (!ReadAttributes(original.Get(), &attributes)) return WriteInPlace(content, why);
    }
    {
        // A new file gets the usual mode; a replacing one stays private until
        // it has the old file's owner, mode and attributes, before any byte.
        Temporary temp(folder_, name_, replacing ? 0600 : 0666);
        if (temp.Fd() < 0) return Fail(why, ErrnoText(temp.Error()));
        const bool alike = !replacing || (TakeOwnerAndMode(temp.Fd(), old) && TakeAttributes(temp.Fd(), attributes));
        if (alike) {
            if (!WriteContentTo(temp.Fd(), content, why)) return false;
            if (::fsync(temp.Fd()) != 0) return Fail(why, ErrnoText(errno));
            Step("sync", temp.Name());
            if (::renameat(folder_, temp.Name().constData(), folder_, name_.constData()) != 0) return Fail(why, ErrnoText(errno));
            Step("rename", name_);
            temp.Keep();
            FlushFolder();
            return true;
        }
    }
    // A group we are not in, an attribute we may not set: the file keeps all it has.
    return WriteInPlace(content, why);
}

bool FilePlace::WriteInPlace(const FileContent& content, QString* why)
{
    QByteArray backup;
    QString reason;
    bool made = false;
    const auto nameFor = [this](int n) { return name_ + ".bak" + (n > 1 ? QByteArray::number(n) : QByteArray()); };
    if (!BackUpAs(&backup, &made, &reason, nameFor, [this](const QByteArray& name) { return IsCopy(name_, name); }))
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
    if (ok) Step("write-in-place", name_);
    ok = ok && WriteContentTo(fd.Get(), content, &reason, &size);
    if (ok && (::ftruncate(fd.Get(), off_t(size)) != 0 || ::fsync(fd.Get()) != 0)) {
        ok = false;
        reason = ErrnoText(errno);
    }
    if (!ok) return Fail(why, reason + QStringLiteral("; what it held is in ") + FileNameFromNative(Joined(folderPath_, backup)));
    Step("sync", name_);
    // The copy was only for the time of the write.
    if (made) ::unlinkat(folder_, backup.constData(), 0);
    return true;
}

bool FilePlace::BackUp(QString* backup, bool* made, QString* why)
{
    QByteArray name;
    const auto nameFor = [this](int n) { return name_ + ".bak" + (n > 1 ? QByteArray::number(n) : QByteArray()); };
    if (!BackUpAs(&name, made, why, nameFor, [this](const QByteArray& n) { return IsCopy(name_, n); })) return false;
    *backup = FileNameFromNative(Joined(folderPath_, name));
    return true;
}

bool FilePlace::KeepPrevious(QString* backup, bool* made, QString* why)
{
    const QByteArray stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
    const auto nameFor = [&](int n) { return name_ + '.' + stamp + (n > 1 ? '-' + QByteArray::number(n) : QByteArray()) + ".bak"; };
    QByteArray name;
    if (!BackUpAs(&name, made, why, nameFor, [this](const QByteArray& n) { return IsCopy(name_, n); })) return false;
    *backup = FileNameFromNative(Joined(folderPath_, name));
    if (!*made) return true;
    // Of the copies made this way, and only of this user's, the three newest stay.
    QList<QByteArray> kept = Names([this](const QByteArray& n) { return IsKeptCopy(name_, n); });
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [this](const QByteArray& n) {
                                  struct stat st = {};
                                  return ::fstatat(folder_, n.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
                                      || st.st_uid != ::geteuid();
                              }),
               kept.end());
    std::sort(kept.begin(), kept.end(), [this](const QByteArray& a, const QByteArray& b) { return KeptOrder(name_, a) > KeptOrder(name_, b); });
    constexpr int kKeptCopies = 3;
    bool removed = false;
    for (qsizetype i = kKeptCopies; i < kept.size(); ++i)
        if (kept[i] != name) removed = ::unlinkat(folder_, kept[i].constData(), 0) == 0 || removed;
    if (removed) FlushFolder();
    return true;
}

QString FilePlace::NewestCopy(const std::function<bool(const QString&)>& loads) const
{
    if (!Found()) return QString();
    QList<std::pair<qint64, QByteArray>> copies;
    for (const QByteArray& name : Names([this](const QByteArray& n) { return IsCopy(name_, n); })) {
        struct stat st = {};
        if (::fstatat(folder_, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            copies.append({qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, name});
    }
    std::sort(copies.begin(), copies.end(), [](const auto& a, const auto& b) { return a > b; });
    for (const auto& [when, name] : copies) {
        const QString path = FileNameFromNative(Joined(folderPath_, name));
        if (loads(path)) return path;
    }
    return QString();
}

bool FilePlace::BackUpAs(QByteArray* backup, bool* made, QString* why, const std::function<QByteArray(int)>& nameFor,
                         const std::function<bool(const QByteArray&)>& ofTheKind)
{
    if (!Found()) return Fail(why, why_);
    Fd source(::openat(folder_, name_.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st = {};
    if (source.Get() < 0 || ::fstat(source.Get(), &st) != 0) return Fail(why, ErrnoText(errno));
    if (!S_ISREG(st.st_mode)) return Fail(why, QStringLiteral("it is not a regular file"));
    const auto fromSource = [&source](qint64 at, char* into, qint64 n) { return ReadAt(source.Get(), into, n, at); };
    // A copy that holds the same bytes will do, when it is ours (or the
    // file's owner's): another user's copy may be gone or changed tomorrow.
    bool listed = false;
    QList<QByteArray> candidates = Names(ofTheKind, &listed);
    if (!listed)  // a folder we may only pass through: the names this copy would take
        for (int n = 1; n <= kMostNames; ++n) candidates << nameFor(n);
    for (const QByteArray& name : candidates) {
        struct stat copy = {};
        if (::fstatat(folder_, name.constData(), &copy, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if ((copy.st_uid != ::geteuid() && copy.st_uid != st.st_uid) || !FileHolds(folder_, name, st.st_size, fromSource))
            continue;
        *backup = name;
        *made = false;
        return true;
    }
    Temporary temp(folder_, name_, 0600);
    if (temp.Fd() < 0) return Fail(why, ErrnoText(temp.Error()));
    // Owner, mode and attributes as far as we may give them; a copy is never
    // more open than the file: without its ACL, only its owner may read it.
    if (!TakeOwnerAndMode(temp.Fd(), st)) ::fchmod(temp.Fd(), st.st_mode & 0777);
    Attributes attributes;
    if (!ReadAttributes(source.Get(), &attributes) || !TakeAttributes(temp.Fd(), attributes)) {
        ::fremovexattr(temp.Fd(), kAccessAcl.constData());
        ::fchmod(temp.Fd(), st.st_mode & 0700);
    }
    QByteArray piece(1 << 16, Qt::Uninitialized);
    for (qint64 at = 0;;) {
        const qint64 got = ReadAt(source.Get(), piece.data(), piece.size(), at);
        if (got < 0) return Fail(why, ErrnoText(errno));
        if (got == 0) break;
        if (!WriteAllTo(temp.Fd(), QByteArray::fromRawData(piece.constData(), got), why)) return false;
        at += got;
    }
    if (!PublishExclusively(folder_, temp, nameFor, backup, why)) return false;
    FlushFolder();
    *made = true;
    return true;
}

int FilePlace::OpenForAppend(mode_t mode, QString* why)
{
    if (!Found()) return Fail(why, why_), -1;
    constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY;
    Fd fd(::openat(folder_, name_.constData(), kFlags | O_CREAT | O_EXCL, mode));
    const bool made = fd.Get() >= 0;
    if (!made && errno == EEXIST) fd.Reset(::openat(folder_, name_.constData(), kFlags));
    struct stat st = {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) return Fail(why, ErrnoText(errno)), -1;
    if (!S_ISREG(st.st_mode)) return Fail(why, QStringLiteral("not a regular file")), -1;
    if (const QString planted = PlantedWhy(st); !planted.isEmpty()) return Fail(why, planted), -1;
    if (made) FlushFolder();
    return fd.Release();
}

bool FilePlace::CreateUnique(const QByteArray& bytes, const std::function<QByteArray(int)>& nameFor,
                             const std::function<bool(const QByteArray&)>& ofTheKind, QString* created, QString* why, mode_t mode)
{
    if (!Found()) return Fail(why, why_);
    // The same bytes under a name of the kind asked for: kept already.
    const auto fromBytes = [&bytes](qint64 at, char* into, qint64 n) {
        std::memcpy(into, bytes.constData() + at, size_t(n));
        return n;
    };
    for (const QByteArray& name : Names(ofTheKind)) {
        if (!FileHolds(folder_, name, bytes.size(), fromBytes)) continue;
        *created = FileNameFromNative(Joined(folderPath_, name));
        return true;
    }
    Temporary temp(folder_, nameFor(1), mode);
    if (temp.Fd() < 0) return Fail(why, ErrnoText(temp.Error()));
    QByteArray taken;
    if (!WriteAllTo(temp.Fd(), bytes, why) || !PublishExclusively(folder_, temp, nameFor, &taken, why)) return false;
    FlushFolder();
    *created = FileNameFromNative(Joined(folderPath_, taken));
    return true;
}

FileIdentity IdentityOfDescriptor(int fd)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0) return {};
    return {true, quint64(st.st_dev), quint64(st.st_ino)};
}

FileIdentity IdentityOf(const QString& path)
{
    Fd fd(::open(NativeFileName(path).constData(), O_PATH | O_CLOEXEC));
    if (fd.Get() >= 0) return IdentityOfDescriptor(fd.Get());
    if (errno != ENAMETOOLONG) return {};
    // Too long for one call: the walk that writes files takes it piece by piece.
    return FilePlace(path).Identity();
}

bool SameFile(const QString& a, const QString& b) { return IdentityOf(a) == IdentityOf(b); }

void WatchFileSteps(FileStepWatcher watcher) { StepWatcher() = std::move(watcher); }

QString MakePrivateFolder()
{
    QByteArray pattern = NativeFileName(QDir::tempPath()) + "/velmora-XXXXXX";
    return ::mkdtemp(pattern.data()) ? FileNameFromNative(pattern) : QString();
}

bool AppendWhole(int fd, const QByteArray& line, QString* why)
{
    // Appenders sharing the file take turns, so taking a line back never
    // takes another's line with it.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat before = {};
    bool written = false;
    if (::fstat(fd, &before) != 0) {
        Fail(why, ErrnoText(errno));
    } else {
        written = WriteAllTo(fd, line, why);
        if (written && ::fsync(fd) != 0) written = Fail(why, ErrnoText(errno));
        // Whole or not at all: a part of a line would break every reader of the file.
        if (!written && (::ftruncate(fd, before.st_size) != 0 || ::fsync(fd) != 0) && why)
            *why += QStringLiteral("; what was written of the line could not be taken back: ") + ErrnoText(errno);
    }
    ::flock(fd, LOCK_UN);
    return written;
}

mode_t CopyModeFor(const QString& path)
{
    Fd fd(::open(NativeFileName(path).constData(), O_PATH | O_CLOEXEC));
    struct stat st = {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return 0666;
    Attributes attributes;
    // With an ACL (or one we cannot see), the group bits are its mask: only the owner.
    const bool plain = ReadAttributes(fd.Get(), &attributes) && !HasAccessAcl(attributes);
    return 0600 | (plain ? st.st_mode & 0066 : 0);
}

namespace {
bool WriteContentLocked(const QString& path, const FileContent& content, QString* why, int lockWaitMs, bool backup,
                        FileWriteNotes* notes)
{
    FilePlace place(path);
    if (!place.Found()) return Fail(why, place.Why());
    const bool locked = place.Lock(lockWaitMs, why);
    if (notes) *notes = place.Notes();
    if (!locked) return false;
    if (backup && place.IsRegularFile()) {
        QString kept, reason;
        bool made = false;
        if (!place.BackUp(&kept, &made, &reason))
            return Fail(why, QStringLiteral("no copy of what it holds could be kept first: ") + reason);
    }
    const bool written = place.Write(content, why);
    if (notes) *notes = place.Notes();
    return written;
}
}  // namespace

bool WriteFileContent(const QString& path, const FileContent& content, QString* why, bool backup, FileWriteNotes* notes)
{
    return WriteContentLocked(path, content, why, kSaveLockWaitMs, backup, notes);
}

bool WriteFileContent(const QString& path, const QByteArray& bytes, QString* why, int lockWaitMs, bool backup, FileWriteNotes* notes)
{
    return WriteContentLocked(path, [&bytes](const PutPiece& put) { put(bytes); }, why, lockWaitMs, backup, notes);
}
