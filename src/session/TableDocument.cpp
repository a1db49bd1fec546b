#include "session/TableDocument.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <new>
#include <sys/resource.h>

#include "config/ConfigTable.h"
#include "config/RegularFile.h"
#include "config/TableFile.h"
#include "core/FileNames.h"

namespace {

// The stem of a rescue file's name for the table of `path`: "data" for data.dat.
QByteArray RescueStem(const QString& path)
{
    const QString base = QFileInfo(path).completeBaseName();
    return NativeFileName(base.isEmpty() ? QStringLiteral("data") : base);
}

// A ".dat" name for the rescue of the table of `path`, such as
// "data-20240501-093000.dat" (then "-2", "-3", …), which the window opens.
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

// Puts the table of `path` into a new file of `firstFolder`, or else of a
// private folder (mode 0700); one that holds the same table already will do.
// The new file is no more open than the file at `path`.
QString Rescue(const QString& path, const QString& firstFolder, const QByteArray& bytes, QString* why)
{
    const QByteArray stem = RescueStem(path);
    const QString when = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QString folder = attempt == 0 ? firstFolder : MakePrivateFolder();
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

SaveOutcome Refused(SaveRefusal why, const QString& detail = QString())
{
    SaveOutcome o;
    o.why = why;
    o.detail = detail;
    return o;
}

}  // namespace

// Loads `path` into the table. A name Qt could not read is not loaded at all
// (it would be another file).
LoadOutcome TableDocument::LoadTable(const QString& path, bool* whole)
{
    LoadOutcome o;
    if (!IsFaithfulFileName(path)) {
        o.why = LoadRefusal::UnreadableName;
        return o;
    }
    TableFileProblem problem = TableFileProblem::NotATable;
    if (table_.LoadTable(path, whole, &problem)) {
        o.loaded = true;
        return o;
    }
    switch (problem) {
    case TableFileProblem::TooLargeFile:
        o.why = LoadRefusal::TooLargeFile;
        o.bytes = TableFileFormat::LargestFileSize;
        break;
    case TableFileProblem::TooLargeInMemory:
        o.why = LoadRefusal::TooLargeInMemory;
        o.bytes = TableFileFormat::LargestTableMemory(StampOf(path).size);
        break;
    case TableFileProblem::OutOfMemory: o.why = LoadRefusal::OutOfMemory; break;
    case TableFileProblem::None:
    case TableFileProblem::NotATable:
        // A file an interrupted write left damaged: its whole copy is named.
        o.copy = LoadableCopy(path);
        break;
    }
    return o;
}

// After a load attempt: a file that is there but could not be read, or that
// holds more than the table keeps, must not be overwritten unseen.
void TableDocument::Loaded(bool loaded, bool whole)
{
    backUp_ = loaded ? !whole : QFileInfo::exists(path_);
    keepBeforeSave_ = false;
    digest_ = TableFileDigest(table_.Content());
}

LoadOutcome TableDocument::Load()
{
    bool whole = true;
    // Taken before the read: a change that comes while we read is then seen
    // as one, and kept, rather than missed.
    stamp_ = StampOf(path_);
    const LoadOutcome o = LoadTable(path_, &whole);
    Loaded(o.loaded, whole);
    return o;
}

LoadOutcome TableDocument::Open(const QString& path)
{
    if (held_) {
        LoadOutcome o;
        o.why = LoadRefusal::Held;
        return o;
    }
    const FileStamp stamp = StampOf(path);
    bool whole = true;
    const LoadOutcome o = LoadTable(path, &whole);
    if (!o.loaded) return o;
    path_ = path;
    stamp_ = stamp;
    Loaded(true, whole);
    return o;
}

LoadOutcome TableDocument::LoadFrom(const QString& path)
{
    const LoadOutcome o = LoadTable(path, nullptr);
    backUp_ = false;
    stamp_ = StampOf(path_);
    digest_ = TableFileDigest(table_.Content());
    return o;
}

bool TableDocument::NoteReplacedByRead()
{
    if (keepBeforeSave_ || !FilePlace(path_).IsRegularFile()) return false;
    keepBeforeSave_ = true;
    return true;
}

Unsaveable TableDocument::WhyUnsaveable() const
{
    if (FilePlace(path_).Planted()) return Unsaveable::Planted;
    if (QFileInfo(path_).isDir()) return Unsaveable::Folder;
    return Unsaveable::No;
}

// The save of the current file, decided and done under the lock of its
// folder, so two windows (or a window and velmora-cli) never save it at the
// same moment, and what one saved is seen by the other.
SaveOutcome TableDocument::SaveUnderLock(bool atExit)
{
    // Qt put U+FFFD for bytes it could not read; writing that name would make another file.
    if (!IsFaithfulFileName(path_)) return Refused(SaveRefusal::UnreadableName);
    if (!table_.ReadyToSave()) return Refused(SaveRefusal::TooLarge);
    // Written in pieces as it is made: the table's file is never whole in
    // memory beside the table, however long its texts.
    const TableContent& table = table_.Content();
    const FileContent content = [&table](const PutPiece& put) {
        WriteTableFilePieces(table, [&put](QByteArrayView piece) { put(piece); });
    };
    FilePlace place(path_);
    if (!place.Found()) return Refused(SaveRefusal::NoPlace, place.Why());
    QString why;
    if (!place.Lock(kSaveLockWaitMs, &why)) return Refused(SaveRefusal::NotLocked, why);
    // Someone saved the file since we last read or wrote it: another window,
    // another program. Their table is kept before ours replaces it.
    const FileStamp onDisk = place.Stamp();
    const bool changed = onDisk.exists && !(onDisk == stamp_);
    const QByteArray digest = TableFileDigest(table);
    SaveOutcome o;
    // A window that changed nothing would only put an older table back.
    if (atExit && changed && digest == digest_) {
        o.result = SaveResult::LeftNewer;
        return o;
    }
    // Only a regular file holds anything to keep: a FIFO or a device is
    // written into and stays what it was, a folder is not written at all.
    // A table a read brought in replaces what the file held: that is kept
    // too, as one of the rotating copies, unless a copy above keeps it.
    const bool mustKeep = backUp_ || changed;
    if ((mustKeep || keepBeforeSave_) && place.IsRegularFile()) {
        bool made = false;
        if (!(mustKeep ? place.BackUp(&o.copy, &made, &why) : place.KeepPrevious(&o.copy, &made, &why)))
            return Refused(SaveRefusal::NoCopy, why);
        o.kept = changed ? KeptBecause::ChangedElsewhere : backUp_ ? KeptBecause::HeldMore : KeptBecause::ReadReplaced;
    }
    backUp_ = false;
    o.writeTried = true;
    const bool written = place.Write(content, &why);
    o.notes = place.Notes();
    if (!written) {
        o.why = SaveRefusal::NotWritten;
        o.detail = why;
        return o;
    }
    o.result = SaveResult::Written;
    keepBeforeSave_ = false;
    stamp_ = place.Stamp();
    digest_ = digest;
    return o;
}

SaveOutcome TableDocument::Save()
{
    if (held_) return Refused(SaveRefusal::Held);
    return SaveUnderLock(false);
}

SaveOutcome TableDocument::SaveAs(const QString& path)
{
    if (held_) return Refused(SaveRefusal::Held);
    // A name Qt could not read would be written as another name.
    if (!IsFaithfulFileName(path)) return Refused(SaveRefusal::UnreadableName);
    // Another file chosen in the save dialog was confirmed there before being
    // replaced; the current file itself still gets its copy first.
    if (path != path_) {
        backUp_ = false;
        keepBeforeSave_ = false;
        stamp_ = StampOf(path);
    }
    path_ = path;
    return SaveUnderLock(false);
}

ExitSaveOutcome TableDocument::SaveAtExit(const QString& rescueFolder)
{
    ExitSaveOutcome o;
    o.save = SaveUnderLock(true);
    if (o.save.result != SaveResult::Refused) return o;

    // The current file cannot take the table; a new file elsewhere can.
    QByteArray bytes;
    try {
        bytes = WriteTableFile(table_.Content());  // whole: it is compared with earlier rescues
    } catch (const std::bad_alloc&) {
        o.rescueWhy = RescueRefusal::OutOfMemory;
        return o;
    }
    {
        FileSizeLimitLifted lifted;
        o.rescue = Rescue(path_, rescueFolder, bytes, &o.detail);
    }
    if (!o.rescue.isEmpty()) return o;
    o.rescueWhy = RescueRefusal::NotCreated;
    rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_max != RLIM_INFINITY && rlim_t(bytes.size()) > limit.rlim_max) {
        o.rescueWhy = RescueRefusal::FileSizeLimit;
        o.limit = qint64(limit.rlim_max);
        o.needed = bytes.size();
    }
    return o;
}
