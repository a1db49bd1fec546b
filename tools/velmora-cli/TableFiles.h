#pragma once
// The files the command line reads and writes: table files and CSV, read
// with reasons in words; and every output, to files or standard output,
// written whole or said not to be.

#include <QByteArray>
#include <QString>

#include "config/TableCsv.h"

class ConfigTable;

// True for a name that asks for a table file: it ends in ".dat" (any case).
// Any other name is CSV.
bool IsTableFileName(const QString& path);

// Loads a table file into `table` as the window loads it. False, with
// "PATH: what is wrong", when the window would not load it.
bool LoadTableFile(const QString& path, ConfigTable& table, QString* error);

// Reads a CSV file. False with "PATH:LINE: what is wrong" or "PATH: why not".
bool LoadCsvFile(const QString& path, TableCodes& codes, QString* error);

// The codes of FILE for write and verify: a table file when it begins with
// the table file's magic or its name ends in ".dat", CSV otherwise.
bool LoadCodesFile(const QString& path, TableCodes& codes, QString* error);

// Keeps the descriptors of standard input, output and error taken: one that
// was closed when the program started is opened on /dev/null for reading,
// so no file opened later takes its number (and a result written to
// standard output cannot land in it), and a write there fails as closed.
void HoldStandardStreams();

// Writes a command's output whole: into `path`, or to standard output when
// `path` is empty. A file is replaced at once (a failure leaves the old one
// as it was); a FIFO or a character device is written into and stays what it
// was; anything else that is not a regular file is refused. Standard output
// is written without a buffer, so a full disk, a closed pipe or a closed
// descriptor shows here. False, with "PATH: cannot write: why" or "standard
// output: why", unless every byte got there. With `backup`, an existing file
// keeps its previous content as .bak first. What the write did without (the
// folder's lock, a flush of the folder) is said once on standard error.
bool WriteOutput(const QString& path, const QByteArray& bytes, QString* error, bool backup = false);

// Closes standard output at the end of the program; false with
// "standard output: why" when the close reports an error.
bool CloseStandardOutput(QString* error);
