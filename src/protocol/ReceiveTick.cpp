#include "protocol/ReceiveTick.h"

#include "core/ModuleEvents.h"
#include "core/Program.h"
#include "config/ConfigTable.h"
#include "core/TableLayout.h"
#include "protocol/HexCodec.h"
#include "protocol/TableBeforeRead.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"

int RecordPosition(int row)
{
    using namespace TableLayout;
    if (row >= kFirstSceneRow) return row;
    if (row % 2 == 1) return (row + 1) / 2;
    return row / 2 + kSwitches;
}

namespace {

using Kind = ModuleEvent::Kind;

CellPosition CellOfKey(int key) { return {key / TableLayout::kColumns, key % TableLayout::kColumns}; }

// A record or a known answer came: the read is alive.
void KeepReadAlive(Program& p)
{
    if (p.state.readEnd == ReadEnd::Running) p.state.readAliveAt = p.ui.TickCount();
}

// An answer of a dump that was given back after 3 s without one: the module
// went on after all, and so does the read.
void ResumeIfGivenBack(Program& p)
{
    if (!MayResumeRead(p)) return;
    ResumeGivenBackRead(p);
    p.state.readEnd = ReadEnd::Running;
    p.state.readAliveAt = p.ui.TickCount();
    DisableModuleButtons(p);
}

void ApplyDumpEnd(Program& p)
{
    ResumeIfGivenBack(p);
    KeepReadAlive(p);
    ModuleEvent e{.kind = Kind::DumpEnded, .dumpStarted = p.state.extracting};
    // Marks left from an earlier dump say nothing about a dump end that follows no start.
    if (e.dumpStarted)
        for (int key : p.state.dump.doubtful) e.doubtful << CellOfKey(key);
    p.state.extracting = false;
    Report(p, e);
    p.ui.SetPosition(Control::ProgressBar1, 0);
    if (p.state.readEnd == ReadEnd::Running) {
        if (e.dumpStarted) {
            p.state.readEnd = ReadEnd::Complete;
            KeepReadResult(p);
        } else {
            // A dump end with no dump start is no dump: it ends nothing the table could hold.
            p.state.readEnd = ReadEnd::NoDump;
            GiveBackUnfinishedRead(p);
        }
    }
    // An operation that is sending keeps the buttons until it ends; it
    // gives them back itself, as the state then allows.
    if (!p.state.operationRunning) EnableModuleButtons(p);
}

void ApplyRecord(Program& p, const Answer& a)
{
    ResumeIfGivenBack(p);
    const int key = TableLayout::CellKey(a.row, a.column);
    // Two records naming one cell: a code was cut where it held an address,
    // the same way in every dump, so agreement between dumps cannot catch it.
    if (a.doubtful || p.state.dump.named.contains(key)) {
        if (!p.state.dump.doubtful.contains(key)) p.state.dump.doubtful << key;
    }
    p.state.dump.named.insert(key);
    p.table.SetCellText(a.row, a.column, BytesToHex(a.bytes));
    p.ui.SetPosition(Control::ProgressBar1, RecordPosition(a.row));
    Report(p, {.kind = Kind::Record, .cell = {a.row, a.column}, .bytes = a.bytes});
}

}  // namespace

void ApplyAnswer(Program& p, const Answer& a)
{
    switch (a.kind) {
    case Answer::Kind::EnterEcho:
        KeepReadAlive(p);
        Report(p, {.kind = Kind::EnterEcho});
        return;
    case Answer::Kind::ExitEcho:
        KeepReadAlive(p);
        Report(p, {.kind = Kind::ExitEcho});
        return;
    case Answer::Kind::DumpStart:
        ResumeIfGivenBack(p);
        // A dump the module began by itself must end too, and gives the
        // table back like a read when it does not.
        if (p.state.readEnd != ReadEnd::Running) {
            KeepTableBeforeRead(p);
            p.state.readEnd = ReadEnd::Running;
        }
        p.state.readAliveAt = p.ui.TickCount();
        p.state.extracting = true;
        p.state.dump = DumpMarks{};
        Report(p, {.kind = Kind::DumpStarted});
        p.ui.SetPosition(Control::ProgressBar1, 1);
        return;
    case Answer::Kind::DumpEnd: ApplyDumpEnd(p); return;
    case Answer::Kind::Record: ApplyRecord(p, a); return;
    case Answer::Kind::Unrecognised: Report(p, {.kind = Kind::Unrecognised, .bytes = a.bytes}); return;
    }
}

namespace {

// Milliseconds from `earlier` to `later` on the wrapping 32-bit clock; a
// negative span (stamps a millisecond out of order) counts as none.
int Span(quint32 earlier, quint32 later) { return qMax(0, qint32(later - earlier)); }

// Judges every held answer that `end` makes whole, following the dump as
// the answers start and end it; a record whose address has come keeps the
// read alive from then on, though it is judged only once the next answer begins.
void JudgeWhole(Program& p, HeldEnd end)
{
    HeldBytes& held = p.state.held;
    while (const std::optional<Answer> a = TakeAnswer(held, p.state.extracting, end)) ApplyAnswer(p, *a);
    if (!held.frontNoted && p.state.extracting && RecordAtFront(held)) {
        held.frontNoted = true;
        KeepReadAlive(p);
    }
}

int HeldLimit(const Program& p) { return p.state.extracting ? kMaxHeldInDump : kMaxHeldOutsideDump; }

// Adds one run of arrived bytes to what is held, judging on the way whatever
// a quiet gap, a newer answer or the size limit has made whole.
void Hold(Program& p, const ArrivedBytes& run)
{
    HeldBytes& held = p.state.held;
    const bool afterQuiet = !held.bytes.isEmpty() && Span(held.lastAt, run.firstAt) >= kQuietMs;
    if (afterQuiet) JudgeWhole(p, HeldEnd::Quiet);
    held.lastAt = run.lastAt;
    for (qsizetype from = 0; from < run.bytes.size();) {
        const qsizetype room = qMax<qsizetype>(1, HeldLimit(p) - held.bytes.size());
        const qsizetype take = qMin(room, run.bytes.size() - from);
        HoldArrived(held, run.bytes.mid(from, take), afterQuiet && from == 0);
        from += take;
        JudgeWhole(p, HeldEnd::Waiting);
    }
}

// The module left the read unanswered: the table goes back as it was; a
// dump that had begun is still listened to, so that records still coming
// resume the read.
void EndReadWithoutAnswer(Program& p)
{
    Report(p, {.kind = Kind::ReadUnanswered});
    p.state.readEnd = ReadEnd::NoAnswer;
    p.ui.SetPosition(Control::ProgressBar1, 0);
    if (!p.state.operationRunning) EnableModuleButtons(p);
    GiveBackUnfinishedRead(p);
}

bool ReadOverdue(const Program& p)
{
    return p.state.readEnd == ReadEnd::Running && Span(p.state.readAliveAt, p.ui.TickCount()) >= kNoAnswerMs;
}

// Quick ticks while anything is under way, a slow look otherwise. Bytes
// held in a dump wait for the next answer, not for a tick.
void PaceTimer(Program& p)
{
    const bool busy = (!p.state.held.bytes.isEmpty() && !p.state.extracting)
        || p.state.readEnd == ReadEnd::Running || p.state.operationRunning;
    p.ui.SetInterval(Control::Timer_ReceiveData, busy ? kReceiveTickMs : kIdleTickMs);
}

}  // namespace

void ReceiveTick(Program& p)
{
    if (!p.state.portOpen) {
        // Whatever was half received belongs to a line that is gone.
        p.state.held = HeldBytes{};
        return;
    }
    QVector<ArrivedBytes> runs;
    const int result = p.serial.ReadArrivals(p.state.portNumber, runs);
    for (const ArrivedBytes& run : runs) Hold(p, run);
    if (PortWasLost(result)) {
        // What the module said before the line went is as good as ever.
        JudgeWhole(p, HeldEnd::Gone);
        ClosePortOnLoss(p);
        GiveBackUnfinishedRead(p);
        return;
    }
    if (!p.state.held.bytes.isEmpty() && Span(p.state.held.lastAt, p.ui.TickCount()) >= kQuietMs) {
        JudgeWhole(p, HeldEnd::Quiet);
        // Seen quiet now, whatever the stamps of later bytes will say: on a
        // busy machine they can be stamped earlier than they came.
        NoteQuiet(p.state.held);
    }
    if (ReadOverdue(p)) EndReadWithoutAnswer(p);
    PaceTimer(p);
}
