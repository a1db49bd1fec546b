#pragma once
// What the command line asks for, read from the arguments, and the help texts.

#include <QString>
#include <QStringList>

enum class Verb { Ports, Read, Write, Verify, Clear, SetBaud, Learn, Export, Import };

struct CliCommand {
    Verb verb = Verb::Ports;
    QStringList ports;  // PORTS as given, split at the commas
    QString file;       // write/verify: the table; export: TABLE.dat; import: FILE.csv
    QString output;     // -o; empty: standard output (read, export)
    int baud = 9600;    // the port's rate
    int newRate = 0;    // set-baud
    QString hex;        // learn
    bool quiet = false;
};

struct ParsedArguments {
    enum class Kind { Run, Help, Version, UsageError } kind = Kind::UsageError;
    CliCommand command;
    QString helpText;  // Help: what to print
    QString error;     // UsageError: one line, without the program's name
};

// Reads the arguments after the program's name.
ParsedArguments ParseArguments(const QStringList& arguments);

// The whole usage: every command, the options and the exit statuses.
QString UsageText();

// The rates the window offers, for the port and for the module.
const QList<int>& OfferedRates();
