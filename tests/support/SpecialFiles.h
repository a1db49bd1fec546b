#pragma once
// FIFOs and device nodes made in a test's own folder (never the system's own
// /dev files), a reader at the far end of a FIFO, and what a path is now.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

// A device node at `path`: 'c' a character device, 'b' a block device. False
// when the system does not let us make one (no privilege, a nodev mount).
inline bool MakeDevice(const QString& path, char kind, unsigned major, unsigned minor)
{
    const mode_t type = kind == 'b' ? S_IFBLK : S_IFCHR;
    return ::mknod(QFile::encodeName(path).constData(), type | 0600, makedev(major, minor)) == 0;
}
// The kernel's null (1, 3) and full (1, 7) devices, as nodes of our own.
constexpr unsigned kMemoryDevices = 1, kNullDevice = 3, kFullDevice = 7;

inline bool MakeFifo(const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

// What stands at `path`: 'f' regular file, 'p' FIFO, 'c' or 'b' device, 'd'
// folder, '?' anything else, '-' nothing.
inline char KindOf(const QString& path)
{
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return '-';
    if (S_ISREG(st.st_mode)) return 'f';
    if (S_ISFIFO(st.st_mode)) return 'p';
    if (S_ISCHR(st.st_mode)) return 'c';
    if (S_ISBLK(st.st_mode)) return 'b';
    if (S_ISDIR(st.st_mode)) return 'd';
    return '?';
}

// Holds a FIFO open for reading from the moment it is made, and collects what
// writers send until the last one closes (or 30 s pass).
class FifoReader {
public:
    explicit FifoReader(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        if (fd_ >= 0) thread_ = std::thread([this] { Collect(); });
    }
    ~FifoReader()
    {
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }
    // Waits for the writer to finish and gives what came.
    QByteArray Received()
    {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    void Collect()
    {
        // Before a writer comes, a read would say end of file; poll waits for
        // bytes, or for a writer that came and went.
        for (;;) {
            pollfd wait = {fd_, POLLIN, 0};
            if (::poll(&wait, 1, 30000) <= 0) return;
            char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) received_.append(buffer, n);
            else if (n == 0 || errno != EAGAIN) return;
        }
    }
    int fd_;
    QByteArray received_;
    std::thread thread_;
};
