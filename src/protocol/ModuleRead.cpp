#include "protocol/ModuleRead.h"

#include "config/ConfigTable.h"
#include "config/TableHistory.h"
#include "core/TableLayout.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/LinkPacing.h"
#include "serial/SerialLibrary.h"

using Kind = ModuleEvent::Kind;

int RecordPosition(int row)
{
    using namespace TableLayout;
    if (row >= kFirstSceneRow) return row;
    if (row % 2 == 1) return (row + 1) / 2;
    return row / 2 + kSwitches;
}

namespace {

using namespace TableLayout;

// Milliseconds from `earlier` to `later` on the wrapping 32-bit clock; a
// negative span (stamps a millisecond out of order) counts as none.
int Span(quint32 earlier, quint32 later) { return qMax(0, qint32(later - earlier)); }

QStringList ValueCells(const ConfigTable& table)
{
    QStringList cells;
    cells.reserve(2 * kLastValueRow);
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) cells << table.GetCellText(row, column);
    return cells;
}

void PutValueCells(ConfigTable& table, const QStringList& cells)
{
    qsizetype i = 0;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) table.SetCellText(row, column, cells.value(i++));
}

}  // namespace

ModuleRead::ModuleRead(ConfigTable& table, const LinkPacing& pacing, Reporter report, std::function<bool()> sending)
    : table_(table), pacing_(pacing), report_(std::move(report)), sending_(std::move(sending))
{
}

bool ModuleRead::WantsQuickTicks() const
{
    // Bytes held in a dump wait for the next answer, not for a tick.
    return (!held_.bytes.isEmpty() && !dumping_) || Running() || settling_;
}

// --- what the link tells --------------------------------------------------------

void ModuleRead::PortOpened() { end_ = ReadEnd::None; }

void ModuleRead::OperationBegins()
{
    FinishSettle();
    afterDump_ = false;
    if (!kept_.mayResume) return;
    ForgetGivenBack();
    if (!Running()) dumping_ = false;
}

void ModuleRead::ReadBegins(const ExpectedCodes& expected)
{
    dump_ = Dump{};
    lastRecord_ = -1;
    expected_ = expected;
}

void ModuleRead::RequestGoesOut()
{
    end_ = ReadEnd::Running;
    aliveAt_ = pacing_.Now();
}

void ModuleRead::RequestSent()
{
    KeepTable();
    Table().ClearRange(kFirstValueRow, kOnColumn, kLastValueRow, kOffColumn);
}

void ModuleRead::Arrived(const QVector<ArrivedBytes>& runs)
{
    for (const ArrivedBytes& run : runs) Hold(run);
}

void ModuleRead::LineGone() { JudgeWhole(HeldEnd::Gone); }

void ModuleRead::Tick()
{
    const quint32 now = pacing_.Now();
    if (!held_.bytes.isEmpty() && Span(held_.lastAt, now) >= kQuietMs) {
        JudgeWhole(HeldEnd::Quiet);
        // Seen quiet now, whatever the stamps of later bytes will say: on a
        // busy machine they can be stamped earlier than they came.
        NoteQuiet();
    }
    if (Running() && Span(aliveAt_, now) >= kNoAnswerMs) EndWithoutAnswer();
    // The rest of a fixed answer (or the answer after a record, in a dump
    // nobody waits for any more) is waited for no longer than a read waits.
    if (!held_.bytes.isEmpty() && Span(held_.lastAt, now) >= kNoAnswerMs) JudgeWhole(HeldEnd::Gone);
    const bool settled = Span(lastAfterEnd_, now) >= kSettleMs || Span(dumpEndedAt_, now) >= kNoAnswerMs;
    if (settling_ && held_.bytes.isEmpty() && settled) FinishSettle();
}

void ModuleRead::PortClosed(bool lost)
{
    // Whatever the module had begun to say belongs to the connection just closed.
    held_ = HeldBytes{};
    frontCell_ = -1;
    FinishSettle();
    afterDump_ = false;
    // A dump or an upload cut off by the close would otherwise leave the next
    // connection writing its answers into the table and the bar stuck part-way.
    if (dumping_ || sending_()) {
        dumping_ = false;
        Report({.kind = Kind::Progress, .position = 0});
    }
    if (Running()) end_ = lost ? ReadEnd::PortLost : ReadEnd::PortClosed;
    // A read given back earlier no longer resumes on another connection.
    ForgetGivenBack();
    GiveBackUnfinished();
}

void ModuleRead::EndAtExit()
{
    settling_ = false;
    if (Running()) end_ = ReadEnd::PortClosed;
    GiveBackUnfinished();
}

void ModuleRead::ReadInto(ConfigTable* table)
{
    if (Running()) return;
    into_ = table;
    TableReplaced();
}

void ModuleRead::TableReplaced()
{
    ForgetGivenBack();
    if (!Running()) dumping_ = false;
}

// --- the bytes, held until an answer is whole -------------------------------------

void ModuleRead::NoteQuiet()
{
    // Only the first gap still to be placed matters: what follows a second
    // one is judged once the first is settled.
    if (held_.gapAt < 0 && !held_.bytes.isEmpty()) held_.gapAt = held_.bytes.size();
}

std::optional<Answer> ModuleRead::TakeAnswer(HeldEnd end)
{
    const Cut cut = FrontAnswer(held_, dumping_, end, expected_);
    held_.scannedTo = cut.scannedTo;
    if (cut.gapInsideAddress) held_.gapAt = -1;
    if (cut.length == 0) return std::nullopt;
    const Answer answer = Judge(held_.bytes.left(cut.length), dumping_, cut.doubtful);
    held_.bytes.remove(0, cut.length);
    held_.gapAt = held_.gapAt > cut.length ? held_.gapAt - cut.length : -1;
    held_.scannedTo = 1;
    held_.frontNoted = false;
    return answer;
}

// Judges every held answer that `end` makes whole, following the dump as
// the answers start and end it; a record of a new cell whose address has
// come keeps the read alive from then on, though it is judged only once the
// next answer begins.
void ModuleRead::JudgeWhole(HeldEnd end)
{
    while (const std::optional<Answer> a = TakeAnswer(end)) {
        Apply(*a);
        frontCell_ = -1;  // only the first answer taken can be the record noted at the front
    }
    if (held_.frontNoted || !dumping_) return;
    if (const int key = RecordCellAtFront(held_); key >= 0) {
        held_.frontNoted = true;
        if (!dump_.codes.contains(key)) KeepAlive();
        frontCell_ = key;
    }
}

// Adds one run of arrived bytes to what is held, judging on the way whatever
// a quiet gap, a newer answer or the size limit has made whole.
void ModuleRead::Hold(const ArrivedBytes& run)
{
    const bool afterQuiet = !held_.bytes.isEmpty() && Span(held_.lastAt, run.firstAt) >= kQuietMs;
    if (afterQuiet) JudgeWhole(HeldEnd::Quiet);
    held_.lastAt = run.lastAt;
    for (qsizetype from = 0; from < run.bytes.size();) {
        const int limit = dumping_ ? kMaxHeldInDump : kMaxHeldOutsideDump;
        const qsizetype room = qMax<qsizetype>(1, limit - held_.bytes.size());
        const qsizetype take = qMin(room, run.bytes.size() - from);
        if (afterQuiet && from == 0) NoteQuiet();
        held_.bytes += run.bytes.mid(from, take);
        from += take;
        JudgeWhole(HeldEnd::Waiting);
    }
}

// --- what each answer means -------------------------------------------------------

void ModuleRead::Apply(const Answer& a)
{
    // After its first record a dump holds records and its end: anything else
    // came in place of a record or inside one (an echo before the first
    // record is an adapter hearing its own sending, or the module's echo after it).
    const bool amongRecords = dumping_ && RecordsCame();
    switch (a.kind) {
    case Answer::Kind::EnterEcho:
    case Answer::Kind::ExitEcho:
        if (amongRecords) return ApplyStray(a.bytes);
        Report({.kind = a.kind == Answer::Kind::EnterEcho ? Kind::EnterEcho : Kind::ExitEcho});
        return;
    case Answer::Kind::DumpStart:
        // In the settle time, bytes of a code that came after the dump end's bytes.
        if (amongRecords || settling_) return ApplyStray(a.bytes);
        ApplyDumpStart(a);
        return;
    case Answer::Kind::DumpEnd: ApplyDumpEnd(); return;
    case Answer::Kind::Record: ApplyRecord(a); return;
    case Answer::Kind::Unrecognised: ApplyStray(a.bytes); return;
    }
}

// Progress came (the dump start, a record of a new cell): the read is alive.
void ModuleRead::KeepAlive()
{
    if (Running()) aliveAt_ = pacing_.Now();
}

void ModuleRead::MarkDoubtful(int key)
{
    if (!dump_.doubtful.contains(key)) dump_.doubtful << key;
}

// Bytes that are no answer of the module's. In a dump they came in place of
// a record (one may be lost: the dump can vouch for no empty cell) or inside
// one (the code before them may be cut or be theirs in part); in the settle
// time after its end, the dump did not end where it said.
void ModuleRead::ApplyStray(const QByteArray& bytes)
{
    dump_.strayBytes = true;
    if (dumping_ || afterDump_) dump_.strayAt << int(dump_.order.size());
    if (dumping_) {
        dump_.whole = false;
        if (RecordsCame()) MarkDoubtful(lastRecord_);
    } else if (afterDump_) {
        // After the dump end, before the next frame: the dump end may have
        // been bytes of the last record's code.
        dump_.whole = false;
        if (RecordsCame()) MarkDoubtful(lastRecord_);
        // The settle time runs on from the last of them (a dump goes on after bytes of a code that were a dump end).
        if (settling_) lastAfterEnd_ = pacing_.Now();
        const Answer late = Judge(bytes, true, true);
        if (late.kind == Answer::Kind::Record) MarkDoubtful(CellKey(late.row, late.column));
    }
    Report({.kind = Kind::Unrecognised, .bytes = bytes});
}

void ModuleRead::ApplyDumpStart(const Answer& a)
{
    // One dump start again before any record (an adapter that hears its own
    // sending brings the request back first) is no progress; nor does it
    // take up a read given back.
    const bool again = dumping_ && (Running() || kept_.mayResume);
    if (again && !Running()) {
        Report({.kind = Kind::Unrecognised, .bytes = a.bytes});
        return;
    }
    ResumeIfGivenBack();
    // A dump the module began by itself must end too, and gives the table
    // back like a read when it does not.
    if (!Running()) {
        KeepTable();
        end_ = ReadEnd::Running;
    }
    if (!again) aliveAt_ = pacing_.Now();
    FinishSettle();
    afterDump_ = false;
    dumping_ = true;
    // The dump start again keeps what came since the first: bytes before it
    // may have been a first record gone wrong, whose code held its bytes.
    if (!again) dump_ = Dump{.started = true};
    lastRecord_ = -1;
    Report({.kind = Kind::DumpStarted});
    Report({.kind = Kind::Progress, .position = 1});
}

void ModuleRead::ApplyDumpEnd()
{
    // A dump end after a dump end: the first may have been bytes of the last
    // record's code. It ends nothing; it casts doubt on that record.
    if (!dumping_ && afterDump_) return ApplyStray(FixedFrameBytes(DumpEndFrame));
    ResumeIfGivenBack();
    const bool started = dumping_;
    dumping_ = false;
    if (started) {
        // Told once the line has had the settle time to show the dump did
        // not end there: its doubt is whole by then.
        settling_ = true;
        afterDump_ = true;
        dumpEndedAt_ = lastAfterEnd_ = pacing_.Now();
    } else {
        // Marks left from an earlier dump say nothing about a dump end that follows no start.
        Report({.kind = Kind::DumpEnded, .dumpStarted = false});
        Report({.kind = Kind::Progress, .position = 0});
    }
    if (Running()) {
        if (started) {
            end_ = ReadEnd::Complete;
            KeepResult();
        } else {
            // A dump end with no dump start is no dump: it ends nothing the table could hold.
            end_ = ReadEnd::NoDump;
            GiveBackUnfinished();
        }
    }
    // An operation that is sending keeps the buttons until it ends; it
    // gives them back itself, as the state then allows.
    if (!started && !sending_()) Report({.kind = Kind::ModuleFree});
}

// The settle time after a dump end is over (or cut short): the dump is told
// as it stands, with every cell it casts doubt on.
void ModuleRead::FinishSettle()
{
    if (!settling_) return;
    settling_ = false;
    ModuleEvent e{.kind = Kind::DumpEnded, .dumpStarted = true, .whole = dump_.whole};
    for (int key : dump_.doubtful) e.doubtful << CellOfKey(key);
    Report(e);
    Report({.kind = Kind::Progress, .position = 0});
    if (!sending_()) Report({.kind = Kind::ModuleFree});
}

void ModuleRead::ApplyRecord(const Answer& a)
{
    const int key = CellKey(a.row, a.column);
    const bool again = dump_.codes.contains(key);
    if (again && kept_.mayResume) {
        // A read given back goes on only for news: a record repeated is shown, not placed.
        Report({.kind = Kind::Unrecognised, .bytes = FrameLayout::kAnswerMarker + char(a.row) + char(a.column) + a.bytes});
        return;
    }
    ResumeIfGivenBack();
    // Counted once: when its address came, or now that it came whole in one go.
    if (!again && key != frontCell_) KeepAlive();
    // Two records naming one cell: a code was cut where it held an address,
    // the same way in every dump, so agreement between dumps cannot catch it.
    if (a.doubtful || again) MarkDoubtful(key);
    dump_.codes.insert(key, a.bytes);
    dump_.order << key;
    lastRecord_ = key;
    const int position = RecordPosition(a.row);
    const QString code = BytesToHex(a.bytes);
    Table().SetCellText(a.row, a.column, code);
    Report({.kind = Kind::Progress, .position = position});
    Report({.kind = Kind::Record, .cell = {a.row, a.column}, .bytes = a.bytes});
}

// An answer of a dump that was given back after 3 s without one: the module
// went on after all, and so does the read.
void ModuleRead::ResumeIfGivenBack()
{
    if (!kept_.mayResume) return;
    // Edits made to the given-back table are what a later give-back returns.
    kept_.cells = ValueCells(Table());
    GatherIntoOneStep();
    PutValueCells(Table(), kept_.unfinished);
    ForgetGivenBack();
    Report({.kind = Kind::ReadResumed});
    end_ = ReadEnd::Running;
    aliveAt_ = pacing_.Now();
}

// The module left the read unanswered: the table goes back as it was; a
// dump that had begun is still listened to, so that records still coming
// resume the read.
void ModuleRead::EndWithoutAnswer()
{
    // What is held is the module's last word: placed (the table is still the
    // read's) or shown now, never later as if it had just come.
    JudgeWhole(HeldEnd::Gone);
    Report({.kind = Kind::ReadUnanswered});
    end_ = ReadEnd::NoAnswer;
    Report({.kind = Kind::Progress, .position = 0});
    if (!sending_()) Report({.kind = Kind::ModuleFree});
    GiveBackUnfinished();
}

// --- the table from before the read ----------------------------------------------

// Before a read empties the value cells (or a dump the module began by
// itself fills them).
void ModuleRead::KeepTable()
{
    kept_.cells = ValueCells(Table());
    GatherIntoOneStep();
    ForgetGivenBack();
}

// What the read writes from here on, however many ticks it takes, is one undo
// step; so is its giving back, which then leaves no step at all.
void ModuleRead::GatherIntoOneStep()
{
    Table().History().BeginRead([this] { return kept_.tableIsRead; });
    kept_.tableIsRead = true;
}

// The read completed: the table holds its result for good, and the table's
// undo history is what can take it back.
void ModuleRead::KeepResult()
{
    kept_.tableIsRead = false;
    kept_.cells.clear();  // a copy of the whole table, of no more use
    ForgetGivenBack();
}

// A read that has not completed gives the table back as it was before it,
// and says so; nothing happens when the table is not the read's. After a
// read left unanswered, its cells are kept so the read can resume.
void ModuleRead::GiveBackUnfinished()
{
    if (!kept_.tableIsRead) return;
    kept_.mayResume = end_ == ReadEnd::NoAnswer;
    if (kept_.mayResume) kept_.unfinished = ValueCells(Table());
    PutValueCells(Table(), kept_.cells);
    kept_.tableIsRead = false;  // only now: the cells given back belong to the read's undo step
    Report({.kind = Kind::TableGivenBack});
}

void ModuleRead::ForgetGivenBack()
{
    kept_.mayResume = false;
    kept_.unfinished.clear();
}
