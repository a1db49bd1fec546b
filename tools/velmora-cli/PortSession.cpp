#include "PortSession.h"

#include <QElapsedTimer>
#include <memory>
#include <vector>

#include "ConfirmedCodes.h"
#include "HeadlessServices.h"
#include "TableFiles.h"
#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "core/ModuleEvents.h"
#include "core/Program.h"
#include "core/TableLayout.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleOperations.h"
#include "protocol/ReceiveTick.h"
#include "serial/BuiltinProviders.h"
#include "serial/PortConnection.h"
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

// Everything one port's run needs, created on the session's own thread. It
// learns what the module and the line did from the program's events.
class Session : public ModuleObserver {
public:
    Session(const PortJob& job, const std::atomic<int>& interrupt, PortProgress& progress)
        : job_(job),
          interrupt_(interrupt),
          progress_(progress),
          portList_(PortListWith(job.portList, job.target.device)),
          providers_(MakeBuiltinProviders([this] { return portList_; })),
          serial_(ui_, ProviderList()),
          p_{AppState{}, ui_, serial_, table_}
    {
        ui_.onTick = [this] { ReceiveTick(p_); };
        p_.observers << this;
    }

    void OnModuleEvent(const ModuleEvent& e) override
    {
        using Kind = ModuleEvent::Kind;
        switch (e.kind) {
        case Kind::OpenRefused: openRefused_ = e; break;
        case Kind::PortLost: portLost_ = true; break;
        case Kind::EnterEcho: ++enterEchoes_; break;
        case Kind::LearnReportSent: learnSent_ = true; break;
        case Kind::CodeSent: progress_.done = ++codesWritten_; break;
        default: break;
        }
        if (reading_) {
            dump_.Hear(e);
            if (e.kind == Kind::Record) progress_.done = int(dump_.codes.size());
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
            if (p_.state.portOpen) TogglePort(p_);
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

    // As the window starts and the user opens the port: the lists filled, the
    // table laid out, the port and rate chosen, the port button pressed.
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
        RefreshPortList(p_);
        FillBaudLists(p_);
        InitTable(table_);
        p_.state.portNumber = -1;
        ui_.SetSelection(Control::Combo_Port, IndexOfDevice(portList_, job_.target.device));
        SelectRate(Control::Combo_BaudRate, job_.baud);
        TogglePort(p_);
        if (p_.state.portOpen) return true;

        outcome.status = ExitStatus::PortFailed;
        outcome.summary = QStringLiteral("could not open %1: %2")
                              .arg(job_.target.device, OpenFailureInWords(openRefused_.refusal, openRefused_.result));
        return false;
    }

    void SelectRate(Control box, int rate)
    {
        for (int i = 0; i < ui_.ComboCount(box); ++i)
            if (ui_.ComboItemText(box, i) == QString::number(rate)) ui_.SetSelection(box, i);
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

    // Waits until the module has echoed the enter frame, at most until
    // kEnterEchoMs after `since`; false when it has not (or on an interrupt).
    bool AwaitEnterEcho(quint32 since)
    {
        while (enterEchoes_ == 0 && !Interrupted() && ui_.TickCount() - since < kEnterEchoMs) ui_.DeliverMessages(5);
        return enterEchoes_ > 0 && !Interrupted();
    }

    static QString NoEnterEcho() { return QStringLiteral("the module did not echo the enter frame within 1 s"); }

    PortOutcome Write()
    {
        PutCodes(job_.file, table_);
        const int total = CodeCount(table_);
        progress_.total = total;
        progress_.phase = PortProgress::Writing;
        codesWritten_ = 0;

        UploadGuard guard;
        const quint32 start = ui_.TickCount();
        enterEchoes_ = 0;
        guard.mayBeginBlocks = [&] { return AwaitEnterEcho(start); };
        guard.stopRequested = [&] { return Interrupted(); };
        const UploadEnd end = WriteModule(p_, guard);

        PortOutcome outcome;
        const int sent = codesWritten_;
        switch (end) {
        case UploadEnd::Sent:
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
        case UploadEnd::Held:
            outcome.status = Interrupted() ? InterruptStatus() : ExitStatus::NoAnswer;
            outcome.summary = (Interrupted() ? QStringLiteral("interrupted") : NoEnterEcho())
                + QStringLiteral("; only the exit frame followed, no code was sent");
            break;
        case UploadEnd::Stopped:
            outcome.codes = sent;
            outcome.status = InterruptStatus();
            outcome.summary = QStringLiteral("interrupted after %1 of %2 codes; the exit frame was sent").arg(sent).arg(total);
            break;
        case UploadEnd::Interrupted:
            outcome.codes = sent;
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the port was lost after %1 of %2 codes").arg(sent).arg(total);
            break;
        case UploadEnd::NotStarted:
            // The codes were checked before the port was opened; the module is untouched.
            outcome.status = ExitStatus::BadFile;
            outcome.summary = QStringLiteral("a code did not convert; nothing was sent");
            break;
        }
        return outcome;
    }

    // Clear and set-baud: the window's handler, then the enter echo looked for.
    PortOutcome ShortOperation()
    {
        progress_.phase = PortProgress::Sending;
        enterEchoes_ = 0;
        const quint32 start = ui_.TickCount();
        PortOutcome outcome;
        if (job_.verb == Verb::Clear) {
            ClearModule(p_);
            outcome.summary = QStringLiteral("cleared");
        } else {
            SelectRate(Control::Combo_SetBaudRate, job_.newRate);
            SetModuleBaudRate(p_);
            outcome.summary = QStringLiteral("module rate set to %1 (use --baud %1 from now on)").arg(job_.newRate);
        }
        if (!p_.state.portOpen) {
            // Its device went away; the window's handler stopped sending.
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the port was lost");
        } else if (!AwaitEnterEcho(start)) {
            outcome.status = Interrupted() ? InterruptStatus() : ExitStatus::NoAnswer;
            outcome.summary = Interrupted() ? QStringLiteral("interrupted") : NoEnterEcho();
        }
        return outcome;
    }

    PortOutcome Learn()
    {
        progress_.phase = PortProgress::Sending;
        ui_.SetText(Control::Edit_Learn, job_.hex);
        learnSent_ = false;
        LearnReport(p_);
        PortOutcome outcome;
        if (learnSent_) {
            outcome.summary = QStringLiteral("learn report sent");
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
        dump_ = HeardDump{};
        reading_ = true;
        // The bar's position tells how far the dump has come through the table.
        ui_.onProgress = [this](int position) { progress_.position = position; };
        ReadModule(p_);
        while (p_.state.readEnd == ReadEnd::Running && !Interrupted()) ui_.DeliverMessages(20);
        ui_.onProgress = nullptr;
        reading_ = false;

        if (Interrupted()) {
            outcome.status = InterruptStatus();
            outcome.summary = QStringLiteral("interrupted") + nothing;
            // The read request went out inside configuration mode and only a
            // whole dump takes the module out of it: the exit frame does, as
            // after an upload cut short.
            if (p_.state.portOpen && p_.state.readEnd == ReadEnd::Running) {
                SendFrame(p_, ExitConfigFrame);
                Delay(p_, 100);
                outcome.summary += QStringLiteral("; the exit frame was sent");
            }
            return false;
        }
        // A line lost at any frame of the read, the first included.
        if (portLost_ || !p_.state.portOpen) {
            outcome.status = ExitStatus::PortFailed;
            outcome.summary = QStringLiteral("the port was lost during the read") + nothing;
            return false;
        }
        if (p_.state.readEnd == ReadEnd::Complete && dump_.ended) return true;
        if (p_.state.readEnd == ReadEnd::NoDump && dump_.strayBytes) {
            // Something came, but no dump: the module's answers were not clear.
            outcome.status = ExitStatus::Unclear;
            outcome.summary = QStringLiteral("the module's answers were not clear: a dump end came with no dump start") + nothing;
            return false;
        }
        outcome.status = ExitStatus::NoAnswer;
        outcome.summary = (dump_.started ? QStringLiteral("the module stopped answering during the read")
                           : p_.state.readEnd == ReadEnd::NoDump
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
            confirmed.Add(dump_);
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
    // counts only where the module's code is confirmed.
    PortOutcome Verify()
    {
        PortOutcome outcome;
        ConfirmedCodes confirmed(job_.once);
        if (!ReadConfirmed(confirmed, outcome)) return outcome;
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

    const PortJob& job_;
    const std::atomic<int>& interrupt_;
    PortProgress& progress_;
    QVector<PortEntry> portList_;
    HeadlessServices ui_;
    std::vector<std::unique_ptr<LibraryProvider>> providers_;
    SerialLibrary serial_;
    ConfigTable table_;
    Program p_;
    ModuleEvent openRefused_{.kind = ModuleEvent::Kind::OpenRefused, .result = SioResult::OtherFailure};
    bool portLost_ = false;
    int enterEchoes_ = 0;
    bool learnSent_ = false;
    int codesWritten_ = 0;
    bool reading_ = false;  // a dump is being read: its events go into dump_
    HeardDump dump_;
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
