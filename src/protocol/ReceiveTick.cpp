#include "protocol/ReceiveTick.h"

#include "core/Program.h"
#include "config/ConfigTable.h"
#include "core/TableLayout.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
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

const KnownAnswers& Known()
{
    static const KnownAnswers answers;
    return answers;
}

// True, with its kind, when the bytes are exactly one of the four known answers.
bool ExactAnswer(const QByteArray& bytes, Answer::Kind& kind)
{
    const KnownAnswers& known = Known();
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

bool EndsHeldAnswer(const QByteArray& held, const QByteArray& arrived, bool extracting)
{
    if (held.isEmpty() || !arrived.startsWith(kRecordMarker)) return false;
    Answer::Kind kind;
    if (ExactAnswer(held, kind)) return true;
    return extracting && held.size() > 4 && held.startsWith(kRecordMarker);
}

QVector<Answer> JudgeHeldAnswer(const QByteArray& held, bool extracting)
{
    QVector<Answer> answers;
    QByteArray rest = held;
    const qsizetype frame = Known().dumpStart.size();

    // The first record sent straight behind the dump start: without the
    // split, the whole dump would be shown as hex and never fill a cell.
    if (rest.size() > frame && rest.startsWith(Known().dumpStart) && rest.mid(frame).startsWith(kRecordMarker)) {
        answers << JudgeChunk(rest.left(frame), extracting);
        extracting = FollowExtraction(answers.last(), extracting);
        rest.remove(0, frame);
    }

    // The dump end sent straight behind the last record: without the split,
    // it would become part of that record's code and the dump would never end.
    if (extracting && rest.size() > frame && rest.endsWith(Known().dumpEnd)) {
        answers << JudgeChunk(rest.left(rest.size() - frame), extracting);
        extracting = FollowExtraction(answers.last(), extracting);
        answers << JudgeChunk(Known().dumpEnd, extracting);
        return answers;
    }

    answers << JudgeChunk(rest, extracting);
    return answers;
}

void ApplyAnswer(Program& p, const Answer& a)
{
    switch (a.kind) {
    case Answer::Kind::EnterEcho:
        AppendLog(p, QStringLiteral("模块进入配置模式\r\n"));
        return;
    case Answer::Kind::ExitEcho:
        AppendLog(p, QStringLiteral("模块退出配置模式\r\n"));
        return;
    case Answer::Kind::DumpStart:
        AppendLog(p, QStringLiteral("开始从模块提取数据\r\n"));
        p.state.extracting = true;
        p.ui.SetPosition(Control::ProgressBar1, 1);
        return;
    case Answer::Kind::DumpEnd:
        AppendLog(p, QStringLiteral("数据提取完成\r\n"));
        p.state.extracting = false;
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

void JudgeHeld(Program& p)
{
    const QByteArray held = p.state.heldAnswer;
    p.state.heldAnswer.clear();
    for (const Answer& a : JudgeHeldAnswer(held, p.state.extracting)) ApplyAnswer(p, a);
}

// Judges what is held once the line has been quiet long enough.
void JudgeHeldIfQuiet(Program& p)
{
    if (p.state.heldAnswer.isEmpty()) return;
    if (quint32(p.ui.TickCount() - p.state.heldAnswerAt) < kQuietMs) return;
    JudgeHeld(p);
}

}  // namespace

void ReceiveTick(Program& p)
{
    if (!p.state.portOpen) {
        // Whatever was half received belongs to a line that is gone.
        p.state.heldAnswer.clear();
        return;
    }
    const int waiting = p.serial.sio_iqueue(p.state.portNumber);
    if (waiting <= 0) {
        // Nothing new: once the line has been quiet, what is held is a whole answer.
        JudgeHeldIfQuiet(p);
        return;
    }
    QByteArray buffer(waiting, '\0');
    const int read = p.serial.sio_read(p.state.portNumber, buffer.data(), waiting);
    if (read <= 0) {
        JudgeHeldIfQuiet(p);
        return;
    }
    const QByteArray arrived(buffer.constData(), qMin(read, waiting));
    if (EndsHeldAnswer(p.state.heldAnswer, arrived, p.state.extracting)) JudgeHeld(p);
    p.state.heldAnswer.append(arrived);
    p.state.heldAnswerAt = p.ui.TickCount();
    if (p.state.heldAnswer.size() >= kMaxHeldAnswer) JudgeHeld(p);
}
