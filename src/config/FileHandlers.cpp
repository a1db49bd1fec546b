#include "config/FileHandlers.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <sys/resource.h>

#include "config/ConfigTable.h"
#include "config/RegularFile.h"
#include "config/TableFile.h"
#include "core/Program.h"
#include "core/Texts.h"

namespace {
const QString kTableFileName = QStringLiteral("data.dat");

QString SaveFailedText() { return Texts::tr("保存失败，请检查路径或文件是否被占用。"); }

// A name beside the file that does not exist yet: path.bak, then path.bak2, …
QString FreeBackupName(const QString& path)
{
    const QString base = path + QStringLiteral(".bak");
    if (!QFileInfo::exists(base)) return base;
    for (int n = 2; n < 1000; ++n) {
        const QString candidate = base + QString::number(n);
        if (!QFileInfo::exists(candidate)) return candidate;
    }
    return QString();
}

// A new ".dat" name in `folder` for the table of `path`, such as
// "data-20240501-093000.dat", which "打开文件" accepts.
QString FreeRescueName(const QString& folder, const QString& path)
{
    QString base = QFileInfo(path).completeBaseName();
    if (base.isEmpty()) base = QStringLiteral("data");
    base += QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss"));
    const QDir dir(folder);
    for (int n = 1; n < 1000; ++n) {
        const QString candidate =
            dir.filePath(base + (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + QStringLiteral(".dat"));
        if (!QFileInfo::exists(candidate)) return candidate;
    }
    return QString();
}

// While it lives, files may grow as far as the process is allowed to let
// them: a limit set for the session must not cost the user the table.
class FileSizeLimitLifted {
public:
    FileSizeLimitLifted()
    {
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
        lifted_ = true;
        rlimit wide = {RLIM_INFINITY, RLIM_INFINITY};
        // Raising the hard limit needs the privilege to; the soft one never does.
        if (::setrlimit(RLIMIT_FSIZE, &wide) == 0) return;
        wide = {saved_.rlim_max, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &wide);
    }
    ~FileSizeLimitLifted()
    {
        if (lifted_) ::setrlimit(RLIMIT_FSIZE, &saved_);
    }

private:
    rlimit saved_ = {};
    bool lifted_ = false;
};

// After a load attempt: a file that is there but could not be read, or that
// holds more than the table keeps, must not be overwritten unseen.
void RememberLoadResult(Program& p, bool loaded, bool writesBackWhole)
{
    p.state.backUpCurrentFile = loaded ? !writesBackWhole : QFileInfo::exists(p.state.currentFilePath);
}

bool LoadInto(Program& p, const QString& path)
{
    bool whole = true;
    // Taken before the read: a change that comes while we read is then seen
    // as one, and kept, rather than missed.
    p.state.currentFileStamp = StampOf(path);
    const bool loaded = p.table.LoadTable(path, &whole);
    RememberLoadResult(p, loaded, whole);
    return loaded;
}

// Makes `path` the current file when it loads; otherwise the log says so and
// the table and the current file stay as they were, so no save goes to a
// file that was never loaded.
bool OpenTableFile(Program& p, const QString& path)
{
    const FileStamp stamp = StampOf(path);
    bool whole = true;
    if (!p.table.LoadTable(path, &whole)) {
        AppendLog(p, Texts::tr("无法载入 %1，未打开").arg(path) + QStringLiteral("\r\n"));
        return false;
    }
    p.state.currentFilePath = path;
    p.state.currentFileStamp = stamp;
    RememberLoadResult(p, true, whole);
    return true;
}
}  // namespace

StartFiles ChooseStartFiles(const QString& programFolder, const QString& userDataFolder)
{
    const QFileInfo folder(programFolder);
    const QString besideProgram = QDir(programFolder).filePath(kTableFileName);
    // Root can write to /usr/bin; an installed copy must still not keep the table there.
    if (folder.isDir() && folder.isWritable() && !IsSystemProgramFolder(programFolder))
        return {besideProgram, besideProgram};
    QDir().mkpath(userDataFolder);
    const QString kept = QDir(userDataFolder).filePath(kTableFileName);
    if (!QFileInfo::exists(kept) && QFileInfo::exists(besideProgram)) return {besideProgram, kept};
    return {kept, kept};
}

bool IsSystemProgramFolder(const QString& folder)
{
    const QString path = QDir::cleanPath(folder);
    for (const char* root : {"/usr", "/opt"})
        if (path == QLatin1String(root) || path.startsWith(QLatin1String(root) + QLatin1Char('/'))) return true;
    return path == QLatin1String("/bin") || path == QLatin1String("/sbin");
}

QString UserDataFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }

void LoadStartTable(Program& p, const QString& programFolder)
{
    if (!p.state.startFile.isEmpty() && OpenTableFile(p, QFileInfo(p.state.startFile).absoluteFilePath())) return;
    const StartFiles files = ChooseStartFiles(programFolder, UserDataFolder());
    p.state.currentFilePath = files.keep;
    if (files.load == files.keep) {
        LoadCurrentTable(p);
    } else {
        // The table beside the program is only read; saves go to the kept file,
        // which does not exist yet and so needs no copy.
        p.table.LoadTable(files.load);
        p.state.backUpCurrentFile = false;
        p.state.currentFileStamp = StampOf(files.keep);
    }
    if (files.keep != QDir(programFolder).filePath(kTableFileName))
        AppendLog(p, Texts::tr("配置保存在 %1").arg(files.keep) + QStringLiteral("\r\n"));
}

bool LoadCurrentTable(Program& p) { return LoadInto(p, p.state.currentFilePath); }

bool SaveCurrentTable(Program& p)
{
    const QString& path = p.state.currentFilePath;
    // Someone saved the file since we last read or wrote it: another window,
    // another program. Their table is kept before ours replaces it.
    const FileStamp onDisk = StampOf(path);
    const bool changed = onDisk.exists && !(onDisk == p.state.currentFileStamp);
    // Only a regular file holds anything to keep: a FIFO or a device is
    // written into and stays what it was, a folder is not written at all.
    if ((p.state.backUpCurrentFile || changed) && QFileInfo(path).isFile()) {
        const QString backup = FreeBackupName(path);
        if (backup.isEmpty() || !CopyRegularFile(path, backup)) return false;
        AppendLog(p, (changed ? Texts::tr("%1 已在别处修改，保存前已备份为 %2") : Texts::tr("%1 保存前已备份为 %2")).arg(path, backup)
                         + QStringLiteral("\r\n"));
        // Nobody reads the log of a window that is going away.
        if (p.state.shuttingDown)
            p.ui.ReportOnConsole(QStringLiteral("velmora: %1 %2; kept it as %3 before saving")
                                     .arg(path, changed ? QStringLiteral("was changed by another program")
                                                        : QStringLiteral("held more than the table keeps"),
                                          backup));
    }
    p.state.backUpCurrentFile = false;
    if (!p.table.SaveTable(path)) return false;
    p.state.currentFileStamp = StampOf(path);
    return true;
}

bool SaveAtExit(Program& p)
{
    const QString path = p.state.currentFilePath;
    if (SaveCurrentTable(p)) return true;

    // The current file cannot take the table; a new file in the user's data
    // folder can, or else one in the temporary folder.
    QString rescue;
    {
        FileSizeLimitLifted lifted;
        for (const QString& folder : {UserDataFolder(), QDir::tempPath()}) {
            if (folder.isEmpty() || !QDir().mkpath(folder)) continue;
            const QString candidate = FreeRescueName(folder, path);
            if (!candidate.isEmpty() && p.table.SaveTable(candidate)) {
                rescue = candidate;
                break;
            }
        }
    }
    if (rescue.isEmpty()) {
        QString why;
        rlimit limit = {};
        const qint64 size = WriteTableFile(p.table.Content()).size();
        if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_max != RLIM_INFINITY && rlim_t(size) > limit.rlim_max)
            why = QStringLiteral(" (files may not grow past %1 bytes here, the table needs %2)").arg(limit.rlim_max).arg(size);
        p.ui.ReportOnConsole(QStringLiteral("velmora: could not save the table to %1 nor anywhere else%2; "
                                            "the changes of this session are lost")
                                 .arg(path, why));
        ShowNotice(p, Texts::tr("无法保存配置到 %1，也无法另存，本次修改未能保存。").arg(path));
        return false;
    }
    p.ui.ReportOnConsole(QStringLiteral("velmora: could not save the table to %1; saved it to %2 instead").arg(path, rescue));
    ShowNotice(p, Texts::tr("无法保存配置到 %1，已另存到 %2").arg(path, rescue));
    return true;
}

void ShowCurrentFileInTitle(Program& p) { p.ui.SetTitle(TitlePrefix() + p.state.currentFilePath); }

void OpenFile(Program& p)
{
    p.ui.SetDialogKind(0);
    p.ui.SetDefaultExtension(QStringLiteral(".dat"));
    if (p.ui.ShowFileDialog() != 1) return;
    const QString path = p.ui.GetFileName();
    // Exact comparison: "CONFIG.DAT" is not taken.
    if (!path.endsWith(QStringLiteral(".dat"), Qt::CaseSensitive)) return;
    if (OpenTableFile(p, path)) ShowCurrentFileInTitle(p);
}

void SaveFile(Program& p)
{
    const bool saved = SaveCurrentTable(p);
    ShowNotice(p, saved ? Texts::tr("保存成功！") : SaveFailedText());
}

void SaveAs(Program& p)
{
    p.ui.SetDialogKind(1);
    p.ui.SetDefaultExtension(QStringLiteral(".dat"));
    if (p.ui.ShowFileDialog() != 1) return;
    const QString path = p.ui.GetFileName();
    // Another file chosen in the save dialog was confirmed there before being
    // replaced; the current file itself still gets its copy first.
    if (path != p.state.currentFilePath) {
        p.state.backUpCurrentFile = false;
        p.state.currentFileStamp = StampOf(path);
    }
    p.state.currentFilePath = path;
    ShowCurrentFileInTitle(p);
    // Success stays silent; a failure is said, since the table is not where the title says.
    if (!SaveCurrentTable(p)) ShowNotice(p, SaveFailedText());
}
