#pragma once
// The table's file as a document: which file the table is kept in, how that
// file stood when last loaded or saved, what must be kept before a save goes
// over it, and whether an operation holds the table. Open, save, save as and
// the exit save (with its rescue) are decided here and say how they went as
// facts; the front ends word them. File safety itself is FilePlace's.

#include <QByteArray>
#include <QString>

#include "config/FilePlace.h"
#include "core/FileStamp.h"

class ConfigTable;

// Why a table file did not load.
enum class LoadRefusal {
    NotATable,         // no table file, or nothing there
    UnreadableName,    // its name holds bytes that are not UTF-8: read, it would be another file
    TooLargeFile,      // larger than a table file may be (`bytes`: that size)
    TooLargeInMemory,  // its records would take more memory than allowed (`bytes`: that memory)
    OutOfMemory,       // the system did not give the memory it takes
    Held,              // an operation holds the table
};

struct LoadOutcome {
    bool loaded = false;
    LoadRefusal why = LoadRefusal::NotATable;
    qint64 bytes = 0;
    // Not a table, and there: the newest copy kept before a save that loads; empty when none.
    QString copy;
};

// Why a save did not write the file.
enum class SaveRefusal {
    None,
    Held,            // an operation holds the table
    UnreadableName,  // the name holds bytes that are not UTF-8: written, it would be another file
    TooLarge,        // the table is too large for a table file
    NoPlace,         // the file's place is refused (`detail`)
    NotLocked,       // the folder's lock was not had (`detail`)
    NoCopy,          // what the file holds could not be kept first (`detail`)
    NotWritten,      // the write failed (`detail`)
};

enum class SaveResult {
    Written,
    LeftNewer,  // at exit: another program saved the file since, and the table is the one it replaced
    Refused,
};

// Why what the file held was kept as a copy before the save.
enum class KeptBecause {
    None,
    ChangedElsewhere,  // another window or program saved it since it was loaded or saved
    HeldMore,          // it did not load, or held parts the table does not keep
    ReadReplaced,      // a read replaced the table it held
};

struct SaveOutcome {
    SaveResult result = SaveResult::Refused;
    SaveRefusal why = SaveRefusal::None;
    QString detail;  // the file layer's reason, in its words
    QString copy;    // the copy made (or found) of what the file held; empty when none
    KeptBecause kept = KeptBecause::None;
    bool writeTried = false;
    FileWriteNotes notes;  // what the write did without (when tried)
};

// Why the exit save's rescue found no file for the table.
enum class RescueRefusal {
    None,
    OutOfMemory,    // not enough memory to make the table's file
    FileSizeLimit,  // files may not grow past `limit` bytes here; the table needs `needed`
    NotCreated,     // no new file could be made (`detail`, empty when no folder could be made)
};

struct ExitSaveOutcome {
    SaveOutcome save;
    // The save refused: the new file that holds the table instead; empty when none.
    QString rescue;
    RescueRefusal rescueWhy = RescueRefusal::None;
    QString detail;
    qint64 limit = 0;
    qint64 needed = 0;
    // The table is on disk: saved, left to a newer file, or rescued.
    bool Kept() const { return save.result != SaveResult::Refused || !rescue.isEmpty(); }
};

// What keeps the current file from ever taking a save.
enum class Unsaveable {
    No,
    Planted,  // another user's object in a shared folder
    Folder,   // a folder
};

class TableDocument {
public:
    explicit TableDocument(ConfigTable& table) : table_(table) {}

    // The current file: loaded at start, saved to, saved at exit.
    const QString& Path() const { return path_; }
    // Names the current file without reading it.
    void SetPath(const QString& path) { path_ = path; }

    // An operation holds the table: nothing opens into it or saves it.
    bool Held() const { return held_; }
    void Hold(bool held) { held_ = held; }

    // Loads the current file. One that is there but does not load, or loads
    // with parts the table does not keep, is copied before the first save over it.
    LoadOutcome Load();
    // Makes `path` the current file when it loads; otherwise nothing changes.
    LoadOutcome Open(const QString& path);
    // Loads `path`'s table for the current file, which is not there yet and
    // so is saved to without a copy (the table beside the program at start).
    LoadOutcome LoadFrom(const QString& path);
    // A read replaced the table: what the current file holds is kept as a
    // rotating copy before the next save over it. True when newly noted
    // (false when already noted or the file is no regular file).
    bool NoteReplacedByRead();
    Unsaveable WhyUnsaveable() const;

    // Saves to the current file, under the lock of its folder, keeping first
    // a copy of what it holds when that is not the table's own earlier save.
    SaveOutcome Save();
    // Makes `path` the current file and saves to it. Another file than the
    // current one was confirmed in the save dialog: it gets no copy. A name
    // refused (UnreadableName) or a held table leaves the current file as it was.
    SaveOutcome SaveAs(const QString& path);
    // The save when the program ends, not held back by an operation: into
    // the current file (left as it is when another program saved it since
    // and the table is unchanged); when that cannot be, into a new file of
    // `rescueFolder`, else of a private folder.
    ExitSaveOutcome SaveAtExit(const QString& rescueFolder);

private:
    LoadOutcome LoadTable(const QString& path, bool* whole);
    void Loaded(bool loaded, bool whole);
    SaveOutcome SaveUnderLock(bool atExit);

    ConfigTable& table_;
    QString path_;
    // The current file as it stood when last loaded or saved: found otherwise
    // by a save, it is kept as a copy before it is saved over.
    FileStamp stamp_;
    // The table as loaded or last saved (as its file): unchanged at exit, it
    // does not go over a newer file.
    QByteArray digest_;
    // The current file holds what the next save would not write back.
    bool backUp_ = false;
    // A read replaced the table since the current file was loaded or saved.
    bool keepBeforeSave_ = false;
    bool held_ = false;
};
