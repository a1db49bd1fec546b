// velmora-cli: reads, writes, verifies and backs up switch-controller modules
// from scripts, on several ports at once, with the window's own frames,
// pauses, answer judgement, upload and table file.

#include <QCoreApplication>
#include <QEventLoop>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <new>
#include <unistd.h>

#include "CliCommand.h"
#include "session/ConfirmedCodes.h"
#include "Console.h"
#include "PortResult.h"
#include "PortSession.h"
#include "PortTargets.h"
#include "ProgressDisplay.h"
#include "Station.h"
#include "TableFiles.h"
#include "config/ConfigTable.h"
#include "config/FilePlace.h"
#include "config/TableFile.h"
#include "core/FileNames.h"
#include "core/PortChoice.h"
#include "core/TableLayout.h"
#include "core/TerminationSignals.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/Upload.h"
#include "serial/PortDirectory.h"

namespace {

// What is wrong with a hex text, in English.
QString WhatIsWrong(const HexProblem& problem)
{
    if (problem.kind == HexProblem::Kind::OddLength) return QStringLiteral("odd number of hex digits");
    return QStringLiteral("'%1' is not a hex digit").arg(problem.character);
}

int ListPorts()
{
    const QVector<PortEntry> ports = DiscoverSerialDevices();
    QByteArray out;
    for (int i = 0; i < ports.size(); ++i)
        out += (ComName(i + 1) + QStringLiteral("\t%1\t%2\n")).arg(ports.at(i).device, ports.at(i).description).toUtf8();
    return Out(out) ? ExitStatus::Done : ExitStatus::BadFile;
}

// An output that is the input itself would be destroyed by the writing: refused
// before anything is read. The files are compared as they open: the input as
// it is read, the output through the walk that writes it, standard output as
// it stands open. Gives the exit status, ExitStatus::Done when apart.
int OutputApartFromInput(const CliCommand& c)
{
    const FileIdentity input = IdentityOf(c.file);
    if (c.output.isEmpty()) {
        if (!(IdentityOfDescriptor(STDOUT_FILENO) == input)) return ExitStatus::Done;
        return UsageError(QStringLiteral("standard output is the input file %1 itself; nothing was written").arg(c.file),
                          VerbName(c.verb));
    }
    if (!(FilePlace(c.output).Identity() == input)) return ExitStatus::Done;
    return UsageError(QStringLiteral("%1 is the input file itself; nothing was written").arg(c.output), VerbName(c.verb));
}

// A cell's text for a warning; one of more than a line's worth is cut ("…"),
// so a cell of millions of characters is not copied into a message.
QString Clipped(const QString& text)
{
    constexpr qsizetype kLongestQuoted = 256;
    return text.size() <= kLongestQuoted ? text : text.left(kLongestQuoted) + QChar(0x2026);
}

int Export(const CliCommand& c)
{
    if (const int status = OutputApartFromInput(c); status != ExitStatus::Done) return status;
    QString error;
    TableCodes codes;
    QString heading[TableLayout::kColumns];
    {
        ConfigTable table;
        if (!LoadTableFile(c.file, table, &error)) {
            Err(error);
            return ExitStatus::BadFile;
        }
        codes = CodesOf(table);
        for (int column : {TableLayout::kOnColumn, TableLayout::kOffColumn}) heading[column] = table.GetCellText(0, column);
    }  // the rest of the table (a text's bytes as read, kept for a save) is not needed here
    CellList notCodes;
    const QByteArray csv = WriteTableCsv(codes, &notCodes);
    if (!c.quiet)
        for (const auto& [row, column] : notCodes)
            Err(QStringLiteral("warning: %1: %2 %3 is not a code; written as it stands: \"%4\"")
                    .arg(c.file, Clipped(codes.title[row]), Clipped(heading[column]), Clipped(codes.code[row][column])));
    if (c.output.isEmpty()) return Out(csv) ? ExitStatus::Done : ExitStatus::BadFile;
    if (!WriteOutput(c.output, csv, &error, c.backup)) {
        Err(error);
        return ExitStatus::BadFile;
    }
    return ExitStatus::Done;
}

// Says which of the file's codes a read of the module cannot bring back
// whole: a read (and a backup made by one) gets them cut where they hold a
// record's marker or a module answer's bytes; verify compares them as they are.
void WarnUnframable(const CliCommand& c, const TableCodes& codes)
{
    if (c.quiet) return;
    const ExpectedCodes unframable = UnframableCodes(codes);
    if (unframable.isEmpty()) return;
    ConfigTable table;
    InitTable(table);
    for (int row = TableLayout::kFirstValueRow; row <= TableLayout::kLastValueRow; ++row)
        for (int column : {TableLayout::kOnColumn, TableLayout::kOffColumn})
            if (unframable.contains(TableLayout::CellKey(row, column)))
                Err(QStringLiteral("warning: %1: %2 %3: a read of the module cannot bring this code back whole (it holds F4 F7 "
                                   "or the bytes of a module's answer): read gets it cut, verify checks it as it is")
                        .arg(c.file, Clipped(codes.title[row].isEmpty() ? table.GetCellText(row, 0) : codes.title[row]),
                             table.GetCellText(0, column)));
}

int Import(const CliCommand& c)
{
    if (const int status = OutputApartFromInput(c); status != ExitStatus::Done) return status;
    TableCodes codes;
    QString error;
    if (!LoadCsvFile(c.file, codes, &error)) {
        Err(error + QStringLiteral("; nothing was written"));
        return ExitStatus::BadFile;
    }
    WarnUnframable(c, codes);
    // The window's fresh table, with the codes.
    ConfigTable table;
    InitTable(table);
    PutCodes(codes, table);
    if (!WriteOutput(c.output, WriteTableFile(table.Content()), &error, c.backup)) {
        Err(error);
        return ExitStatus::BadFile;
    }
    return ExitStatus::Done;
}

// Checks every code of the file as 写入模块 does before anything is opened.
bool CodesConvert(const CliCommand& c, const TableCodes& codes)
{
    ConfigTable table;
    InitTable(table);
    for (int row = TableLayout::kFirstValueRow; row <= TableLayout::kLastValueRow; ++row)
        if (!codes.title[row].isEmpty()) table.SetCellText(row, 0, codes.title[row]);
    PutCodes(codes, table);
    int row = 0, column = 0;
    HexProblem problem;
    if (!FindBadCode(table, row, column, &problem)) return true;
    Err(QStringLiteral("%1: %2 %3: %4 (\"%5\"); nothing was sent")
            .arg(c.file, table.GetCellText(row, 0), table.GetCellText(0, column), WhatIsWrong(problem),
                 table.GetCellText(row, column)));
    return false;
}

// The learn data as the learn report will convert it; false (and why) when it will not.
bool LearnDataConverts(const QString& hex, QString* why)
{
    if (RemoveBlanks(hex).isEmpty()) {
        *why = QStringLiteral("no hex digits");
        return false;
    }
    HexProblem problem;
    if (!HexToBytes(LearnReportFrame(RemoveBlanks(hex)), &problem).isEmpty()) return true;
    *why = WhatIsWrong(problem);
    return false;
}

// The job every port of the command shares, with its files and data read
// and checked: nothing is opened when they are not right. Gives the exit
// status of what was wrong, ExitStatus::Done when all is right.
int PrepareJob(const CliCommand& c, PortJob& base)
{
    base.verb = c.verb;
    base.baud = c.baud;
    base.newRate = c.newRate;
    base.hex = c.hex;
    base.once = c.once;
    base.verifyAfterWrite = c.verifyAfterWrite;
    base.backup = c.backup;
    const bool writes = c.verb == Verb::Write || c.verb == Verb::Provision;
    if (writes || c.verb == Verb::Verify) {
        QString error;
        if (!LoadCodesFile(c.file, base.file, &error)) {
            Err(error);
            return ExitStatus::BadFile;
        }
        if (writes && !CodesConvert(c, base.file)) return ExitStatus::BadFile;
        WarnUnframable(c, base.file);
    }
    if (c.verb == Verb::Learn) {
        QString why;
        if (!LearnDataConverts(c.hex, &why)) return UsageError(QStringLiteral("learn: \"%1\": %2").arg(c.hex, why), VerbName(c.verb));
    }
    return ExitStatus::Done;
}

int RunOnPorts(const CliCommand& c)
{
    PortJob base;
    if (const int status = PrepareJob(c, base); status != ExitStatus::Done) return status;
    base.portList = DiscoverSerialDevices();
    QVector<PortTarget> targets;
    QString error;
    if (!ResolvePorts(c.ports, base.portList, targets, &error)) return UsageError(error, VerbName(c.verb));

    QStringList outputs;
    if (c.verb == Verb::Read) {
        if (targets.size() > 1 && !c.output.contains(QStringLiteral("{port}")))
            return UsageError(QStringLiteral("with several ports, -o must be a file pattern with {port} in it"), VerbName(c.verb));
        for (const PortTarget& t : targets) outputs << OutputPathFor(c.output, t);
        if (QSet<QString>(outputs.begin(), outputs.end()).size() != outputs.size())
            return UsageError(QStringLiteral("-o %1 gives two ports the same file").arg(c.output), VerbName(c.verb));
    }

    // Ctrl+C (or SIGTERM, SIGHUP): every session stops at a safe point and
    // the status says which signal it was; a second one ends the process at once.
    std::atomic<int> interrupt{0};
    TerminationSignals stopSignals({SIGINT, SIGTERM, SIGHUP}, [&](int signalNumber) {
        if (interrupt.load() != 0) std::_Exit(128 + signalNumber);
        interrupt = signalNumber;
        Err(QStringLiteral("interrupted: stopping after the current frame (again to quit at once)"));
    });

    std::vector<std::unique_ptr<PortSession>> sessions;
    QVector<PortSession*> running;
    for (qsizetype i = 0; i < targets.size(); ++i) {
        PortJob job = base;
        job.target = targets.at(i);
        if (c.verb == Verb::Read) job.output = outputs.at(i);
        sessions.push_back(std::make_unique<PortSession>(std::move(job), interrupt));
        running << sessions.back().get();
    }

    QEventLoop loop;
    int finished = 0;
    for (PortSession* s : running)
        QObject::connect(s, &QThread::finished, &loop, [&] {
            if (++finished == running.size()) loop.quit();
        });
    ProgressDisplay display(running, !c.quiet && ::isatty(STDERR_FILENO));
    for (PortSession* s : running) s->start();
    loop.exec();
    for (PortSession* s : running) s->wait();
    display.Finish();

    int status = ExitStatus::Done;
    for (const PortSession* s : running) {
        const PortOutcome& o = s->Outcome();
        const PortTarget& t = s->Job().target;
        bool delivered = true;
        if (c.json) {
            delivered = Out(JsonResultLine(ResultFactsOf(s->Job()), o));
        } else {
            delivered = Out(o.standardOutput);
            for (const CodeDifference& d : o.differences)
                delivered = Out((t.name + QLatin1Char('\t') + DifferenceText(d) + QLatin1Char('\n')).toUtf8()) && delivered;
        }
        // What did not reach standard output was not delivered, whatever the port did.
        const int portStatus = delivered ? o.status : std::max(o.status, int(ExitStatus::BadFile));
        const QString summary = delivered ? o.summary : o.summary + QStringLiteral(", but not all of it reached standard output");
        if (!c.quiet || portStatus != ExitStatus::Done) Err(PortName(t) + QStringLiteral(": ") + summary, false);
        status = std::max(status, portStatus);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    // Before anything opens a file that could take a closed descriptor's number.
    HoldStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-cli"));
    // A file-size limit makes a write fail (and the old file stay) rather than end the process.
    IgnoreWriteFailureSignals();
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));

    // The arguments as given: a file name that is not UTF-8 keeps its bytes.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << FileNameFromNative(QByteArray(argv[i]));
    const ParsedArguments parsed = ParseArguments(arguments);
    switch (parsed.kind) {
    case ParsedArguments::Kind::UsageError: return UsageError(parsed.error, parsed.verbName);
    case ParsedArguments::Kind::Help: return Out(parsed.helpText.toUtf8()) ? ExitStatus::Done : ExitStatus::BadFile;
    case ParsedArguments::Kind::Version:
        return Out(QByteArray("velmora-cli ") + VELMORA_VERSION + '\n') ? ExitStatus::Done : ExitStatus::BadFile;
    case ParsedArguments::Kind::Run: break;
    }

    const CliCommand& c = parsed.command;
    int status = ExitStatus::Done;
    // A table too large for the memory there is ends the command with a word, not an abort.
    const auto withinMemory = [&c](int (*run)(const CliCommand&)) {
        try {
            return run(c);
        } catch (const std::bad_alloc&) {
            Err(QStringLiteral("%1: not enough memory for it; nothing was written").arg(c.file));
            return int(ExitStatus::BadFile);
        }
    };
    switch (c.verb) {
    case Verb::Ports: status = ListPorts(); break;
    case Verb::Export: status = withinMemory(Export); break;
    case Verb::Import: status = withinMemory(Import); break;
    case Verb::Provision: {
        PortJob base;
        status = PrepareJob(c, base);
        if (status == ExitStatus::Done) status = RunStation(c, base);
        break;
    }
    default: status = RunOnPorts(c); break;
    }
    QString error;
    if (!CloseStandardOutput(&error)) {
        Err(error);
        status = std::max(status, int(ExitStatus::BadFile));
    }
    return status;
}
