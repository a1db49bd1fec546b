#include "config/RegularFile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
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
}  // namespace

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
