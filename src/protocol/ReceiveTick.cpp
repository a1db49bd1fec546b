#include "protocol/ReceiveTick.h"

#include "core/Program.h"
#include "core/Texts.h"
#include "config/ConfigTable.h"
#include "core/TableLayout.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"

namespace {

// The four answers recognised by their exact bytes. The module echoes the
// enter and exit frames and opens its dump with the very bytes of the read request.
struct KnownAnswers {
    QByteArray enterEcho = FixedFrameBytes(EnterConfigFrame);
    QByteArray exitEcho = FixedFrameBytes(ExitConfigFrame);
    QByteArray dumpStart = FixedFrameBytes(ReadRequestFrame);
    QByteArray dumpEnd = FixedFrameBytes(DumpEndFrame);
};

const KnownAnswers& KnownAnswerBytes()
{
    static const KnownAnswers answers;
    return answers;
}

// True, with its kind, when the bytes are exactly one of the four known answers.
bool ExactAnswer(const QByteArray& bytes, Answer::Kind& kind)
{
    const KnownAnswers& known = KnownAnswerBytes();
    if (bytes == known.enterEcho) kind = Answer::Kind::EnterEcho;
    else if (bytes == known.exitEcho) kind = Answer::Kind::ExitEcho;
    else if (bytes == known.dumpStart) kind = Answer::Kind::DumpStart;
    else if (bytes == known.dumpEnd) kind = Answer::Kind::DumpEnd;
    else return false;
    return true;
}

constexpr char kRecordMarker[] = "\xF4\xF7";

Answer Unrecognised(const QByteArray& chunk)
{
    Answer a;
    a.kind = Answer::Kind::Unrecognised;
    a.hexText = BytesToHex(chunk);
    return a;
}

bool FollowExtraction(const Answer& a, bool extracting)
{
    if (a.kind == Answer::Kind::DumpStart) return true;
    if (a.kind == Answer::Kind::DumpEnd) return false;
    return extracting;
}

}  // namespace

int RecordPosition(int row)
{
    using namespace TableLayout;
    if (row >= kFirstSceneRow) return row;
    if (row % 2 == 1) return (row + 1) / 2;
    return row / 2 + kSwitches;
}

Answer JudgeChunk(const QByteArray& chunk, bool extracting)
{
    Answer a;
    if (ExactAnswer(chunk, a.kind)) return a;
    if (extracting && chunk.size() > 4 && chunk.startsWith(kRecordMarker)) {
        const QString hex = BytesToHex(chunk);
        const QString compact = QString(hex).remove(QLatin1Char(' '));
        const int row = HexPairToByte(compact.mid(4, 2));
        const int column = HexPairToByte(compact.mid(6, 2));
        // A record naming a header, a title or no cell at all is not the
        // module's data; show it rather than let it overwrite the layout.
        if (!TableLayout::IsValueCell(row, column)) return Unrecognised(chunk);
        a.kind = Answer::Kind::Record;
        a.row = row;
        a.column = column;
        a.codeText = hex.mid(12);
        a.position = RecordPosition(row);
        return a;
    }
    return Unrecognised(chunk);
}

namespace {

// True when a record of the module's dump begins at `at`: the marker and the
// address of a value cell. Codes are arbitrary bytes, so such four bytes
// inside a code cut it too; for random bytes that is about one position in
// twenty million, and without cutting, records sent back to back are
// certainly wrong.
bool RecordBeginsAt(const QByteArray& bytes, qsizetype at)
{
    if (at + 4 > bytes.size() || quint8(bytes[at]) != 0xF4 || quint8(bytes[at + 1]) != 0xF7) return false;
    return TableLayout::IsValueCell(quint8(bytes[at + 2]), quint8(bytes[at + 3]));
}

// During a dump: where the next answer begins after the one that begins at
// `from` (a record address or a dump end), or -1 when none is in sight yet.
qsizetype NextAnswerInDump(const QByteArray& bytes, qsizetype from)
{
    const QByteArrayView all(bytes);
    const QByteArray& dumpEnd = KnownAnswerBytes().dumpEnd;
    // A dump end is whole once its nine bytes are in, with no need to wait
    // for quiet: whatever follows it no longer belongs to the dump.
    if (all.sliced(from).startsWith(dumpEnd)) return from + dumpEnd.size();
    // One pass up to the first cut, so a long run of answers costs no more than its length.
    for (qsizetype at = from + 1; at < bytes.size(); ++at)
        if (RecordBeginsAt(bytes, at) || all.sliced(at).startsWith(dumpEnd)) return at;
    return -1;
}

}  // namespace

QVector<Answer> SplitIntoAnswers(const QByteArray& bytes, bool extracting, bool lineQuiet, QByteArray* unfinished)
{
    QVector<Answer> answers;
    const QByteArray& dumpStart = KnownAnswerBytes().dumpStart;
    qsizetype from = 0;
    for (;;) {
        qsizetype next = -1;
        // The first record sent straight behind the dump start: without the
        // split, the whole dump would be shown as hex and never fill a cell.
        const QByteArrayView rest = QByteArrayView(bytes).sliced(from);
        if (rest.startsWith(dumpStart) && rest.sliced(dumpStart.size()).startsWith(kRecordMarker))
            next = from + dumpStart.size();
        else if (extracting)
            next = NextAnswerInDump(bytes, from);
        if (next < 0) break;
        answers << JudgeChunk(bytes.mid(from, next - from), extracting);
        extracting = FollowExtraction(answers.last(), extracting);
        from = next;
    }
    const QByteArray last = bytes.mid(from);
    if (lineQuiet) {
        if (!last.isEmpty()) answers << JudgeChunk(last, extracting);
    } else if (unfinished) {
        *unfinished = last;
    }
    return answers;
}

void ApplyAnswer(Program& p, const Answer& a)
{
    // A dump that moves on keeps its read alive; before the dump start only
    // the dump start itself counts as the module answering the request.
    if (p.state.extracting || a.kind == Answer::Kind::DumpStart) p.state.readAliveAt = p.ui.TickCount();

    switch (a.kind) {
    case Answer::Kind::EnterEcho:
        AppendLog(p, Texts::tr("模块进入配置模式") + QStringLiteral("\r\n"));
        return;
    case Answer::Kind::ExitEcho:
        AppendLog(p, Texts::tr("模块退出配置模式") + QStringLiteral("\r\n"));
        return;
    case Answer::Kind::DumpStart:
        AppendLog(p, Texts::tr("开始从模块提取数据") + QStringLiteral("\r\n"));
        p.state.extracting = true;
        // A dump the module began by itself must end too.
        p.state.readEnd = ReadEnd::Running;
        p.ui.SetPosition(Control::ProgressBar1, 1);
        return;
    case Answer::Kind::DumpEnd:
        AppendLog(p, Texts::tr("数据提取完成") + QStringLiteral("\r\n"));
        p.state.extracting = false;
        if (p.state.readEnd == ReadEnd::Running) p.state.readEnd = ReadEnd::Complete;
        p.ui.SetPosition(Control::ProgressBar1, 0);
        // An operation that is sending keeps the buttons until it ends; it
        // gives them back itself, as the state then allows.
        if (!p.state.operationRunning) EnableModuleButtons(p);
        return;
    case Answer::Kind::Record:
        p.table.SetCellText(a.row, a.column, a.codeText);
        p.ui.SetPosition(Control::ProgressBar1, a.position);
        return;
    case Answer::Kind::Unrecognised:
        AppendLog(p, a.hexText + QStringLiteral("\r\n"));
        p.ui.MoveCaretToEnd(Control::Edit_Display);
        return;
    }
}

namespace {

// Milliseconds from `earlier` to `later` on the wrapping 32-bit clock; a
// negative span (stamps a millisecond out of order) counts as none.
int Span(quint32 earlier, quint32 later) { return qMax(0, qint32(later - earlier)); }

void ApplyAll(Program& p, const QVector<Answer>& answers)
{
    for (const Answer& a : answers) ApplyAnswer(p, a);
}

// The line went quiet after what is held: every answer in it is whole.
void JudgeEverythingHeld(Program& p)
{
    const QByteArray held = std::exchange(p.state.heldAnswer, QByteArray());
    if (!held.isEmpty()) ApplyAll(p, SplitIntoAnswers(held, p.state.extracting, true));
}

// Judges the answers a newer one has already followed; the last stays held.
void JudgeAnswersAlreadyFollowed(Program& p)
{
    QByteArray rest;
    const QVector<Answer> done = SplitIntoAnswers(p.state.heldAnswer, p.state.extracting, false, &rest);
    if (done.isEmpty()) return;
    p.state.heldAnswer = rest;
    ApplyAll(p, done);
}

int HeldLimit(const Program& p) { return p.state.extracting ? kMaxHeldInDump : kMaxHeldOutsideDump; }

// Adds one run of arrived bytes to what is held, judging on the way whatever
// a quiet gap, a newer answer or the size limit has made whole.
void Hold(Program& p, const ArrivedBytes& run)
{
    if (!p.state.heldAnswer.isEmpty() && Span(p.state.heldAnswerAt, run.firstAt) >= kQuietMs)
        JudgeEverythingHeld(p);
    p.state.heldAnswerAt = run.lastAt;
    for (qsizetype from = 0; from < run.bytes.size();) {
        const qsizetype room = qMax<qsizetype>(1, HeldLimit(p) - p.state.heldAnswer.size());
        const qsizetype take = qMin(room, run.bytes.size() - from);
        p.state.heldAnswer += run.bytes.mid(from, take);
        from += take;
        JudgeAnswersAlreadyFollowed(p);
        if (p.state.heldAnswer.size() >= HeldLimit(p)) JudgeEverythingHeld(p);
    }
}

// The module left the read unanswered: what came is kept, the rest is given up.
void EndReadWithoutAnswer(Program& p)
{
    AppendLog(p, Texts::tr("模块无应答") + QStringLiteral("\r\n"));
    p.state.readEnd = ReadEnd::NoAnswer;
    p.state.extracting = false;
    p.ui.SetPosition(Control::ProgressBar1, 0);
    if (!p.state.operationRunning) EnableModuleButtons(p);
}

bool ReadOverdue(const Program& p)
{
    // Bytes still held arrived less than a quiet time ago: the module is talking.
    return p.state.readEnd == ReadEnd::Running && p.state.heldAnswer.isEmpty()
        && Span(p.state.readAliveAt, p.ui.TickCount()) >= kNoAnswerMs;
}

// Quick ticks while anything is under way, a slow look otherwise.
void PaceTimer(Program& p)
{
    const bool busy = !p.state.heldAnswer.isEmpty() || p.state.readEnd == ReadEnd::Running || p.state.extracting
        || p.state.operationRunning;
    p.ui.SetInterval(Control::Timer_ReceiveData, busy ? kReceiveTickMs : kIdleTickMs);
}

}  // namespace

void ReceiveTick(Program& p)
{
    if (!p.state.portOpen) {
        // Whatever was half received belongs to a line that is gone.
        p.state.heldAnswer.clear();
        return;
    }
    QVector<ArrivedBytes> runs;
    const int result = p.serial.ReadArrivals(p.state.portNumber, runs);
    for (const ArrivedBytes& run : runs) Hold(p, run);
    if (PortWasLost(result)) {
        // What the module said before the line went is as good as ever.
        JudgeEverythingHeld(p);
        ClosePortOnLoss(p);
        return;
    }
    if (!p.state.heldAnswer.isEmpty() && Span(p.state.heldAnswerAt, p.ui.TickCount()) >= kQuietMs)
        JudgeEverythingHeld(p);
    if (ReadOverdue(p)) EndReadWithoutAnswer(p);
    PaceTimer(p);
}
