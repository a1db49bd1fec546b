#include "ReportFile.h"

#include <unistd.h>

#include "config/FilePlace.h"

ReportFile::~ReportFile()
{
    if (fd_ >= 0) ::close(fd_);
}

bool ReportFile::Open(const QString& path, QString* error)
{
    path_ = path;
    // Links followed only as the sticky-folder rule allows, the file itself
    // never one, nor another user's in a shared folder; a FIFO is refused
    // instead of waited on.
    FilePlace place(path);
    QString why;
    const int fd = place.OpenForAppend(0644, &why);
    if (fd < 0) {
        *error = path + QStringLiteral(": ") + why;
        return false;
    }
    // A line cut short by an earlier crash ends here, so the next line stands on its own.
    char last = '\n';
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size > 0 && ::pread(fd, &last, 1, size - 1) != 1) last = '\n';
    fd_ = fd;
    return last == '\n' || Append("\n", error);
}

bool ReportFile::Append(const QByteArray& line, QString* error)
{
    QString why;
    if (AppendWhole(fd_, line, &why)) return true;
    *error = path_ + QStringLiteral(": ") + why;
    return false;
}
