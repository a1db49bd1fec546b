#pragma once
// What the command line asks for, read from the arguments, and the help texts.

#include <QString>
#include <QStringList>

#include "core/PortChoice.h"

enum class Verb { Ports, Read, Write, Verify, Clear, SetBaud, Learn, Export, Import, Provision };

// The command's name as it is typed: "read", "set-baud", …
QString VerbName(Verb verb);

struct CliCommand {
    Verb verb = Verb::Ports;
    QStringList ports;  // PORTS as given, split at the commas
    QString file;       // write/verify/provision: the table; export: TABLE.dat; import: FILE.csv
    QString output;     // -o; empty: standard output (read, export)
    bool backup = false;  // --backup: an existing output keeps its previous content as .bak
    int baud = kDefaultRate;  // the port's rate
    int newRate = 0;    // set-baud
    QString hex;        // learn
    bool quiet = false;  // nothing on standard error unless something failed
    bool json = false;   // one JSON line per port on standard output in place of the text results
    bool once = false;   // read, verify, write --verify: one dump, every code of it clear
    bool verifyAfterWrite = false;  // write --verify: read back and compare
    // provision
    QString watchDir = QStringLiteral("/dev/serial/by-id");
    bool watchDirGiven = false;
    int count = 0;   // modules to provision before the station ends; 0: until Ctrl+C
    QString report;  // the file each module's JSON line is appended to; empty: none
};

struct ParsedArguments {
    enum class Kind { Run, Help, Version, UsageError } kind = Kind::UsageError;
    CliCommand command;
    QString helpText;  // Help: what to print
    QString error;     // UsageError: one line, without the program's name
    QString verbName;  // UsageError: the command it is about, when one was named
};

// Reads the arguments after the program's name.
ParsedArguments ParseArguments(const QStringList& arguments);

// The line that follows a usage error: where to read more.
QString TryHelpLine(const QString& verbName);

// The whole usage: every command, the options and the exit statuses.
QString UsageText();
