#pragma once
// Moving the table to and from files: start-up load, exit save and the three
// file buttons. The start-up load is silent; a save that fails is never.

#include <QString>

struct FileParts;

// Where the table is read from at start and kept afterwards.
struct StartFiles {
    QString load;  // the file loaded at start
    QString keep;  // the current file: saved to, shown in the title
};
// "data.dat" in the program's folder when that folder is writable and not a
// system folder. Otherwise the table is kept as "data.dat" in the user's data
// folder (created when missing): loaded from there once it exists, before that
// from the program's folder, so a table installed beside the program is not hidden.
StartFiles ChooseStartFiles(const QString& programFolder, const QString& userDataFolder);
// True for the folders an installed program lives in (/usr/…, /opt/…, /bin,
// /sbin): nothing of a user's is kept there, even when root could write it.
bool IsSystemProgramFolder(const QString& folder);
// The user's data folder, where the table goes when its own place cannot take it.
QString UserDataFolder();

// Start-up: the file named on the command line (`startFile`) when there
// is one and it loads. Otherwise (the log says why when one was named)
// chooses the files for the program's folder, makes the kept one current and
// loads the other; when the table is not kept beside the program, the log
// says where it is.
void LoadStartTable(const FileParts& f, const QString& startFile, const QString& programFolder);
// Loads the current file. A file that is there but does not load, or loads
// with parts the table does not keep, is remembered (by the document)
// so no save destroys it. One refused for its name (bytes that are not
// UTF-8), its size or the memory it would take is said in the log, and why.
bool LoadCurrentTable(const FileParts& f);
// Says in the log when the current file will never take a save (a folder, or
// another user's file in a shared folder): the exit save will rescue the table.
void SayIfUnsaveable(const FileParts& f);
// After a read replaced the table: the current file's content is kept as a
// rotating .bak (FilePlace::KeepPrevious) before the next save over it, and
// the log says so now.
void NoteTableReplacedByRead(const FileParts& f);
// Saves to the current file. Before the first save over a file remembered by
// LoadCurrentTable, that file is copied to the same name + ".bak" (or ".bak2",
// ".bak3", … when that name is taken); if the copy fails nothing is written
// and false is given. A FIFO or a character device there is written into
// (it holds nothing to copy); a folder or other special file is not written.
bool SaveCurrentTable(const FileParts& f);
// The save when the program ends: into the current file, without a word. When
// that cannot be done, into a new file in the user's data folder, and the user
// is told on standard error and in a notice where the table went (or that it
// could not be saved at all). False when the table is nowhere on disk.
bool SaveAtExit(const FileParts& f);
// Title := "Velmora-自定义设备版   " + current file path.
void ShowCurrentFileInTitle(const FileParts& f);

// "打开文件": a chosen ".dat" (or a .bak copy of one) that loads becomes the current file and titles
// the window; one that does not is said in the log (with why, when it is its
// name, its size or the memory it would take) and changes nothing. True when
// the table was replaced.
//
// The three file buttons do nothing while a module operation holds the table
// (TableDocument::Held); one that began while the dialog showed is said in the log.
bool OpenFile(const FileParts& f);
void SaveFile(const FileParts& f);   // "保存文件"
void SaveAs(const FileParts& f);     // "另存文件"
