#include "config/RegularFile.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Opens for reading without waiting for a writer (a FIFO) or taking a
// terminal, then keeps the descriptor only when it is a regular file.
class RegularReader {
public:
    explicit RegularReader(const QString& path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat st = {};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) Close();
        if (fd_ >= 0) size_ = st.st_size;
    }
    ~RegularReader() { Close(); }

    bool IsOpen() const { return fd_ >= 0; }
    qint64 Size() const { return size_; }
    // Up to `n` bytes; 0 at the end, -1 on an error.
    qint64 Read(char* into, qint64 n)
    {
        for (;;) {
            const ssize_t got = ::read(fd_, into, size_t(n));
            if (got >= 0 || errno != EINTR) return got;
        }
    }

private:
    void Close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    qint64 size_ = 0;
};
bool Fail(QString* why, const QString& reason)
{
    if (why) *why = reason;
    return false;
}

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// How long a FIFO's reader may leave us waiting for room before the write fails.
constexpr int kStalledReaderMs = 10000;

// Writes all of `bytes` to a FIFO or a character device, which is not replaced.
bool WriteInto(const QByteArray& name, const QByteArray& bytes, QString* why)
{
    const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENXIO) return Fail(why, QStringLiteral("a FIFO that nobody reads"));
        return Fail(why, ErrnoText(errno));
    }
    struct stat st = {};
    // Something else may have been put there since we looked.
    if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        return Fail(why, QStringLiteral("it changed while it was opened"));
    }
    if (!WriteAllTo(fd, bytes, why, kStalledReaderMs)) {
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0 && errno != EINTR) return Fail(why, ErrnoText(errno));
    return true;
}

}  // namespace

bool WriteAllTo(int fd, const QByteArray& bytes, QString* why, int stalledMs)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd wait = {fd, POLLOUT, 0};
            const int ready = ::poll(&wait, 1, stalledMs);
            if (ready > 0 || (ready < 0 && errno == EINTR)) continue;
            return Fail(why, ready == 0 ? QStringLiteral("its reader stopped taking it") : ErrnoText(errno));
        }
        // A write that takes nothing: the device is full.
        const int error = n < 0 ? errno : ENOSPC;
        return Fail(why, error == EBADF ? QStringLiteral("it is closed") : ErrnoText(error));
    }
    return true;
}

bool ReadRegularFile(const QString& path, qint64 largest, QByteArray* bytes)
{
    RegularReader in(path);
    if (!in.IsOpen() || in.Size() > largest) return false;
    QByteArray data(qsizetype(in.Size()), Qt::Uninitialized);
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 got = in.Read(data.data() + done, data.size() - done);
        if (got < 0) return false;
        if (got == 0) break;  // shrank while we read: take what is there
        done += got;
    }
    data.truncate(qsizetype(done));
    *bytes = std::move(data);
    return true;
}

bool ReadRegularFileInPieces(const QString& path, qint64 largest, const std::function<bool(const char*, qint64)>& take)
{
    RegularReader in(path);
    if (!in.IsOpen() || in.Size() > largest) return false;
    char piece[1 << 16];
    qint64 done = 0;
    for (;;) {
        const qint64 got = in.Read(piece, sizeof piece);
        if (got < 0) return false;
        done += got;
        if (done > largest) return false;  // it grew while we read
        if (got == 0 || !take(piece, got)) return true;
    }
}

bool CopyRegularFile(const QString& from, const QString& to)
{
    RegularReader in(from);
    if (!in.IsOpen()) return false;
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return false;
    char buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const qint64 got = in.Read(buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0 || out.write(buffer, got) != got) {
            ok = false;
            break;
        }
    }
    // Buffered bytes that cannot be written only show as a failed flush.
    ok = ok && out.flush();
    out.close();
    if (!ok || out.error() != QFileDevice::NoError) {
        out.remove();
        return false;
    }
    return true;
}

bool WriteFileContent(const QString& path, const QByteArray& bytes, QString* why)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st = {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return WriteInto(name, bytes, why);
        return Fail(why, S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder")
                                             : QStringLiteral("it is neither a regular file, a FIFO nor a character device"));
    }
    // The new content goes to a temporary file that replaces the old one only
    // once it is complete, so a failed write never leaves half a file behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return Fail(why, file.errorString());
    // The device buffers writes; a failure may only show when the buffer is
    // flushed, and commit() would not report it, so flush and check first.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return Fail(why, reason);
    }
    if (!file.commit()) return Fail(why, file.errorString());
    return true;
}

FileStamp StampOf(const QString& path)
{
    struct stat st = {};
    FileStamp stamp;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.size = qint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}
