#include "app/FileHandlers.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include "core/FileNames.h"
#include "app/Program.h"
#include "core/Texts.h"
#include "session/TableDocument.h"

namespace {
const QString kTableFileName = QStringLiteral("data.dat");

// "X.dat.bak", "X.dat.bakN", "X.dat.YYYYMMDD-HHMMSS[-N].bak": the copies a save keeps.
bool IsTableCopyName(const QString& path)
{
    static const QRegularExpression kCopy(QStringLiteral("\\.dat\\.(bak[0-9]*|[0-9]{8}-[0-9]{6}(-[0-9]+)?\\.bak)$"));
    return kCopy.match(path).hasMatch();
}

QString SaveFailedText() { return Texts::tr("保存失败，请检查路径或文件是否被占用。"); }

// Why `path` did not load, when it is something the user can act on (its
// name, its size, the memory there is); empty for a file that is simply no
// table file, or none at all.
QString WhyNotLoaded(const LoadOutcome& o)
{
    switch (o.why) {
    case LoadRefusal::UnreadableName: return Texts::tr("文件名中有无法识别的字符");
    case LoadRefusal::TooLargeFile: return Texts::tr("文件大于 %1 MB").arg(o.bytes >> 20);
    case LoadRefusal::TooLargeInMemory: return Texts::tr("记录过多，需要超过 %1 MB 内存").arg(o.bytes >> 20);
    case LoadRefusal::OutOfMemory: return Texts::tr("内存不足");
    case LoadRefusal::NotATable:
    case LoadRefusal::Held: break;
    }
    return QString();
}

// Which failed loads the log tells of: every one of a file being opened
// (打开文件, a file named at start), or only those the user can act on.
enum class Told { Always, WhenActionable };

// A load that failed, told in one log line, as `told` says, with why when the
// user can act on it, and the copy that loads when the file is damaged.
bool TellLoad(const FileParts& f, const QString& path, const LoadOutcome& o, Told told)
{
    if (o.loaded) return true;
    const QString why = WhyNotLoaded(o);
    const QString copyNamed = o.copy.isEmpty() ? QString() : Texts::tr("；上次保存前的副本：%1，可用 打开文件 打开").arg(o.copy);
    if (told == Told::Always)
        AppendLog(f.ui, (why.isEmpty() ? Texts::tr("无法载入 %1，未打开").arg(path) : Texts::tr("无法载入 %1：%2，未打开").arg(path, why))
                         + copyNamed + QStringLiteral("\r\n"));
    else if (!why.isEmpty() || !o.copy.isEmpty())
        AppendLog(f.ui, (why.isEmpty() ? Texts::tr("无法载入 %1").arg(path) : Texts::tr("无法载入 %1：%2").arg(path, why)) + copyNamed
                         + QStringLiteral("\r\n"));
    return false;
}

// Makes `path` the current file when it loads; otherwise the log says so and
// the table and the current file stay as they were, so no save goes to a
// file that was never loaded.
bool OpenTableFile(const FileParts& f, const QString& path) { return TellLoad(f, path, f.document.Open(path), Told::Always); }

// Why a save was refused, in English (the log quotes it as it is).
QString SaveWhy(const SaveOutcome& o)
{
    switch (o.why) {
    case SaveRefusal::UnreadableName: return QStringLiteral("its name holds bytes that are not UTF-8");
    case SaveRefusal::TooLarge: return QStringLiteral("the table is too large for a table file");
    case SaveRefusal::NoCopy: return QStringLiteral("no copy of what it holds could be kept first: ") + o.detail;
    default: return o.detail;
    }
}

// What a save did on its way, said as it went: the copy it kept, then what
// the write had to do without (once in the log; on standard error too when
// the window is going away, since nobody reads its log).
void TellSave(const FileParts& f, const SaveOutcome& o)
{
    const QString& path = f.document.Path();
    if (o.result == SaveResult::LeftNewer)
        f.ui.ReportOnConsole(QStringLiteral("velmora: %1 was changed by another program, and this window's table is "
                                            "the one it loaded or saved before that; left the newer file as it is")
                                 .arg(Printable(path)));
    if (o.kept != KeptBecause::None) {
        const bool changed = o.kept == KeptBecause::ChangedElsewhere;
        AppendLog(f.ui, (changed ? Texts::tr("%1 已在别处修改，保存前已备份为 %2") : Texts::tr("%1 保存前已备份为 %2")).arg(path, o.copy)
                         + QStringLiteral("\r\n"));
        if (f.shuttingDown)
            f.ui.ReportOnConsole(QStringLiteral("velmora: %1 %2; kept it as %3 before saving")
                                     .arg(Printable(path),
                                          changed                        ? QStringLiteral("was changed by another program")
                                          : o.kept == KeptBecause::HeldMore ? QStringLiteral("held more than the table keeps")
                                                                         : QStringLiteral("held the table a read replaced"),
                                          Printable(o.copy)));
    }
    if (!o.writeTried) return;
    const auto say = [&f](bool& said, const QString& line, const QString& console) {
        if (said) return;
        said = true;
        AppendLog(f.ui, line + QStringLiteral("\r\n"));
        if (f.shuttingDown) f.ui.ReportOnConsole(console);
    };
    if (o.notes.unlocked)
        say(f.said.savedUnlocked, Texts::tr("%1 所在的文件夹不能加锁，保存时未加锁").arg(path),
            QStringLiteral("velmora: the folder of %1 takes no lock; saved without it").arg(Printable(path)));
    if (o.notes.notDurable)
        say(f.said.notDurable, Texts::tr("%1 所在的文件夹无法刷新到磁盘，断电时刚保存的内容可能丢失").arg(path),
            QStringLiteral("velmora: the folder of %1 could not be flushed; the save may not survive a power cut").arg(Printable(path)));
}

// The save of the buttons: a failure is said in the log with its reason.
bool TellSaveAsked(const FileParts& f, const SaveOutcome& o)
{
    TellSave(f, o);
    if (o.result == SaveResult::Written) return true;
    AppendLog(f.ui, Texts::tr("%1 保存失败：%2").arg(f.document.Path(), SaveWhy(o)) + QStringLiteral("\r\n"));
    return false;
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

void LoadStartTable(const FileParts& f, const QString& startFile, const QString& programFolder)
{
    if (!startFile.isEmpty() && OpenTableFile(f, QFileInfo(startFile).absoluteFilePath())) {
        SayIfUnsaveable(f);
        return;
    }
    const StartFiles files = ChooseStartFiles(programFolder, UserDataFolder());
    f.document.SetPath(files.keep);
    if (files.load == files.keep) {
        LoadCurrentTable(f);
    } else {
        // The table beside the program is only read; saves go to the kept file,
        // which does not exist yet and so needs no copy.
        TellLoad(f, files.load, f.document.LoadFrom(files.load), Told::WhenActionable);
    }
    if (files.keep != QDir(programFolder).filePath(kTableFileName))
        AppendLog(f.ui, Texts::tr("配置保存在 %1").arg(files.keep) + QStringLiteral("\r\n"));
    SayIfUnsaveable(f);
}

void SayIfUnsaveable(const FileParts& f)
{
    const QString& path = f.document.Path();
    switch (f.document.WhyUnsaveable()) {
    case Unsaveable::Planted:
        AppendLog(f.ui, Texts::tr("%1 是其他用户放在共享文件夹中的，不会写入；退出时配置将另存到别处").arg(path) + QStringLiteral("\r\n"));
        break;
    case Unsaveable::Folder:
        AppendLog(f.ui, Texts::tr("%1 是文件夹，不能保存到那里；退出时配置将另存到别处").arg(path) + QStringLiteral("\r\n"));
        break;
    case Unsaveable::No: break;
    }
}

void NoteTableReplacedByRead(const FileParts& f)
{
    if (f.document.NoteReplacedByRead())
        AppendLog(f.ui, Texts::tr("保存时 %1 的原内容将另存为 .bak").arg(f.document.Path()) + QStringLiteral("\r\n"));
}

bool LoadCurrentTable(const FileParts& f) { return TellLoad(f, f.document.Path(), f.document.Load(), Told::WhenActionable); }

bool SaveCurrentTable(const FileParts& f)
{
    const SaveOutcome o = f.document.Save();
    TellSave(f, o);
    return o.result == SaveResult::Written;
}

bool SaveAtExit(const FileParts& f)
{
    const QString path = f.document.Path();
    const ExitSaveOutcome o = f.document.SaveAtExit(UserDataFolder());
    TellSave(f, o.save);
    if (o.save.result != SaveResult::Refused) return true;
    const QString why = SaveWhy(o.save);
    if (o.rescue.isEmpty()) {
        const QString rescueWhy = o.rescueWhy == RescueRefusal::OutOfMemory ? QStringLiteral("not enough memory to make its file")
                                  : o.rescueWhy == RescueRefusal::FileSizeLimit
                                      ? QStringLiteral("files may not grow past %1 bytes here, the table needs %2").arg(o.limit).arg(o.needed)
                                      : o.detail;
        f.ui.ReportOnConsole(QStringLiteral("velmora: could not save the table to %1 (%2) nor anywhere else (%3); "
                                            "the changes of this session are lost")
                                 .arg(Printable(path), Printable(why), Printable(rescueWhy)));
        ShowNotice(f.ui, Texts::tr("无法保存配置到 %1，也无法另存，本次修改未能保存。").arg(path));
        return false;
    }
    f.ui.ReportOnConsole(QStringLiteral("velmora: could not save the table to %1 (%2); saved it to %3 instead")
                             .arg(Printable(path), Printable(why), Printable(o.rescue)));
    ShowNotice(f.ui, Texts::tr("无法保存配置到 %1，已另存到 %2").arg(path, o.rescue));
    return true;
}

void ShowCurrentFileInTitle(const FileParts& f) { f.ui.SetTitle(TitlePrefix() + f.document.Path()); }

bool OpenFile(const FileParts& f)
{
    if (f.document.Held()) return false;
    f.ui.SetDialogKind(0);
    f.ui.SetDefaultExtension(QStringLiteral(".dat"));
    if (f.ui.ShowFileDialog() != 1) return false;
    const QString path = f.ui.GetFileName();
    // Exact comparison: "CONFIG.DAT" is not taken, but said, as any refused
    // file is. A copy kept before a save (data.dat.bak) is taken, as the log
    // offers it when data.dat is damaged.
    if (!path.endsWith(QStringLiteral(".dat"), Qt::CaseSensitive) && !IsTableCopyName(path)) {
        const bool upper = path.endsWith(QStringLiteral(".dat"), Qt::CaseInsensitive);
        QString line = Texts::tr("无法载入 %1：%2，未打开")
                           .arg(path, upper ? Texts::tr("扩展名须为小写的 .dat") : Texts::tr("不是 .dat 文件"));
        if (path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
            line += Texts::tr("（CSV 可用 velmora-cli import 转为表格文件）");
        AppendLog(f.ui, line + QStringLiteral("\r\n"));
        return false;
    }
    // The dialog delivered messages: the module may have begun a dump meanwhile.
    const LoadOutcome o = f.document.Open(path);
    if (o.why == LoadRefusal::Held) {
        AppendLog(f.ui, Texts::tr("模块操作进行中，未打开 %1").arg(path) + QStringLiteral("\r\n"));
        return false;
    }
    if (!TellLoad(f, path, o, Told::Always)) return false;
    ShowCurrentFileInTitle(f);
    return true;
}

void SaveFile(const FileParts& f)
{
    const SaveOutcome o = f.document.Save();
    if (o.why == SaveRefusal::Held) return;
    const bool saved = TellSaveAsked(f, o);
    ShowNotice(f.ui, saved ? Texts::tr("保存成功！") : SaveFailedText());
}

void SaveAs(const FileParts& f)
{
    if (f.document.Held()) return;
    f.ui.SetDialogKind(1);
    f.ui.SetDefaultExtension(QStringLiteral(".dat"));
    if (f.ui.ShowFileDialog() != 1) return;
    const QString path = f.ui.GetFileName();
    const SaveOutcome o = f.document.SaveAs(path);
    if (o.why == SaveRefusal::Held) {
        AppendLog(f.ui, Texts::tr("模块操作进行中，未保存到 %1").arg(path) + QStringLiteral("\r\n"));
        return;
    }
    // The name was refused before it became the current file.
    if (o.why == SaveRefusal::UnreadableName) {
        ShowNotice(f.ui, Texts::tr("文件名中有无法识别的字符，未保存：%1").arg(path));
        return;
    }
    ShowCurrentFileInTitle(f);
    // Success stays silent; a failure is said, since the table is not where the title says.
    if (!TellSaveAsked(f, o)) ShowNotice(f.ui, SaveFailedText());
}
