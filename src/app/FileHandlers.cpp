#include "app/FileHandlers.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>
#include <new>
#include <sys/resource.h>

#include "config/ConfigTable.h"
#include "config/FilePlace.h"
#include "config/RegularFile.h"
#include "config/TableFile.h"
#include "core/FileNames.h"
#include "app/Program.h"
#include "core/Texts.h"

namespace {
const QString kTableFileName = QStringLiteral("data.dat");

// "X.dat.bak", "X.dat.bakN", "X.dat.YYYYMMDD-HHMMSS[-N].bak": the copies a save keeps.
bool IsTableCopyName(const QString& path)
{
    static const QRegularExpression kCopy(QStringLiteral("\\.dat\\.(bak[0-9]*|[0-9]{8}-[0-9]{6}(-[0-9]+)?\\.bak)$"));
    return kCopy.match(path).hasMatch();
}

QString SaveFailedText() { return Texts::tr("保存失败，请检查路径或文件是否被占用。"); }

// The stem of a rescue file's name for the table of `path`: "data" for data.dat.
QByteArray RescueStem(const QString& path)
{
    const QString base = QFileInfo(path).completeBaseName();
    return NativeFileName(base.isEmpty() ? QStringLiteral("data") : base);
}

// A ".dat" name for the rescue of the table of `path`, such as
// "data-20240501-093000.dat" (then "-2", "-3", …), which "打开文件" accepts.
QByteArray RescueName(const QByteArray& stem, const QString& when, int n)
{
    return stem + '-' + when.toLatin1() + (n > 1 ? '-' + QByteArray::number(n) : QByteArray()) + ".dat";
}

// Any earlier rescue of the same table file: stem, '-', digits and dashes, ".dat".
bool IsRescueName(const QByteArray& stem, const QByteArray& name)
{
    if (!name.startsWith(stem + '-') || !name.endsWith(".dat")) return false;
    const QByteArray middle = name.mid(stem.size() + 1, name.size() - stem.size() - 5);
    return !middle.isEmpty() && std::all_of(middle.begin(), middle.end(), [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
}

// Puts the table of `path` into a new file of the user's data folder, or
// else of a private folder (mode 0700); one that holds the same table already
// will do. The new file is no more open than the file at `path`.
QString Rescue(const QString& path, const QByteArray& bytes, QString* why)
{
    const QByteArray stem = RescueStem(path);
    const QString when = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QString folder = attempt == 0 ? UserDataFolder() : MakePrivateFolder();
        if (folder.isEmpty() || !QDir().mkpath(folder)) continue;
        FilePlace place(QDir(folder).filePath(FileNameFromNative(RescueName(stem, when, 1))));
        QString created;
        if (place.CreateUnique(
                bytes, [&](int n) { return RescueName(stem, when, n); },
                [&stem](const QByteArray& name) { return IsRescueName(stem, name); }, &created, why, CopyModeFor(path)))
            return created;
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

// Why `path` did not load, when it is something the user can act on (its
// name, its size, the memory there is); empty for a file that is simply no
// table file, or none at all.
QString WhyNotLoaded(const QString& path, TableFileProblem problem)
{
    if (!IsFaithfulFileName(path)) return Texts::tr("文件名中有无法识别的字符");
    switch (problem) {
    case TableFileProblem::TooLargeFile: return Texts::tr("文件大于 %1 MB").arg(TableFileFormat::LargestFileSize >> 20);
    case TableFileProblem::TooLargeInMemory:
        return Texts::tr("记录过多，需要超过 %1 MB 内存").arg(TableFileFormat::LargestTableMemory(StampOf(path).size) >> 20);
    case TableFileProblem::OutOfMemory: return Texts::tr("内存不足");
    case TableFileProblem::None:
    case TableFileProblem::NotATable: break;
    }
    return QString();
}

// The newest copy of `path` kept before a save (a .bak) that loads, when
// `path` is there; empty when there is none.
QString LoadableCopy(const QString& path)
{
    if (!QFileInfo::exists(path)) return QString();
    return FilePlace(path).NewestCopy([](const QString& copy) {
        ConfigTable table;
        return table.LoadTable(copy, nullptr, nullptr);
    });
}

// Which failed loads the log tells of: every one of a file being opened
// (打开文件, a file named at start), or only those the user can act on.
enum class Told { Always, WhenActionable };

// Loads `path` into the table. A name Qt could not read is not loaded at all
// (it would be another file). A load that fails is told in one log line, as
// `told` says, with why when the user can act on it.
bool LoadSaying(Program& p, const QString& path, bool* whole, Told told)
{
    TableFileProblem problem = TableFileProblem::NotATable;
    if (IsFaithfulFileName(path) && p.table.LoadTable(path, whole, &problem)) return true;
    const QString why = WhyNotLoaded(path, problem);
    // A file an interrupted write left damaged: its whole copy is named.
    const QString copy = why.isEmpty() ? LoadableCopy(path) : QString();
    const QString copyNamed = copy.isEmpty() ? QString() : Texts::tr("；上次保存前的副本：%1，可用 打开文件 打开").arg(copy);
    if (told == Told::Always)
        AppendLog(p, (why.isEmpty() ? Texts::tr("无法载入 %1，未打开").arg(path) : Texts::tr("无法载入 %1：%2，未打开").arg(path, why))
                         + copyNamed + QStringLiteral("\r\n"));
    else if (!why.isEmpty() || !copy.isEmpty())
        AppendLog(p, (why.isEmpty() ? Texts::tr("无法载入 %1").arg(path) : Texts::tr("无法载入 %1：%2").arg(path, why)) + copyNamed
                         + QStringLiteral("\r\n"));
    return false;
}

bool LoadInto(Program& p, const QString& path)
{
    bool whole = true;
    // Taken before the read: a change that comes while we read is then seen
    // as one, and kept, rather than missed.
    p.state.currentFileStamp = StampOf(path);
    p.state.keepFileBeforeSave = false;
    const bool loaded = LoadSaying(p, path, &whole, Told::WhenActionable);
    RememberLoadResult(p, loaded, whole);
    p.state.currentTableDigest = TableFileDigest(p.table.Content());
    return loaded;
}

// Makes `path` the current file when it loads; otherwise the log says so and
// the table and the current file stay as they were, so no save goes to a
// file that was never loaded.
bool OpenTableFile(Program& p, const QString& path)
{
    const FileStamp stamp = StampOf(path);
    bool whole = true;
    if (!LoadSaying(p, path, &whole, Told::Always)) return false;
    p.state.currentFilePath = path;
    p.state.currentFileStamp = stamp;
    p.state.keepFileBeforeSave = false;
    RememberLoadResult(p, true, whole);
    p.state.currentTableDigest = TableFileDigest(p.table.Content());
    return true;
}

enum class Saved { Yes, LeftNewer, No };

// What a save had to do without, said once in the log (and on standard
// error when the window is going away).
void SayWriteNotes(Program& p, const FileWriteNotes& notes)
{
    const auto say = [&p](bool& said, const QString& line, const QString& console) {
        if (said) return;
        said = true;
        AppendLog(p, line + QStringLiteral("\r\n"));
        if (p.state.shuttingDown) p.ui.ReportOnConsole(console);
    };
    const QString& path = p.state.currentFilePath;
    if (notes.unlocked)
        say(p.state.saidSavedUnlocked, Texts::tr("%1 所在的文件夹不能加锁，保存时未加锁").arg(path),
            QStringLiteral("velmora: the folder of %1 takes no lock; saved without it").arg(Printable(path)));
    if (notes.notDurable)
        say(p.state.saidNotDurable, Texts::tr("%1 所在的文件夹无法刷新到磁盘，断电时刚保存的内容可能丢失").arg(path),
            QStringLiteral("velmora: the folder of %1 could not be flushed; the save may not survive a power cut").arg(Printable(path)));
}

// The save of the current file, decided and done under the lock of its
// folder, so two windows (or a window and velmora-cli) never save it at the
// same moment, and what one saved is seen by the other.
Saved SaveUnderLock(Program& p, bool atExit, QString* why)
{
    const QString& path = p.state.currentFilePath;
    // Qt put U+FFFD for bytes it could not read; writing that name would make another file.
    if (!IsFaithfulFileName(path)) {
        *why = QStringLiteral("its name holds bytes that are not UTF-8");
        return Saved::No;
    }
    if (!p.table.ReadyToSave()) {
        *why = QStringLiteral("the table is too large for a table file");
        return Saved::No;
    }
    // Written in pieces as it is made: the table's file is never whole in
    // memory beside the table, however long its texts.
    const TableContent& table = p.table.Content();
    const FileContent content = [&table](const PutPiece& put) {
        WriteTableFilePieces(table, [&put](QByteArrayView piece) { put(piece); });
    };
    FilePlace place(path);
    if (!place.Found()) {
        *why = place.Why();
        return Saved::No;
    }
    if (!place.Lock(kSaveLockWaitMs, why)) return Saved::No;
    // Someone saved the file since we last read or wrote it: another window,
    // another program. Their table is kept before ours replaces it.
    const FileStamp onDisk = place.Stamp();
    const bool changed = onDisk.exists && !(onDisk == p.state.currentFileStamp);
    const QByteArray digest = TableFileDigest(table);
    // A window that changed nothing would only put an older table back.
    if (atExit && changed && digest == p.state.currentTableDigest) {
        p.ui.ReportOnConsole(QStringLiteral("velmora: %1 was changed by another program, and this window's table is "
                                            "the one it loaded or saved before that; left the newer file as it is")
                                 .arg(Printable(path)));
        return Saved::LeftNewer;
    }
    // Only a regular file holds anything to keep: a FIFO or a device is
    // written into and stays what it was, a folder is not written at all.
    // A table a read brought in replaces what the file held: that is kept
    // too, as one of the rotating copies, unless a copy above keeps it.
    const bool mustKeep = p.state.backUpCurrentFile || changed;
    if ((mustKeep || p.state.keepFileBeforeSave) && place.IsRegularFile()) {
        QString backup, reason;
        bool made = false;
        if (!(mustKeep ? place.BackUp(&backup, &made, &reason) : place.KeepPrevious(&backup, &made, &reason))) {
            *why = QStringLiteral("no copy of what it holds could be kept first: ") + reason;
            return Saved::No;
        }
        AppendLog(p, (changed ? Texts::tr("%1 已在别处修改，保存前已备份为 %2") : Texts::tr("%1 保存前已备份为 %2")).arg(path, backup)
                         + QStringLiteral("\r\n"));
        // Nobody reads the log of a window that is going away.
        if (p.state.shuttingDown)
            p.ui.ReportOnConsole(QStringLiteral("velmora: %1 %2; kept it as %3 before saving")
                                     .arg(Printable(path),
                                          changed                       ? QStringLiteral("was changed by another program")
                                          : p.state.backUpCurrentFile ? QStringLiteral("held more than the table keeps")
                                                                      : QStringLiteral("held the table a read replaced"),
                                          Printable(backup)));
    }
    p.state.backUpCurrentFile = false;
    const bool written = place.Write(content, why);
    SayWriteNotes(p, place.Notes());
    if (!written) return Saved::No;
    p.state.keepFileBeforeSave = false;
    p.state.currentFileStamp = place.Stamp();
    p.state.currentTableDigest = digest;
    return Saved::Yes;
}

// The save of the buttons: a failure is said in the log with its reason.
bool SaveAsked(Program& p)
{
    QString why;
    if (SaveUnderLock(p, false, &why) == Saved::Yes) return true;
    AppendLog(p, Texts::tr("%1 保存失败：%2").arg(p.state.currentFilePath, why) + QStringLiteral("\r\n"));
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

void LoadStartTable(Program& p, const QString& programFolder)
{
    if (!p.state.startFile.isEmpty() && OpenTableFile(p, QFileInfo(p.state.startFile).absoluteFilePath())) {
        SayIfUnsaveable(p);
        return;
    }
    const StartFiles files = ChooseStartFiles(programFolder, UserDataFolder());
    p.state.currentFilePath = files.keep;
    if (files.load == files.keep) {
        LoadCurrentTable(p);
    } else {
        // The table beside the program is only read; saves go to the kept file,
        // which does not exist yet and so needs no copy.
        LoadSaying(p, files.load, nullptr, Told::WhenActionable);
        p.state.backUpCurrentFile = false;
        p.state.currentFileStamp = StampOf(files.keep);
        p.state.currentTableDigest = TableFileDigest(p.table.Content());
    }
    if (files.keep != QDir(programFolder).filePath(kTableFileName))
        AppendLog(p, Texts::tr("配置保存在 %1").arg(files.keep) + QStringLiteral("\r\n"));
    SayIfUnsaveable(p);
}

void SayIfUnsaveable(Program& p)
{
    const QString& path = p.state.currentFilePath;
    const FilePlace place(path);
    if (place.Planted())
        AppendLog(p, Texts::tr("%1 是其他用户放在共享文件夹中的，不会写入；退出时配置将另存到别处").arg(path) + QStringLiteral("\r\n"));
    else if (QFileInfo(path).isDir())
        AppendLog(p, Texts::tr("%1 是文件夹，不能保存到那里；退出时配置将另存到别处").arg(path) + QStringLiteral("\r\n"));
}

void NoteTableReplacedByRead(Program& p)
{
    const QString& path = p.state.currentFilePath;
    if (p.state.keepFileBeforeSave || !FilePlace(path).IsRegularFile()) return;
    p.state.keepFileBeforeSave = true;
    AppendLog(p, Texts::tr("保存时 %1 的原内容将另存为 .bak").arg(path) + QStringLiteral("\r\n"));
}

bool LoadCurrentTable(Program& p) { return LoadInto(p, p.state.currentFilePath); }

bool SaveCurrentTable(Program& p)
{
    QString why;
    return SaveUnderLock(p, false, &why) == Saved::Yes;
}

bool SaveAtExit(Program& p)
{
    const QString path = p.state.currentFilePath;
    QString why;
    if (SaveUnderLock(p, true, &why) != Saved::No) return true;

    // The current file cannot take the table; a new file in the user's data
    // folder can, or else one in a folder of our own.
    QString rescue, rescueWhy;
    QByteArray bytes;
    try {
        bytes = WriteTableFile(p.table.Content());  // whole: it is compared with earlier rescues
    } catch (const std::bad_alloc&) {
        rescueWhy = QStringLiteral("not enough memory to make its file");
    }
    if (!bytes.isEmpty()) {
        FileSizeLimitLifted lifted;
        rescue = Rescue(path, bytes, &rescueWhy);
    }
    if (rescue.isEmpty()) {
        rlimit limit = {};
        if (!bytes.isEmpty() && ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_max != RLIM_INFINITY
            && rlim_t(bytes.size()) > limit.rlim_max)
            rescueWhy = QStringLiteral("files may not grow past %1 bytes here, the table needs %2").arg(limit.rlim_max).arg(bytes.size());
        p.ui.ReportOnConsole(QStringLiteral("velmora: could not save the table to %1 (%2) nor anywhere else (%3); "
                                            "the changes of this session are lost")
                                 .arg(Printable(path), Printable(why), Printable(rescueWhy)));
        ShowNotice(p, Texts::tr("无法保存配置到 %1，也无法另存，本次修改未能保存。").arg(path));
        return false;
    }
    p.ui.ReportOnConsole(QStringLiteral("velmora: could not save the table to %1 (%2); saved it to %3 instead")
                             .arg(Printable(path), Printable(why), Printable(rescue)));
    ShowNotice(p, Texts::tr("无法保存配置到 %1，已另存到 %2").arg(path, rescue));
    return true;
}

void ShowCurrentFileInTitle(Program& p) { p.ui.SetTitle(TitlePrefix() + p.state.currentFilePath); }

bool OpenFile(Program& p)
{
    if (p.state.tableHeld) return false;
    p.ui.SetDialogKind(0);
    p.ui.SetDefaultExtension(QStringLiteral(".dat"));
    if (p.ui.ShowFileDialog() != 1) return false;
    const QString path = p.ui.GetFileName();
    // Exact comparison: "CONFIG.DAT" is not taken, but said, as any refused
    // file is. A copy kept before a save (data.dat.bak) is taken, as the log
    // offers it when data.dat is damaged.
    if (!path.endsWith(QStringLiteral(".dat"), Qt::CaseSensitive) && !IsTableCopyName(path)) {
        const bool upper = path.endsWith(QStringLiteral(".dat"), Qt::CaseInsensitive);
        QString line = Texts::tr("无法载入 %1：%2，未打开")
                           .arg(path, upper ? Texts::tr("扩展名须为小写的 .dat") : Texts::tr("不是 .dat 文件"));
        if (path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
            line += Texts::tr("（CSV 可用 velmora-cli import 转为表格文件）");
        AppendLog(p, line + QStringLiteral("\r\n"));
        return false;
    }
    // The dialog delivered messages: the module may have begun a dump meanwhile.
    if (p.state.tableHeld) {
        AppendLog(p, Texts::tr("模块操作进行中，未打开 %1").arg(path) + QStringLiteral("\r\n"));
        return false;
    }
    if (!OpenTableFile(p, path)) return false;
    ShowCurrentFileInTitle(p);
    return true;
}

void SaveFile(Program& p)
{
    if (p.state.tableHeld) return;
    const bool saved = SaveAsked(p);
    ShowNotice(p, saved ? Texts::tr("保存成功！") : SaveFailedText());
}

void SaveAs(Program& p)
{
    if (p.state.tableHeld) return;
    p.ui.SetDialogKind(1);
    p.ui.SetDefaultExtension(QStringLiteral(".dat"));
    if (p.ui.ShowFileDialog() != 1) return;
    const QString path = p.ui.GetFileName();
    if (p.state.tableHeld) {
        AppendLog(p, Texts::tr("模块操作进行中，未保存到 %1").arg(path) + QStringLiteral("\r\n"));
        return;
    }
    // A name Qt could not read would be written as another name.
    if (!IsFaithfulFileName(path)) {
        ShowNotice(p, Texts::tr("文件名中有无法识别的字符，未保存：%1").arg(path));
        return;
    }
    // Another file chosen in the save dialog was confirmed there before being
    // replaced; the current file itself still gets its copy first.
    if (path != p.state.currentFilePath) {
        p.state.backUpCurrentFile = false;
        p.state.keepFileBeforeSave = false;
        p.state.currentFileStamp = StampOf(path);
    }
    p.state.currentFilePath = path;
    ShowCurrentFileInTitle(p);
    // Success stays silent; a failure is said, since the table is not where the title says.
    if (!SaveAsked(p)) ShowNotice(p, SaveFailedText());
}
