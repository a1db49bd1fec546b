#include "config/RegularFile.h"

#include "core/FileNames.h"

#include <QFile>
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
        fd_ = ::open(NativeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

}  // namespace

bool WriteAllTo(int fd, QByteArrayView bytes, QString* why, int stalledMs)
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

FileStamp StampOf(const QString& path)
{
    struct stat st = {};
    FileStamp stamp;
    if (::stat(NativeFileName(path).constData(), &st) != 0) return stamp;
    return StampOf(st);
}

FileStamp StampOf(const struct stat& st)
{
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.size = qint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}
