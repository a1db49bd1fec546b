#pragma once
// Makes a file or folder unwritable for this process, and writable again when
// the guard goes. Permission bits do not stop root, so for root the path is
// also made immutable (where the file system supports it).

#include <QFile>
#include <QProcess>
#include <QString>
#include <unistd.h>

class ReadOnlyPath {
public:
    explicit ReadOnlyPath(const QString& path) : path_(path), permissions_(QFile::permissions(path))
    {
        QFile::setPermissions(path_, permissions_ & ~(QFile::WriteOwner | QFile::WriteUser | QFile::WriteGroup | QFile::WriteOther));
        if (::geteuid() == 0) immutable_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
    }
    ~ReadOnlyPath()
    {
        if (immutable_) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
        QFile::setPermissions(path_, permissions_);
    }
    ReadOnlyPath(const ReadOnlyPath&) = delete;
    ReadOnlyPath& operator=(const ReadOnlyPath&) = delete;

    // False where this process could still write (root on a file system without immutable files).
    bool Holds() const { return ::access(QFile::encodeName(path_).constData(), W_OK) != 0; }

private:
    QString path_;
    QFile::Permissions permissions_;
    bool immutable_ = false;
};
