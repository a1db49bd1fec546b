#include "config/FileHandlers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "core/Program.h"
#include "config/ConfigTable.h"
#include "config/RegularFile.h"

namespace {
const QString kTableFileName = QStringLiteral("data.dat");

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

// After a load attempt: a file that is there but could not be read, or that
// holds more than the table keeps, must not be overwritten unseen.
void RememberLoadResult(Program& p, bool loaded, bool writesBackWhole)
{
    p.state.backUpCurrentFile = loaded ? !writesBackWhole : QFileInfo::exists(p.state.currentFilePath);
}

bool LoadInto(Program& p, const QString& path)
{
    bool whole = true;
    const bool loaded = p.table.LoadTable(path, &whole);
    RememberLoadResult(p, loaded, whole);
    return loaded;
}
}  // namespace

QString ChooseTableFilePath(const QString& programFolder, const QString& userDataFolder)
{
    const QFileInfo folder(programFolder);
    if (folder.isDir() && folder.isWritable()) return QDir(programFolder).filePath(kTableFileName);
    QDir().mkpath(userDataFolder);
    return QDir(userDataFolder).filePath(kTableFileName);
}

bool IsSystemProgramFolder(const QString& folder)
{
    const QString path = QDir::cleanPath(folder);
    for (const char* root : {"/usr", "/opt"})
        if (path == QLatin1String(root) || path.startsWith(QLatin1String(root) + QLatin1Char('/'))) return true;
    return path == QLatin1String("/bin") || path == QLatin1String("/sbin");
}

QString DefaultTableFilePath()
{
    // Root can write to /usr/bin; an installed copy must still not leave the table there.
    const QString programFolder = QCoreApplication::applicationDirPath();
    return ChooseTableFilePath(IsSystemProgramFolder(programFolder) ? QString() : programFolder,
                               QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

bool LoadCurrentTable(Program& p) { return LoadInto(p, p.state.currentFilePath); }

bool SaveCurrentTable(Program& p)
{
    const QString& path = p.state.currentFilePath;
    if (p.state.backUpCurrentFile && QFileInfo::exists(path)) {
        const QString backup = FreeBackupName(path);
        // Not a regular file (a FIFO, a device, a folder): it cannot be
        // copied without risk of hanging, so it is not saved over either.
        if (backup.isEmpty() || !CopyRegularFile(path, backup)) return false;
    }
    p.state.backUpCurrentFile = false;
    return p.table.SaveTable(path);
}

void ShowCurrentFileInTitle(Program& p) { p.ui.SetTitle(kTitlePrefix + p.state.currentFilePath); }

void OpenFile(Program& p)
{
    p.ui.SetDialogKind(0);
    p.ui.SetDefaultExtension(QStringLiteral(".dat"));
    if (p.ui.ShowFileDialog() != 1) return;
    const QString path = p.ui.GetFileName();
    // Exact comparison: "CONFIG.DAT" is not taken.
    if (!path.endsWith(QStringLiteral(".dat"), Qt::CaseSensitive)) return;
    p.state.currentFilePath = path;
    ShowCurrentFileInTitle(p);
    LoadInto(p, path);
}

void SaveFile(Program& p)
{
    const bool saved = SaveCurrentTable(p);
    ShowNotice(p, saved ? QStringLiteral("保存成功！") : QStringLiteral("保存失败，请检查路径或文件是否被占用。"));
}

void SaveAs(Program& p)
{
    p.ui.SetDialogKind(1);
    p.ui.SetDefaultExtension(QStringLiteral(".dat"));
    if (p.ui.ShowFileDialog() != 1) return;
    const QString path = p.ui.GetFileName();
    // Another file chosen in the save dialog was confirmed there before being
    // replaced; the current file itself still gets its copy first.
    if (path != p.state.currentFilePath) p.state.backUpCurrentFile = false;
    p.state.currentFilePath = path;
    ShowCurrentFileInTitle(p);
    SaveCurrentTable(p);
}
