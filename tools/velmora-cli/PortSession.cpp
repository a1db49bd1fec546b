#include "PortSession.h"

#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "session/ConfirmedCodes.h"
#include "session/TableCompare.h"
#include "LoopPacing.h"
#include "OutcomeWords.h"
#include "TableFiles.h"
#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "core/ModuleEvents.h"
#include "core/TableLayout.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "session/ModuleSession.h"
#include "serial/BuiltinProviders.h"
#include "serial/SerialLibrary.h"

namespace {

using namespace TableLayout;

QString OpenFailureInWords(OpenRefusal refusal, int code)
{
    switch (refusal) {
    case OpenRefusal::NoSuchDevice: return QStringLiteral("no such device");
    case OpenRefusal::InUse: return QStringLiteral("in use by another program");
    case OpenRefusal::NoPermission: return QStringLiteral("permission denied (the user must be in the dialout group)");
    case OpenRefusal::DeviceGone: return QStringLiteral("the device has gone away");
    case OpenRefusal::Other:
    case OpenRefusal::Unknown: break;
    }
    return QStringLiteral("the system refused to open it (code %1)").arg(code);
}

// How a library function nobody offers ends the tool: one line, and the
// process ends at once (other ports' threads may be in the middle of anything).
[[noreturn]] void FatalReport(int code, const QString& message, const QString& where)
{
    std::fprintf(stderr, "velmora-cli: fatal error%s%s: %s (%s)\n", code >= 0 ? " " : "",
                 code >= 0 ? qPrintable(QString::number(code)) : "", qPrintable(message), qPrintable(where));
    std::fflush(stderr);
    std::_Exit(255);
}

// Everything one port's run needs, created on the session's own thread: the
// serial library with the target's device as port 1, the module session on
// a table of its own, paced by the thread's event loop. The session says how
// each operation went; this only words it and shows progress.
class Session : public ModuleObserver {
public:
    Session(const PortJob& job, const std::atomic<int>& interrupt, PortProgress& progress)
        : job_(job),
          interrupt_(interrupt),
          progress_(progress),
          providers_(MakeBuiltinProvidersFor({PortEntry{job.target.device, QString()}})),
          serial_(FatalReport, ProviderList()),
          pacing_([this] { session_.Link().ReceiveTick(); }),
          session_(serial_, table_, pacing_)
    {
        InitTable(table_);
        session_.Link().Listen(this);
    }

    void OnModuleEvent(const ModuleEvent& e) override
    {
        using Kind = ModuleEvent::Kind;
        switch (e.kind) {
        case Kind::OpenRefused: openRefused_ = e; break;
        case Kind::CodeSent: progress_.done = ++codesWritten_; break;
        case Kind::Record:
            if (reading_) progress_.done = int(session_.Link().Reading().LastDump().codes.size());
            break;
        // Where the window's bar would stand: how far the dump has come through the table.
        case Kind::Progress:
            if (reading_) progress_.position = e.position;
            break;
        default: break;
        }
    }

    PortOutcome Run()
    {
        QElapsedTimer clock;
        clock.start();
        progress_.phase = PortProgress::Opening;
        PortOutcome outcome;
        if (Open(outcome)) {
            outcome = RunCommand();
            session_.Link().Close();
        }
        progress_.phase = PortProgress::Finished;
        outcome.seconds = double(clock.nsecsElapsed()) / 1e9;
        return outcome;
    }

private:
    QVector<LibraryProvider*> ProviderList()
    {
        QVector<LibraryProvider*> list;
        for (const auto& provider : providers_) list << provider.get();
        return list;
    }

    bool Interrupted() const { return interrupt_.load() != 0; }
    int InterruptStatus() const { return 128 + interrupt_.load(); }
    StopRequest Stop() const
    {
        return [this] { return Interrupted(); };
    }

    // The target's device at the job's rate, as the port button opens a port.
    bool Open(PortOutcome& outcome)
    {
        if (job_.target.device.isEmpty()) {
            outcome.status = ExitStatus::PortFailed;
            const qsizetype listed = job_.portList.size();
            outcome.summary = listed == 0 ? QStringLiteral("no such port (no serial port is listed)")
                : listed == 1             ? QStringLiteral("no such port (the list has COM1 only; see velmora-cli ports)")
                                          : QStringLiteral("no such port (the list has COM1 to COM%1; see velmora-cli ports)").arg(listed);
            return false;
        }
        if (session_.Link().Open(kTargetPort, job_.baud, job_.target.device) == SioResult::Ok) return true;

        outcome.status = ExitStatus::PortFailed;
        outcome.summary = QStringLiteral("could not open %1: %2")
                              .arg(job_.target.device, OpenFailureInWords(openRefused_.refusal, openRefused_.result));
        return false;
    }

    PortOutcome RunCommand()
    {
        switch (job_.verb) {
        case Verb::Write: return Write();
        case Verb::Read: return Read();
        case Verb::Verify: return Verify();
        case Verb::Clear:
        case Verb::SetBaud: return ShortOperation();
        case Verb::Learn: return Learn();
        default: return {};
        }
    }

    PortOutcome Write()
    {
        PutCodes(job_.file, table_);
        const int total = CodesIn(table_);
        progress_.total = total;
        progress_.phase = PortProgress::Writing;
        codesWritten_ = 0;
        const ModuleOutcome o = session_.Write([this](int row, int column) { return table_.GetCellText(row, column); },
                                               total, true, Stop());
        PortOutcome outcome;
        if (!WordWrite(o, InterruptStatus(), outcome)) return outcome;
        progress_.done = total;
        if (!job_.verifyAfterWrite) return outcome;
        // Read back as verify reads: what the module now holds, confirmed, against the file.
        PortOutcome check = Verify();
        check.codes = total;
        check.summary = outcome.summary + QStringLiteral("; ") + check.summary;
        return check;
    }

    // Clear and set-baud as the window's buttons send them; the session judges the line.
    PortOutcome ShortOperation()
    {
        progress_.phase = PortProgress::Sending;
        const auto rate = quint32(job_.newRate);
        const ModuleOutcome o = job_.verb == Verb::Clear ? session_.Clear(Stop())
                                                         : session_.SetModuleBaud([rate] { return rate; }, Stop());
        PortOutcome outcome;
        WordShort(job_.verb, job_.newRate, o, InterruptStatus(), outcome);
        return outcome;
    }

    PortOutcome Learn()
    {
        progress_.phase = PortProgress::Sending;
        // Checked before the port was opened.
        PortOutcome outcome;
        WordLearn(session_.LearnReport(HexToBytes(RemoveBlanks(job_.hex)), Stop()), InterruptStatus(), outcome);
        return outcome;
    }

    // Dumps until every code is confirmed or no further dump may settle it;
    // false, with the outcome, when a dump failed.
    bool ReadConfirmed(ConfirmedCodes& confirmed, ReadOutcome& read, PortOutcome& outcome)
    {
        read = session_.ReadConfirmed(confirmed, Stop(), expected_, [this] {
            progress_.phase = PortProgress::Reading;
            progress_.done = 0;
            reading_ = true;
        });
        reading_ = false;
        if (read.kind != OutcomeKind::Done && read.kind != OutcomeKind::Unconfirmed) {
            WordReadFailure(read, job_.verb == Verb::Read, InterruptStatus(), outcome);
            return false;
        }
        // The table holds what was confirmed, as the window shows codes it read.
        for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
            for (int column : {kOnColumn, kOffColumn}) {
                const QByteArray code = confirmed.Code(row, column);
                table_.SetCellText(row, column, code.isEmpty() ? QString() : BytesToHex(code));
            }
        progress_.done = read.codes;
        return true;
    }

    // The module's answers were not clear for some codes, each named by its row's title and column.
    QString NotClear(const ReadOutcome& read) const
    {
        return WordUnclear(read, [this](const CellPosition& c) {
            return table_.GetCellText(c.row, 0) + QLatin1Char(' ') + table_.GetCellText(0, c.column);
        });
    }

    PortOutcome Read()
    {
        PortOutcome outcome;
        ConfirmedCodes confirmed(job_.once);
        ReadOutcome read;
        if (!ReadConfirmed(confirmed, read, outcome)) return outcome;
        if (read.kind == OutcomeKind::Unconfirmed) {
            outcome.status = ExitStatus::Unclear;
            outcome.summary = NotClear(read) + QStringLiteral("; nothing was written");
            return outcome;
        }
        const int codes = read.codes;
        outcome.codes = codes;
        const QString how = read.dumps > 1 ? QStringLiteral(", each confirmed by two dumps") : QString();
        if (job_.output.isEmpty()) {
            outcome.standardOutput = WriteTableCsv(CodesOf(table_));
            outcome.summary = QStringLiteral("read %1 codes").arg(codes) + how;
            return outcome;
        }
        // A table file is exactly what the window saves: the read went into a fresh, laid-out table.
        const QByteArray bytes = IsTableFileName(job_.output) ? WriteTableFile(table_.Content()) : WriteTableCsv(CodesOf(table_));
        QString error;
        if (!WriteOutput(job_.output, bytes, &error, job_.backup)) {
            outcome.status = ExitStatus::BadFile;
            outcome.summary = QStringLiteral("read %1 codes but %2").arg(codes).arg(error);
            return outcome;
        }
        outcome.summary = QStringLiteral("read %1 codes into %2").arg(codes).arg(job_.output) + how;
        return outcome;
    }

    // Reads the module back and compares it with the file; a difference
    // counts only where the module's code is confirmed. The file's codes that
    // a dump cannot frame by itself are looked for as they are, wherever
    // their cells' records come in the dump.
    PortOutcome Verify()
    {
        PortOutcome outcome;
        ConfirmedCodes confirmed(job_.once);
        expected_ = UnframableCodes(job_.file);
        ReadOutcome read;
        const bool done = ReadConfirmed(confirmed, read, outcome);
        expected_.clear();
        if (!done) return outcome;
        const TableComparison comparison = CompareTable(job_.file, confirmed);
        const QVector<CellPosition>& unclear = comparison.unconfirmed;
        const int compared = comparison.compared;
        for (const CellDifference& d : comparison.differences) {
            const QString title = job_.file.title[d.row].isEmpty() ? table_.GetCellText(d.row, 0) : job_.file.title[d.row];
            outcome.differences.push_back({d.row, title, d.column, d.inTable, d.inModule});
        }
        outcome.codes = compared;
        const QString differ = QStringLiteral("%1 of %2 codes differ").arg(outcome.differences.size()).arg(compared);
        if (!unclear.isEmpty()) {
            outcome.status = ExitStatus::Unclear;
            outcome.summary = NotClear(read) + (outcome.differences.isEmpty() ? QString() : QStringLiteral("; ") + differ);
        } else if (outcome.differences.isEmpty()) {
            outcome.summary = QStringLiteral("the module holds every code of the file (%1 codes)").arg(compared);
        } else {
            outcome.status = ExitStatus::Differences;
            outcome.summary = differ;
        }
        return outcome;
    }

    // The session's serial library knows one port: the target's device.
    static constexpr int kTargetPort = 1;

    const PortJob& job_;
    const std::atomic<int>& interrupt_;
    PortProgress& progress_;
    std::vector<std::unique_ptr<LibraryProvider>> providers_;
    SerialLibrary serial_;
    ConfigTable table_;
    LoopPacing pacing_;
    ModuleSession session_;
    ModuleEvent openRefused_{.kind = ModuleEvent::Kind::OpenRefused, .result = SioResult::OtherFailure};
    int codesWritten_ = 0;
    bool reading_ = false;  // a dump is being read: its records and progress are shown
    ExpectedCodes expected_;  // verify: the file's codes a dump cannot frame by itself
};

}  // namespace

PortSession::PortSession(PortJob job, const std::atomic<int>& interrupt, QObject* parent)
    : QThread(parent), job_(std::move(job)), interrupt_(interrupt)
{
}

void PortSession::run()
{
    Session session(job_, interrupt_, progress);
    outcome_ = session.Run();
}
