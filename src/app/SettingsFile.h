#pragma once
// The user's settings file (velmora.conf), used through QSettings without
// QSettings ever opening it: QSettings would open a FIFO standing there and
// wait on it for good, at start or at exit. The file is read only when it is
// a regular file, into a private copy that QSettings reads and changes, and
// Keep puts the copy back in its place whole. Anything else at the path (a
// FIFO, a device, a folder) is left alone and said in one line on standard
// error.

#include <QByteArray>
#include <QString>
#include <memory>

class QSettings;
class UiServices;

class SettingsFile {
public:
    // Reads the file at `path`; an empty path is no settings file at all.
    SettingsFile(const QString& path, UiServices& ui);
    ~SettingsFile();

    // True when the settings can be read and kept: the file is a regular file
    // that could be read, or there is none yet.
    bool Usable() const { return settings_ != nullptr; }
    // The settings, as the file held them and as changed since. Only when Usable.
    QSettings& Settings() { return *settings_; }
    // Puts the settings in the file's place, whole or not at all, when they
    // changed. False when they could not be kept, said in one line on
    // standard error the first time.
    bool Keep();

private:
    bool Refuse(const QString& why);
    bool Unwritten();

    // The private folder of the copy, removed with what is in it. Made with
    // MakePrivateFolder and emptied with unlink: QTemporaryDir's random names and
    // recursive removal cost more than all the rest of reading the settings,
    // which start-up waits for.
    class CopyFolder {
    public:
        CopyFolder() = default;
        ~CopyFolder();
        CopyFolder(const CopyFolder&) = delete;
        CopyFolder& operator=(const CopyFolder&) = delete;
        bool Make();
        QString FilePath(const QString& name) const;

    private:
        QByteArray path_;
    };

    QString path_;
    UiServices& ui_;
    QByteArray read_;
    CopyFolder copyFolder_;
    std::unique_ptr<QSettings> settings_;
    bool saidUnwritten_ = false;
};
