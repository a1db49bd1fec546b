#include "config/FileHandlers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "core/Program.h"
#include "config/ConfigTable.h"

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

// After a load attempt: a file that is there but could not be read must not be overwritten unseen.
void RememberLoadResult(Program& p, bool loaded)
{
    p.state.currentFileUnreadable = !loaded && QFileInfo::exists(p.state.currentFilePath);
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

bool LoadCurrentTable(Program& p)
{
    const bool loaded = p.table.LoadTable(p.state.currentFilePath);
    RememberLoadResult(p, loaded);
    return loaded;
}

bool SaveCurrentTable(Program& p)
{
    const QString& path = p.state.currentFilePath;
    if (p.state.currentFileUnreadable && QFileInfo::exists(path)) {
        const QString backup = FreeBackupName(path);
        if (backup.isEmpty() || !QFile::copy(path, backup)) return false;
    }
    p.state.currentFileUnreadable = false;
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
    RememberLoadResult(p, p.table.LoadTable(path));
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
    // replaced; the unreadable current file itself still gets its copy first.
    if (path != p.state.currentFilePath) p.state.currentFileUnreadable = false;
    p.state.currentFilePath = path;
    ShowCurrentFileInTitle(p);
    SaveCurrentTable(p);
}
