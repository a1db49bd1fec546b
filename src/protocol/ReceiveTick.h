#pragma once
// The receive timer's handler: the program's only reader of the port, and the
// judging of what the module answers.
//
// The module's answers carry no length, so where one ends is read from the
// line: an answer ends where the line went quiet for kQuietMs between two
// arrivals of bytes, and, while a dump runs, also just before every record
// address (F4 F7, a value row, a code column) and around a dump end, so
// records sent with no quiet between them still come apart.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <QVector>

struct Program;

// What one whole answer of the module means to the program.
struct Answer {
    enum class Kind { EnterEcho, ExitEcho, DumpStart, DumpEnd, Record, Unrecognised };
    Kind kind = Kind::Unrecognised;
    int row = 0;           // Record: the value cell it fills
    int column = 0;
    QString codeText;      // Record: the code in BytesToHex form
    int position = 0;      // Record: where the progress bar goes
    QString hexText;       // Unrecognised: BytesToHex of the whole chunk
};

// Judges one chunk as a whole: the four exact answers, a record (more than
// 4 bytes, F4 F7 first, a dump running, addressed to a value cell), or hex.
Answer JudgeChunk(const QByteArray& chunk, bool extracting);

// Cuts bytes received with no quiet time inside them into answers and judges
// each, following the extraction flag from answer to answer (starting from
// `extracting`). Outside a dump the bytes are one answer, except that a dump
// start followed by a record is split off. During a dump a new answer begins
// at every record address and at a dump end, and a dump end is split off
// whatever follows it. With `lineQuiet` false the last answer may still be
// arriving: it is not judged but left in `*unfinished`, unless it is a dump
// end ending a dump, which is whole once its bytes are in.
QVector<Answer> SplitIntoAnswers(const QByteArray& bytes, bool extracting, bool lineQuiet,
                                 QByteArray* unfinished = nullptr);

// Carries one answer out on the log, the table, the bar, the flag and the read's outcome.
void ApplyAnswer(Program& p, const Answer& answer);

// Progress position for a record of row byte `row` (0 … 255).
int RecordPosition(int row);

// The line counts as quiet once no byte has arrived for this long. A USB
// adapter holds bytes back for up to 16 ms (its latency timer) and hands them
// over at once, so one answer may arrive in pieces 16 ms apart; the rest is
// room for the adapter's frame timing and for the event loop noting the
// arrival late on a busy machine.
constexpr int kQuietMs = 30;

// Held bytes are judged at once when they reach this size, quiet line or not,
// so a line that never goes quiet gives log lines of bounded length and holds
// bounded memory. A dump's records are cut apart long before.
constexpr int kMaxHeldOutsideDump = 4 * 1024;
constexpr int kMaxHeldInDump = 64 * 1024;

// A read gives up when no dump start came this long after the request, or the
// dump has said nothing for this long.
constexpr int kNoAnswerMs = 3000;

// The receive timer's interval while the port is open and nothing is under
// way (nothing held, no read, no operation): a slow look, since arriving
// bytes and a lost device bring the quick pace back by themselves.
constexpr int kIdleTickMs = 500;

// The tick: takes every byte that arrived, with its arrival time, and judges
// the answers that are complete; notices a device that went away (closes the
// port, ClosePortOnLoss) and a read the module leaves unanswered (logs
// "模块无应答", ends the dump, gives the buttons back, ReadEnd::NoAnswer);
// then sets the timer's pace for what is left to do. Reads nothing while the
// port is closed.
void ReceiveTick(Program& p);
