#include "ReportFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/FilePlace.h"
#include "config/RegularFile.h"

namespace {

QString Why(const QString& path, int error) { return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

ReportFile::~ReportFile()
{
    if (fd_ >= 0) ::close(fd_);
}

bool ReportFile::Open(const QString& path, QString* error)
{
    path_ = path;
    // Read as well, to see how the file ends. O_NONBLOCK: a FIFO named as the
    // report is refused below instead of waiting for a reader.
    // Links followed only as the sticky-folder rule allows, the file itself never one.
    const FilePlace place(path);
    if (!place.Found()) {
        *error = path + QStringLiteral(": ") + place.Why();
        return false;
    }
    const int fd = ::openat(place.Folder(), place.Name().constData(),
                            O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *error = Why(path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = path + QStringLiteral(": not a regular file");
        return false;
    }
    // A line cut short by an earlier crash ends here, so the next line stands on its own.
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1) last = '\n';
    fd_ = fd;
    return last == '\n' || Append("\n", error);
}

bool ReportFile::Append(const QByteArray& line, QString* error)
{
    // Stations sharing a report take turns, so taking a line back never takes
    // another station's line with it.
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
    auto errnoText = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    struct stat before {};
    QString why;
    bool written = false;
    if (::fstat(fd_, &before) != 0) {
        why = errnoText();
    } else {
        written = WriteAllTo(fd_, line, &why);
        if (written && ::fsync(fd_) != 0) {
            written = false;
            why = errnoText();
        }
        // Whole or not at all: a part of a line would break every reader of the file.
        if (!written && (::ftruncate(fd_, before.st_size) != 0 || ::fsync(fd_) != 0))
            why += QStringLiteral("; what was written of the line could not be taken back: ") + errnoText();
    }
    ::flock(fd_, LOCK_UN);
    if (!written) *error = path_ + QStringLiteral(": ") + why;
    return written;
}
