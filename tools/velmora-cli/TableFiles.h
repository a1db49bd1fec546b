#pragma once
// The files the command line reads and writes: table files and CSV, read
// with reasons in words, written whole or not at all.

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

// Replaces `path` with `bytes` at once: a failure leaves the old file as it
// was. False with "PATH: why not".
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);

// Why a file could not be written at `path`, in words, as far as can be told.
QString WhyNotWritten(const QString& path);
