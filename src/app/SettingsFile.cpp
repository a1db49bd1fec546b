#include "app/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <utility>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

#include "config/FilePlace.h"
#include "config/RegularFile.h"
#include "core/FileNames.h"
#include "ui/UiServices.h"

namespace {
// A settings file holds a few lines; anything larger is not ours to rewrite.
constexpr qint64 kLargestSettingsFile = qint64(1) << 20;

QByteArray ReadCopy(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

bool SettingsFile::CopyFolder::Make()
{
    path_ = NativeFileName(MakePrivateFolder());
    return !path_.isEmpty();
}

SettingsFile::CopyFolder::~CopyFolder()
{
    if (path_.isEmpty()) return;
    // The copy, and whatever QSettings left beside it (its lock file).
    if (DIR* folder = opendir(path_.constData())) {
        while (const dirent* entry = readdir(folder))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                unlinkat(dirfd(folder), entry->d_name, 0);
        closedir(folder);
    }
    rmdir(path_.constData());
}

QString SettingsFile::CopyFolder::FilePath(const QString& name) const
{
    return FileNameFromNative(path_) + QLatin1Char('/') + name;
}

SettingsFile::SettingsFile(const QString& path, UiServices& ui) : path_(path), ui_(ui)
{
    if (path_.isEmpty()) return;
    if (!copyFolder_.Make()) {
        Refuse(QStringLiteral("cannot be copied to a temporary folder"));
        return;
    }
    const QFileInfo info(path_);
    if (info.exists() && !info.isFile()) {
        Refuse(QStringLiteral("is not a regular file"));
        return;
    }
    // Opened without waiting and taken only as a regular file, should a FIFO have come meanwhile.
    if (info.exists() && !ReadRegularFile(path_, kLargestSettingsFile, &read_)) {
        Refuse(QStringLiteral("cannot be read as a settings file"));
        return;
    }
    const QString copy = copyFolder_.FilePath(QStringLiteral("velmora.conf"));
    QFile f(copy);
    if (!f.open(QIODevice::WriteOnly) || f.write(read_) != read_.size() || !f.flush()) {
        Refuse(QStringLiteral("cannot be copied to a temporary folder"));
        return;
    }
    f.close();
    settings_ = std::make_unique<QSettings>(copy, QSettings::IniFormat);
}

SettingsFile::~SettingsFile() = default;

bool SettingsFile::Keep()
{
    if (!settings_) return false;
    settings_->sync();
    if (settings_->status() != QSettings::NoError) return Unwritten();
    const QByteArray bytes = ReadCopy(settings_->fileName());
    if (bytes == read_ && QFileInfo::exists(path_)) return true;
    const QFileInfo info(path_);
    // Something else may have been put there while the program ran.
    if (info.exists() && !info.isFile()) return Refuse(QStringLiteral("is not a regular file"));
    if (!QDir().mkpath(info.absolutePath()) || !WriteFileContent(path_, bytes)) return Unwritten();
    read_ = bytes;
    return true;
}

bool SettingsFile::Refuse(const QString& why)
{
    ui_.ReportOnConsole(QStringLiteral("velmora: %1 %2; the chosen port, rates and language are neither read from it nor kept in it")
                            .arg(path_, why));
    return false;
}

bool SettingsFile::Unwritten()
{
    // Kept at every change of port or rate: said the first time only.
    if (std::exchange(saidUnwritten_, true)) return false;
    ui_.ReportOnConsole(QStringLiteral("velmora: %1 cannot be written; the chosen port, rates and language are not kept").arg(path_));
    return false;
}
