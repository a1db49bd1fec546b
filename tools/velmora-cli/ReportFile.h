#pragma once
// A station's report: a file that lines are appended to, each one on disk
// before Append returns, so a crash or a pulled plug loses no module's line.

#include <QByteArray>
#include <QString>

class ReportFile {
public:
    ReportFile() = default;
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Opens `path` for appending, making it when absent; only a regular file
    // will do. False with "PATH: why not".
    bool Open(const QString& path, QString* error);
    bool IsOpen() const { return fd_ >= 0; }

    // Appends `line` (ending in a newline) whole and waits until it is on
    // disk. False with "PATH: why not" when any step failed; the file is
    // then cut back to the length it had, so it never ends in a part of a line.
    bool Append(const QByteArray& line, QString* error);

private:
    QString path_;
    int fd_ = -1;
};
