#include "session/ModuleSession.h"

#include "config/ConfigTable.h"
#include "core/TableLayout.h"
#include "protocol/HexCodec.h"
#include "protocol/LinkPacing.h"
#include "session/ConfirmedCodes.h"

using namespace TableLayout;

int CodesIn(const ConfigTable& table)
{
    int codes = 0;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) codes += !RemoveBlanks(table.GetCellText(row, column)).isEmpty();
    return codes;
}

ModuleSession::ModuleSession(SerialLibrary& serial, ConfigTable& table, LinkPacing& pacing)
    : pacing_(pacing), link_(serial, table, pacing)
{
    // Heard before anyone who words the events, so a front end told of an
    // event finds the session knowing it already.
    link_.Listen(this);
}

ModuleSession::~ModuleSession() { link_.StopListening(this); }

void ModuleSession::OnModuleEvent(const ModuleEvent& e)
{
    using Kind = ModuleEvent::Kind;
    switch (e.kind) {
    case Kind::EnterEcho: ++watched_.enterEchoes; return;
    case Kind::ExitEcho: watched_.exitEcho = true; return;
    case Kind::RequestSent: watched_.requestSent = true; return;
    case Kind::CodeSent: ++watched_.codesSent; return;
    case Kind::PortLost: watched_.portLost = true; return;
    default: return;
    }
}

// An operation the link cut off: the port went, or the program began to end.
OutcomeKind ModuleSession::CutOff() const
{
    return pacing_.Ending() && !watched_.portLost ? OutcomeKind::Ending : OutcomeKind::PortLost;
}

void ModuleSession::Watch()
{
    watched_ = {};
    enterAt_ = pacing_.Now();
}

// How a baud change, clear or upload went, from how the link ended it and
// the line's verdict.
ModuleOutcome ModuleSession::Judged(OperationEnd end, const StopRequest& stop)
{
    const LineVerdict line = link_.LineSoFar();
    ModuleOutcome o{.moduleEchoed = line.moduleEchoed, .exitEcho = watched_.exitEcho, .lineLooped = line.looped,
                    .requestSent = watched_.requestSent, .codesSent = watched_.codesSent};
    const bool stopped = stop && stop();
    // The module answered: it echoed the enter frame, or the exit frame
    // where the line is not one that sends everything back.
    const bool answered = line.moduleEchoed || (o.exitEcho && !line.looped);
    switch (end) {
    case OperationEnd::NotStarted: o.kind = OutcomeKind::NotStarted; break;
    case OperationEnd::Unsent: o.kind = OutcomeKind::Unsent; break;
    case OperationEnd::Interrupted: o.kind = CutOff(); break;
    case OperationEnd::Stopped: o.kind = OutcomeKind::Stopped; break;
    case OperationEnd::ShortWrite: o.kind = OutcomeKind::ShortWrite; break;
    case OperationEnd::Held:
        o.blocksHeld = true;
        o.kind = stopped ? OutcomeKind::Stopped : line.looped ? OutcomeKind::Looped : OutcomeKind::NoAnswer;
        break;
    case OperationEnd::Looped: o.kind = OutcomeKind::Looped; break;
    case OperationEnd::Done:
        if (!line.judged && stopped)
            o.kind = OutcomeKind::Stopped;
        else if (answered)
            o.kind = OutcomeKind::Done;
        else
            o.kind = line.looped ? OutcomeKind::Looped : OutcomeKind::NoAnswer;
        break;
    }
    return o;
}

ModuleOutcome ModuleSession::Clear(const StopRequest& stop)
{
    Watch();
    return Judged(link_.Clear(stop), stop);
}

ModuleOutcome ModuleSession::SetModuleBaud(const std::function<quint32()>& rate, const StopRequest& stop)
{
    Watch();
    quint32 sent = 0;
    ModuleOutcome o = Judged(link_.SetModuleBaudRate([&] { return sent = rate(); }, stop), stop);
    o.rate = sent;
    return o;
}

bool ModuleSession::AwaitEnterEcho(const StopRequest& stop)
{
    while (watched_.enterEchoes == 0 && !(stop && stop()) && link_.IsOpen() && !pacing_.Ending()
           && pacing_.Now() - enterAt_ < quint32(kLoopCheckMs))
        pacing_.Pump(5);
    return watched_.enterEchoes > 0 && !(stop && stop());
}

void ModuleSession::AwaitLateExitEcho(const StopRequest& stop)
{
    const quint32 start = pacing_.Now();
    while (!watched_.exitEcho && link_.IsOpen() && !(stop && stop()) && !pacing_.Ending()
           && pacing_.Now() - start < quint32(kLateExitEchoMs))
        link_.Delay(20);
}

ModuleOutcome ModuleSession::Write(const CellText& cell, int codes, bool holdForEcho, const StopRequest& stop)
{
    Watch();
    UploadGuard guard;
    guard.stop = stop;
    if (holdForEcho) guard.mayBeginBlocks = [this, &stop] { return AwaitEnterEcho(stop); };
    const OperationEnd end = link_.Upload(cell, guard);
    if (end == OperationEnd::Done && link_.LineSoFar().moduleEchoed && !watched_.exitEcho) AwaitLateExitEcho(stop);
    ModuleOutcome o = Judged(end, stop);
    o.codes = codes;
    return o;
}

ModuleOutcome ModuleSession::LearnReport(const QByteArray& data, const StopRequest& stop)
{
    Watch();
    const OperationEnd end = link_.LearnReport(data, stop);
    ModuleOutcome o;
    switch (end) {
    case OperationEnd::Done: o.kind = OutcomeKind::Done; break;
    case OperationEnd::Unsent: o.kind = OutcomeKind::Unsent; break;
    case OperationEnd::ShortWrite: o.kind = OutcomeKind::ShortWrite; break;
    case OperationEnd::Interrupted: o.kind = CutOff(); break;
    default: o.kind = OutcomeKind::NotStarted; break;
    }
    return o;
}

ModuleOutcome ModuleSession::StartRead(const StopRequest& stop)
{
    Watch();
    // A read gets no line verdict: how it goes is the read's (LatestRead).
    switch (link_.Read(stop)) {
    case OperationEnd::Done: return {.kind = OutcomeKind::Done, .requestSent = watched_.requestSent};
    case OperationEnd::Unsent: return {.kind = OutcomeKind::Unsent};
    case OperationEnd::Stopped: return {.kind = OutcomeKind::Stopped};
    case OperationEnd::Interrupted: return {.kind = CutOff()};
    default: return {.kind = OutcomeKind::NotStarted};
    }
}

ReadOutcome ModuleSession::LatestRead() const
{
    const ModuleRead& read = link_.Reading();
    const Dump& dump = read.LastDump();
    ReadOutcome o{.dumpStarted = dump.started, .codes = int(dump.codes.size())};
    for (int key : dump.doubtful) o.doubtful << DoubtfulCode{CellOfKey(key), DoubtReason::StrayBytes};
    switch (read.End()) {
    case ReadEnd::None:
    case ReadEnd::Running:
    case ReadEnd::Complete: o.kind = OutcomeKind::Done; break;
    case ReadEnd::NoAnswer: o.kind = OutcomeKind::NoAnswer; break;
    case ReadEnd::PortLost: o.kind = OutcomeKind::PortLost; break;
    case ReadEnd::PortClosed: o.kind = pacing_.Ending() ? OutcomeKind::Ending : OutcomeKind::Stopped; break;
    // Something came, but no dump: the module's answers were not clear.
    case ReadEnd::NoDump:
        o.kind = dump.strayBytes ? OutcomeKind::Unclear : OutcomeKind::NoAnswer;
        o.dumpEndAlone = !dump.strayBytes;
        break;
    }
    return o;
}

ReadOutcome ModuleSession::ReadDump(const StopRequest& stop, const ExpectedCodes& expected)
{
    Watch();
    const OperationEnd sent = link_.Read(stop, expected);
    // A stop while the dump comes sends the exit frame: only a whole dump
    // takes the module out of configuration mode.
    const bool whole = sent == OperationEnd::Done && link_.AwaitReadEnd(stop);
    if (stop && stop()) {
        ReadOutcome o{.kind = sent == OperationEnd::Unsent ? OutcomeKind::Unsent : OutcomeKind::Stopped};
        o.exitSent = sent == OperationEnd::Stopped || (sent == OperationEnd::Done && !whole && link_.IsOpen());
        return o;
    }
    if (sent == OperationEnd::NotStarted) return {.kind = pacing_.Ending() ? OutcomeKind::Ending : OutcomeKind::NotStarted};
    // A line lost at any frame of the read, the first included.
    if (watched_.portLost || !link_.IsOpen()) return {.kind = OutcomeKind::PortLost};
    return LatestRead();
}

ReadOutcome ModuleSession::ReadConfirmed(ConfirmedCodes& confirmed, const StopRequest& stop,
                                         const ExpectedCodes& expected, const std::function<void()>& dumpBegins)
{
    while (confirmed.WantsAnotherDump()) {
        if (dumpBegins) dumpBegins();
        ReadOutcome dump = ReadDump(stop, expected);
        dump.dumps = confirmed.Dumps();
        if (dump.kind != OutcomeKind::Done) return dump;
        confirmed.Add(link_.Reading().LastDump());
    }
    ReadOutcome o{.dumps = confirmed.Dumps(), .unconfirmed = confirmed.Unconfirmed(), .noisyLine = confirmed.NoisyLine()};
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) o.codes += !confirmed.Code(row, column).isEmpty();
    for (const CellPosition& cell : o.unconfirmed) o.doubtful << DoubtfulCode{cell, DoubtReason::Unconfirmed};
    o.kind = o.unconfirmed.isEmpty() ? OutcomeKind::Done : OutcomeKind::Unconfirmed;
    return o;
}
