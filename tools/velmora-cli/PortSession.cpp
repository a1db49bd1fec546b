#include "PortSession.h"

#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "session/ConfirmedCodes.h"
#include "LoopPacing.h"
#include "TableFiles.h"
#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "core/ModuleEvents.h"
#include "core/TableLayout.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "serial/BuiltinProviders.h"
#include "serial/SerialLibrary.h"

namespace {

using namespace TableLayout;

// How long the module has to echo the enter frame.
constexpr quint32 kEnterEchoMs = 1000;

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

// A cell's code for comparing: the canonical form, or for text that is no
// code, the text without blanks in upper case.
QString Comparable(const QString& text)
{
    QString code;
    if (CanonicalCode(text, &code)) return code;
    QString squeezed = text;
    squeezed.remove(QLatin1Char(' ')).remove(QChar(0x3000));
    return squeezed.toUpper();
}

int CodeCount(const ConfigTable& table)
{
    int n = 0;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn})
            if (!Comparable(table.GetCellText(row, column)).isEmpty()) ++n;
    return n;
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
// serial library with the target's device as port 1, the module link on a
// table of its own, paced by the thread's event loop. It learns what the
// module and the line did from the link's events.
class Session : public ModuleObserver {
public:
    Session(const PortJob& job, const std::atomic<int>& interrupt, PortProgress& progress)
        : job_(job),
          interrupt_(interrupt),
          progress_(progress),
          providers_(MakeBuiltinProvidersFor({PortEntry{job.target.device, QString()}})),
          serial_(FatalReport, ProviderList()),
          pacing_([this] { link_.ReceiveTick(); }),
          link_(serial_, table_, pacing_)
    {
        InitTable(table_);
        link_.Listen(this);
    }

    void OnModuleEvent(const ModuleEvent& e) override
    {
        using Kind = ModuleEvent::Kind;
        switch (e.kind) {
        case Kind::OpenRefused: openRefused_ = e; break;
        case Kind::PortLost: portLost_ = true; break;
        case Kind::EnterEcho: ++enterEchoes_; break;
        case Kind::CodeSent: progress_.done = ++codesWritten_; break;
        case Kind::Record:
            if (reading_) progress_.done = int(link_.Reading().LastDump().codes.size());
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
            link_.Close();
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
        if (link_.Open(kTargetPort, job_.baud, job_.target.device) == SioResult::Ok) return true;

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

    // Said when Ctrl+C came before the operation's first frame.
    PortOutcome NothingSent() const
    {
        PortOutcome outcome;
        outcome.status = InterruptStatus();
        outcome.summary = QStringLiteral("interrupted; nothing was sent");
        return outcome;
    }

    // Waits until the module has echoed the enter frame, at most until
    // kEnterEchoMs after `since`; false when it has not (or on an interrupt).
    bool AwaitEnterEcho(quint32 since)
    {
        while (enterEchoes_ == 0 && !Interrupted() && pacing_.Now() - since < kEnterEchoMs) pacing_.Pump(5);
        return enterEchoes_ > 0 && !Interrupted();
    }

    static bool NoModuleOnLoop(const LineVerdict& v) { return v.looped && !v.moduleEchoed; }
    static QString NoEnterEcho() { return QStringLiteral("the module did not echo the enter frame within 1 s"); }
    static QString LineLooped() { return QStringLiteral("the line sends back what it is sent (a loopback or wiring fault?); no module answered"); }

    PortOutcome Write()
    {
        PutCodes(job_.file, table_);
        const int total = CodeCount(table_);
        progress_.total = total;
        progress_.phase = PortProgress::Writing;
        codesWritten_ = 0;

        UploadGuard guard;
        const quint32 start = pacing_.Now();
        enterEchoes_ = 0;
        guard.mayBeginBlocks = [&] { return AwaitEnterEcho(start); };
        guard.stop = Stop();
        const OperationEnd end = link_.Upload([this](int row, int column) { return table_.GetCellText(row, column); }, guard);

        PortOutcome outcome;
        const int sent = codesWritten_;
        // A short upload ends before its line is judged.
        const bool looped = end == OperationEnd::Looped || (end == OperationEnd::Done && NoModuleOnLoop(link_.JudgeLine(Stop())));
        if (looped) {
            outcome.codes = 0;
            outcome.status = ExitStatus::NoAnswer;
            outcome.summary = LineLooped() + (end == OperationEnd::Looped
                ? QStringLiteral("; stopped after %1 of %2 codes, the exit frame was sent").arg(sent).arg(total)
                : QString());
            return outcome;
        }
        switch (end) {
        case OperationEnd::Looped: break;
        case OperationEnd::Done:
            progress_.done = total;
            outcome.codes = total;
            outcome.summary = QStringLiteral("wrote %1 codes").arg(total);
            if (job_.verifyAfterWrite) {
                // Read back as verify reads: what the module now holds, confirmed, against the file.
                PortOutcome check = Verify();
                check.codes = total;
                check.summary = outcome.summary + QStringLiteral("; ") + check.summary;
                return check;
            }
            break;
        case OperationEnd::Held:
            outcome.status = Interrupted() ? InterruptStatus() : ExitStatus::NoAnswer;
            outcome.summary = (Interrupted() ? QStringLiteral("interrupted") : NoEnterEcho())
                + QStringLiteral("; only the exit frame followed, no code was sent");
            break;
        case OperationEnd::Stopped:
            outcome.codes = sent;
            outcome.status = InterruptStatus();
            outcome.summary = QStringLiteral("interrupted after %1 of %2 codes; the exit frame was sent").arg(sent).arg(total);
            break;
        case OperationEnd::Interrupted:
            outcome.codes = sent;
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the port was lost after %1 of %2 codes").arg(sent).arg(total);
            break;
        case OperationEnd::Unsent: return NothingSent();
        case OperationEnd::NotStarted:
        case OperationEnd::ShortWrite:
            // Nothing else holds this link; the codes were checked before the port was opened.
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the upload did not start; nothing was sent");
            break;
        }
        return outcome;
    }

    // Clear and set-baud as the window's buttons send them, then the enter echo looked for.
    PortOutcome ShortOperation()
    {
        progress_.phase = PortProgress::Sending;
        enterEchoes_ = 0;
        const quint32 start = pacing_.Now();
        PortOutcome outcome;
        OperationEnd end;
        if (job_.verb == Verb::Clear) {
            end = link_.Clear(Stop());
            outcome.summary = QStringLiteral("cleared");
        } else {
            const auto rate = quint32(job_.newRate);
            end = link_.SetModuleBaudRate([rate] { return rate; }, Stop());
            outcome.summary = QStringLiteral("module rate set to %1 (use --baud %1 from now on)").arg(job_.newRate);
        }
        if (end == OperationEnd::Unsent) return NothingSent();
        if (!link_.IsOpen()) {
            // Its device went away; the operation stopped sending.
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the port was lost");
        } else if (!AwaitEnterEcho(start)) {
            outcome.status = Interrupted() ? InterruptStatus() : ExitStatus::NoAnswer;
            outcome.summary = Interrupted() ? QStringLiteral("interrupted") : NoEnterEcho();
        } else if (NoModuleOnLoop(link_.JudgeLine(Stop()))) {
            outcome.status = ExitStatus::NoAnswer;
            outcome.summary = LineLooped();
        } else if (Interrupted()) {
            outcome.status = InterruptStatus();
            outcome.summary = QStringLiteral("interrupted");
        }
        return outcome;
    }

    PortOutcome Learn()
    {
        progress_.phase = PortProgress::Sending;
        // Checked before the port was opened.
        const OperationEnd end = link_.LearnReport(HexToBytes(RemoveBlanks(job_.hex)), Stop());
        PortOutcome outcome;
        if (end == OperationEnd::Done) {
            outcome.summary = QStringLiteral("learn report sent");
        } else if (end == OperationEnd::Unsent) {
            return NothingSent();
        } else if (portLost_) {
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the port was lost");
        } else {
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the learn report could not be written whole");
        }
        return outcome;
    }

    // One dump, read as the window reads it; false, with the outcome, when it did not end as a dump.
    bool ReadDump(PortOutcome& outcome)
    {
        const QString nothing = job_.verb == Verb::Read ? QStringLiteral("; nothing was written") : QString();
        // Before a dump (the first, or one more to confirm codes) nothing of it has gone out yet.
        if (Interrupted()) {
            outcome.status = InterruptStatus();
            outcome.summary = QStringLiteral("interrupted") + nothing;
            return false;
        }
        progress_.phase = PortProgress::Reading;
        progress_.done = 0;
        reading_ = true;
        const OperationEnd sent = link_.Read(Stop(), expected_);
        // A stop while the dump comes sends the exit frame: only a whole dump
        // takes the module out of configuration mode.
        const bool whole = sent == OperationEnd::Done && link_.AwaitReadEnd(Stop());
        reading_ = false;

        if (Interrupted()) {
            outcome.status = InterruptStatus();
            outcome.summary = QStringLiteral("interrupted") + nothing;
            const bool exitSent = sent == OperationEnd::Stopped || (sent == OperationEnd::Done && !whole && link_.IsOpen());
            if (exitSent) outcome.summary += QStringLiteral("; the exit frame was sent");
            return false;
        }
        // A line lost at any frame of the read, the first included.
        if (portLost_ || !link_.IsOpen()) {
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the port was lost during the read") + nothing;
            return false;
        }
        const ReadEnd end = link_.Reading().End();
        const Dump& dump = link_.Reading().LastDump();
        if (end == ReadEnd::Complete) return true;
        if (end == ReadEnd::NoDump && dump.strayBytes) {
            // Something came, but no dump: the module's answers were not clear.
            outcome.status = ExitStatus::Unclear;
            outcome.summary = QStringLiteral("the module's answers were not clear: a dump end came with no dump start") + nothing;
            return false;
        }
        outcome.status = ExitStatus::NoAnswer;
        outcome.summary = (dump.started ? QStringLiteral("the module stopped answering during the read")
                           : end == ReadEnd::NoDump
                               ? QStringLiteral("the module answered the read with a dump end alone")
                               : QStringLiteral("the module did not answer the read request"))
            + nothing;
        return false;
    }

    // Dumps until every code is confirmed or no further dump may settle it;
    // false, with the outcome, when a dump failed.
    bool ReadConfirmed(ConfirmedCodes& confirmed, PortOutcome& outcome)
    {
        while (confirmed.WantsAnotherDump()) {
            if (!ReadDump(outcome)) return false;
            confirmed.Add(link_.Reading().LastDump());
        }
        // The table holds what was confirmed, as the window shows codes it read.
        for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
            for (int column : {kOnColumn, kOffColumn}) {
                const QByteArray code = confirmed.Code(row, column);
                table_.SetCellText(row, column, code.isEmpty() ? QString() : BytesToHex(code));
            }
        progress_.done = CodeCount(table_);
        return true;
    }

    // "the module's answers were not clear for N codes: title 开, …".
    QString NotClear(const QVector<CellPosition>& cells) const
    {
        constexpr int kNamed = 12;
        QStringList named;
        for (const CellPosition& c : cells.mid(0, kNamed))
            named << table_.GetCellText(c.row, 0) + QLatin1Char(' ') + table_.GetCellText(0, c.column);
        if (cells.size() > kNamed) named << QStringLiteral("and %1 more").arg(cells.size() - kNamed);
        return QStringLiteral("the module's answers were not clear for %1 code%2 (%3); read again")
            .arg(cells.size())
            .arg(cells.size() == 1 ? QString() : QStringLiteral("s"))
            .arg(named.join(QStringLiteral(", ")));
    }

    PortOutcome Read()
    {
        PortOutcome outcome;
        ConfirmedCodes confirmed(job_.once);
        if (!ReadConfirmed(confirmed, outcome)) return outcome;
        if (const QVector<CellPosition> unclear = confirmed.Unconfirmed(); !unclear.isEmpty()) {
            outcome.status = ExitStatus::Unclear;
            outcome.summary = NotClear(unclear) + QStringLiteral("; nothing was written");
            return outcome;
        }
        const int codes = CodeCount(table_);
        outcome.codes = codes;
        const QString how = confirmed.Dumps() > 1 ? QStringLiteral(", each confirmed by two dumps") : QString();
        if (job_.output.isEmpty()) {
            outcome.standardOutput = WriteTableCsv(CodesOf(table_));
            outcome.summary = QStringLiteral("read %1 codes").arg(codes) + how;
            return outcome;
        }
        // A table file is exactly what the window saves: the read went into a fresh, laid-out table.
        const QByteArray bytes = IsTableFileName(job_.output) ? WriteTableFile(table_.Content()) : WriteTableCsv(CodesOf(table_));
        QString error;
        if (!WriteOutput(job_.output, bytes, &error)) {
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
        const bool read = ReadConfirmed(confirmed, outcome);
        expected_.clear();
        if (!read) return outcome;
        const QVector<CellPosition> unclear = confirmed.Unconfirmed();
        int compared = 0;
        for (int row = kFirstValueRow; row <= kLastValueRow; ++row) {
            const QString title = job_.file.title[row].isEmpty() ? table_.GetCellText(row, 0) : job_.file.title[row];
            for (int column : {kOnColumn, kOffColumn}) {
                if (unclear.contains(CellPosition{row, column})) continue;
                const QString inFile = Comparable(job_.file.code[row][column]);
                const QString inModule = Comparable(table_.GetCellText(row, column));
                if (!inFile.isEmpty() || !inModule.isEmpty()) ++compared;
                if (inFile == inModule) continue;
                outcome.differences.push_back({row, title, column, inFile, inModule});
            }
        }
        outcome.codes = compared;
        const QString differ = QStringLiteral("%1 of %2 codes differ").arg(outcome.differences.size()).arg(compared);
        if (!unclear.isEmpty()) {
            outcome.status = ExitStatus::Unclear;
            outcome.summary = NotClear(unclear) + (outcome.differences.isEmpty() ? QString() : QStringLiteral("; ") + differ);
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
    ModuleLink link_;
    ModuleEvent openRefused_{.kind = ModuleEvent::Kind::OpenRefused, .result = SioResult::OtherFailure};
    bool portLost_ = false;
    int enterEchoes_ = 0;
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
