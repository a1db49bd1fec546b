#include "protocol/ModuleLink.h"

#include <climits>

#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/LinkPacing.h"
#include "serial/SerialLibrary.h"

using Kind = ModuleEvent::Kind;

ModuleLink::ModuleLink(SerialLibrary& serial, ConfigTable& table, LinkPacing& pacing)
    : serial_(serial),
      pacing_(pacing),
      port_(serial, [this](const ModuleEvent& e) { OnPortEvent(e); }),
      read_(table, pacing, [this](const ModuleEvent& e) { Report(e); }, [this] { return operationRunning_; })
{
}

ModuleLink::~ModuleLink()
{
    if (port_.IsOpen()) serial_.SetActivityHandler({});
}

void ModuleLink::Listen(ModuleObserver* observer) { observers_ << observer; }

void ModuleLink::StopListening(ModuleObserver* observer) { observers_.removeAll(observer); }

void ModuleLink::Report(const ModuleEvent& event)
{
    // A copy: an observer may come or go while it hears this one.
    const QVector<ModuleObserver*> observers = observers_;
    for (ModuleObserver* o : observers) o->OnModuleEvent(event);
}

// --- the port ---------------------------------------------------------------------

int ModuleLink::Open(int port, int rate, const QString& name) { return port_.Open(port, rate, name); }

void ModuleLink::Close() { port_.Close(); }

// What the port did is told first; what it means for the read and the
// receive timer follows.
void ModuleLink::OnPortEvent(const ModuleEvent& e)
{
    Report(e);
    switch (e.kind) {
    case Kind::PortOpened:
        read_.PortOpened();
        pacing_.SetReceiveInterval(kReceiveTickMs);
        // Bytes arriving, or the device going away, bring the receive timer
        // back to its quick pace when it rests on an idle line.
        serial_.SetActivityHandler([this] {
            if (port_.IsOpen()) pacing_.SetReceiveInterval(kReceiveTickMs);
        });
        return;
    case Kind::PortLost: portLost_ = true; return;
    case Kind::PortClosed:
        loop_.watching = false;
        serial_.SetActivityHandler({});
        // A closed port has nothing to receive: the timer rests until the next open.
        pacing_.SetReceiveInterval(0);
        read_.PortClosed(portLost_);
        portLost_ = false;
        return;
    default: return;
    }
}

// --- frames and pauses ------------------------------------------------------------

int ModuleLink::SendFrame(const QString& hexText) { return Send(hexText, {}); }

int ModuleLink::Send(const QString& hexText, CellPosition cell)
{
    // An operation interrupted in a pause must not reach the line any more
    // once whoever runs the link is going away.
    if (pacing_.Ending()) return -1;
    HexProblem problem;
    const QByteArray bytes = HexToBytes(hexText, &problem);
    if (problem) {
        Report({.kind = Kind::CodeNotConverted, .cell = cell, .text = hexText});
        // The window's box delivers messages; it may have gone meanwhile.
        if (pacing_.Ending()) return -1;
    }
    if (loop_.watching) {
        loop_.sent += bytes;
        const bool echoed = bytes == FixedFrameBytes(EnterConfigFrame) || bytes == FixedFrameBytes(ExitConfigFrame);
        if (!echoed && !bytes.isEmpty() && loop_.unechoedEnd < 0) loop_.unechoedEnd = loop_.sent.size();
    }
    // A write that finds the device gone closes the port; the operation
    // stops at its next step, finding it closed.
    return port_.Write(bytes);
}

void ModuleLink::Delay(int ms)
{
    if (ms <= 0 || pacing_.Ending()) return;
    const quint32 start = pacing_.Now();
    const auto length = quint32(ms);
    // Counting the time passed rather than comparing against start + ms keeps
    // the pause whole when the 32-bit clock wraps during it.
    for (;;) {
        const quint32 passed = pacing_.Now() - start;
        if (passed > length) return;
        // Sleep until the tick just past the deadline; anything that arrives
        // meanwhile (a tick, a click) wakes us early.
        const quint32 wait = length - passed + 1;
        pacing_.Pump(wait > quint32(INT_MAX) ? INT_MAX : int(wait));
        if (pacing_.Ending()) return;
    }
}

// --- the operations ---------------------------------------------------------------

bool ModuleLink::MayStartOperation() const { return !operationRunning_ && !pacing_.Ending(); }

bool ModuleLink::Interrupted() const
{
    // Operations start only with the port open, so a closed port means it was
    // lost while they ran.
    return pacing_.Ending() || !port_.IsOpen();
}

// Claims the line; false, with how it ended, when the operation may not
// start or is stopped before its first frame.
bool ModuleLink::Begin(const StopRequest& stop, OperationEnd& refused)
{
    if (!MayStartOperation()) {
        refused = OperationEnd::NotStarted;
        return false;
    }
    if (stop && stop()) {
        refused = OperationEnd::Unsent;
        return false;
    }
    read_.OperationBegins();
    // A line still being judged for an earlier operation is judged no more:
    // this one's frames and answers would mix with that one's.
    loop_ = LoopWatch{};
    operationRunning_ = true;
    Report({.kind = Kind::OperationBegan});
    return true;
}

// Gives the line back; the module is free again unless a dump runs. Nobody
// is told once the link is ending: the window's controls are going away.
OperationEnd ModuleLink::End(OperationEnd how)
{
    operationRunning_ = false;
    if (!pacing_.Ending()) Report({.kind = Kind::OperationEnded, .free = port_.IsOpen() && !read_.Dumping()});
    return how;
}

OperationEnd ModuleLink::StopWithExitFrame()
{
    SendFrame(ExitConfigFrame);
    Delay(FramePause::kExit);
    return End(Interrupted() ? OperationEnd::Interrupted : OperationEnd::Stopped);
}

// Enters configuration mode, sends one request (built when its turn comes),
// reports it and pauses, and leaves configuration mode again.
template <typename BuildFrame>
OperationEnd ModuleLink::RequestInConfigMode(BuildFrame buildFrame, ModuleRequest request, int pause, const StopRequest& stop)
{
    OperationEnd refused;
    if (!Begin(stop, refused)) return refused;
    SendFrame(EnterConfigFrame);
    WatchForLoop();
    Delay(FramePause::kEnter);
    if (Interrupted()) return End(OperationEnd::Interrupted);
    if (stop && stop()) return StopWithExitFrame();

    SendFrame(buildFrame());
    // A request that found the device gone was not sent; nobody may be told it was.
    if (Interrupted()) return End(OperationEnd::Interrupted);
    Report({.kind = Kind::RequestSent, .request = request});
    Delay(pause);
    if (Interrupted()) return End(OperationEnd::Interrupted);

    SendFrame(ExitConfigFrame);
    Delay(FramePause::kExit);
    if (Interrupted()) return End(OperationEnd::Interrupted);
    // Held until the line is judged, so the operation's outcome is known when it ends.
    JudgeLine(stop);
    return End(Interrupted() ? OperationEnd::Interrupted : OperationEnd::Done);
}

OperationEnd ModuleLink::SetModuleBaudRate(const std::function<quint32()>& rate, const StopRequest& stop)
{
    // Only the module changes its rate; our own port keeps its settings.
    return RequestInConfigMode([&rate] { return SetBaudFrame(rate()); }, ModuleRequest::SetBaudRate,
                               FramePause::kSetBaud, stop);
}

OperationEnd ModuleLink::Clear(const StopRequest& stop)
{
    return RequestInConfigMode([] { return ClearRequestFrame; }, ModuleRequest::Clear, FramePause::kClear, stop);
}

OperationEnd ModuleLink::Read(const StopRequest& stop, const ExpectedCodes& expected)
{
    OperationEnd refused;
    if (!Begin(stop, refused)) return refused;
    read_.ReadBegins(expected);
    SendFrame(EnterConfigFrame);
    Delay(FramePause::kEnter);
    if (Interrupted()) return End(OperationEnd::Interrupted);
    if (stop && stop()) return StopWithExitFrame();

    // No pause after the request: the table is emptied before the receive
    // tick can place the first record.
    read_.RequestGoesOut();
    SendFrame(ReadRequestFrame);
    // A device gone in this very write ends the read before it began: the table stays.
    if (Interrupted()) return End(OperationEnd::Interrupted);
    Report({.kind = Kind::RequestSent, .request = ModuleRequest::Read});
    read_.RequestSent();

    // The module stays held until the dump ends (or the port is closed); the
    // line is free for the port button now, so that a dump that never ends
    // can be given up.
    operationRunning_ = false;
    Report({.kind = Kind::OperationEnded, .free = false});
    return OperationEnd::Done;
}

bool ModuleLink::AwaitReadEnd(const StopRequest& stop)
{
    const auto waiting = [&] { return (read_.Running() || read_.Settling()) && !(stop && stop()) && !pacing_.Ending(); };
    while (waiting()) pacing_.Pump(read_.Running() ? 20 : 5);
    if (!read_.Running()) return true;
    // The read request went out inside configuration mode and only a whole
    // dump takes the module out of it: the exit frame does, as after an
    // upload cut short.
    if (port_.IsOpen()) {
        SendFrame(ExitConfigFrame);
        Delay(FramePause::kExit);
    }
    return false;
}

OperationEnd ModuleLink::LearnReport(const QByteArray& data, const StopRequest& stop)
{
    // One write and no pause, so it never interleaves by itself; it is still
    // refused while another operation holds the line.
    if (!MayStartOperation()) return OperationEnd::NotStarted;
    read_.OperationBegins();
    if (!port_.IsOpen()) return OperationEnd::NotStarted;
    if (stop && stop()) return OperationEnd::Unsent;
    const QByteArray frame = FrameLayout::kLearnLead + data;
    // Only a whole write keeps the promise that the phone can test now.
    const int written = port_.Write(frame);
    if (written == frame.size()) {
        Report({.kind = Kind::LearnReportSent});
        return OperationEnd::Done;
    }
    return port_.IsOpen() ? OperationEnd::ShortWrite : OperationEnd::Interrupted;
}

void ModuleLink::LetGoAtExit()
{
    const bool underWay = operationRunning_ || read_.Running();
    if (port_.IsOpen() && underWay) {
        // Sending stops once the link is ending, and a device found gone must
        // not tell a window that is going away: one plain write, the last
        // before the port closes.
        const QByteArray frame = FixedFrameBytes(ExitConfigFrame);
        serial_.sio_write(port_.Number(), frame.constData(), int(frame.size()));
    }
    read_.EndAtExit();
}

// --- a line that only sends back what it is sent -------------------------------------

namespace {

// What the line brought back is kept up to this size: far more than a line
// brings in the time it is judged at the fastest rate.
constexpr qsizetype kMostHeard = 256 * 1024;

// How the line answered `sent` (from the enter frame on) with `heard`. The
// bytes heard are walked in order: a module's echo (the enter or exit frame
// where the line's copy is not due) is passed over whole, any other byte must
// be the next byte sent. The line sends back what it is sent when nothing
// else came, and it brought back a whole frame no module echoes; an echo
// still arriving at the end is no other byte. The module echoed when the
// enter frame came more often than the line's own copy explains.
LineVerdict Verdict(const QByteArray& sent, qsizetype unechoedEnd, const QByteArray& heard)
{
    const QByteArray enter = FixedFrameBytes(EnterConfigFrame), exit = FixedFrameBytes(ExitConfigFrame);
    qsizetype s = 0;
    bool onlyCopies = true;
    for (qsizetype i = 0; i < heard.size();) {
        const QByteArrayView here = QByteArrayView(heard).sliced(i);
        const QByteArrayView due = QByteArrayView(sent).sliced(s);
        const bool echo = here.startsWith(enter) || here.startsWith(exit);
        if (echo && !due.startsWith(here.first(FrameLayout::kFixedSize))) {
            i += FrameLayout::kFixedSize;
        } else if (s < sent.size() && heard[i] == sent[s]) {
            ++i;
            ++s;
        } else {
            onlyCopies = QByteArrayView(enter).startsWith(here) || QByteArrayView(exit).startsWith(here);
            break;
        }
    }
    LineVerdict v;
    v.looped = onlyCopies && unechoedEnd > 0 && s >= unechoedEnd;
    v.moduleEchoed = heard.count(enter) > (v.looped ? 1 : 0);
    return v;
}

}  // namespace

// The enter frame of a baud change, clear or upload just went out.
void ModuleLink::WatchForLoop()
{
    loop_ = LoopWatch{.watching = true, .enterAt = pacing_.Now(), .sent = FixedFrameBytes(EnterConfigFrame)};
}

// What arrived from the enter frame on, as the line cut it.
void ModuleLink::HearForLoop(const QVector<ArrivedBytes>& runs)
{
    if (!loop_.watching) return;
    for (const ArrivedBytes& run : runs)
        if (qint32(run.lastAt - loop_.enterAt) >= 0 && loop_.heard.size() < kMostHeard) loop_.heard += run.bytes;
}

void ModuleLink::JudgeLoop()
{
    if (!loop_.watching || pacing_.Now() - loop_.enterAt < quint32(kLoopCheckMs)) return;
    loop_.verdict = Verdict(loop_.sent, loop_.unechoedEnd, loop_.heard);
    loop_.verdict.judged = true;
    loop_.watching = false;
    loop_.sent.clear();
    loop_.heard.clear();
    if (loop_.verdict.looped && !loop_.verdict.moduleEchoed) Report({.kind = Kind::LineLooped});
}

LineVerdict ModuleLink::JudgeLine(const StopRequest& stop)
{
    while (loop_.watching && port_.IsOpen() && !(stop && stop()) && !pacing_.Ending()) {
        pacing_.Pump(5);
        // The judgement is the receive tick's; whoever paces the link may not tick while we wait.
        ReceiveTick();
    }
    return loop_.watching ? LineVerdict{} : loop_.verdict;
}

LineVerdict ModuleLink::LineSoFar() const
{
    return loop_.watching ? Verdict(loop_.sent, loop_.unechoedEnd, loop_.heard) : loop_.verdict;
}

// --- receiving --------------------------------------------------------------------

void ModuleLink::ReceiveTick()
{
    if (!port_.IsOpen()) return;
    QVector<ArrivedBytes> runs;
    const int result = port_.ReadArrivals([this] { return pacing_.Now(); }, runs);
    read_.Arrived(runs);
    HearForLoop(runs);
    if (PortWasLost(result)) {
        // What the module said before the line went is as good as ever.
        read_.LineGone();
        port_.Lose();
        return;
    }
    read_.Tick();
    JudgeLoop();
    PaceTimer();
}

// Quick ticks while anything is under way, a slow look otherwise.
void ModuleLink::PaceTimer()
{
    const bool busy = read_.WantsQuickTicks() || operationRunning_ || loop_.watching;
    pacing_.SetReceiveInterval(busy ? kReceiveTickMs : kIdleTickMs);
}
