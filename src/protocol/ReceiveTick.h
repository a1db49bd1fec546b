#pragma once
// The receive timer's handler: the program's only reader of the port, and the
// judging of what the module answers.

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

// Judges everything held since the line was last quiet. Usually one chunk;
// a dump start run together with the first record, or a dump end run on
// behind the last record, is judged as two answers so the dump neither
// fails to start nor stays unfinished. The extraction flag is followed
// from answer to answer starting from `extracting`.
QVector<Answer> JudgeHeldAnswer(const QByteArray& held, bool extracting);

// True when bytes that have just arrived open a new answer, so what is held
// is judged now rather than once the line goes quiet: a read that starts with
// the record marker behind a whole control frame, or behind a record while a
// dump runs. A module that paces its records closer than the quiet time
// would otherwise have them run together. (A code that happens to hold F4 F7
// exactly where a read begins is split there; that is far rarer than records
// a few milliseconds apart.)
bool EndsHeldAnswer(const QByteArray& held, const QByteArray& arrived, bool extracting);

// Carries one answer out on the log, the table, the bar and the flag.
void ApplyAnswer(Program& p, const Answer& answer);

// Progress position for a record of row byte `row` (0 … 255).
int RecordPosition(int row);

// The line counts as quiet once nothing new has come for this long: most of
// a tick interval, eight byte times at 9600 baud. Measured by the clock, not
// by counting ticks, because a late tick is followed by an early one that
// would otherwise find a record's next bytes not yet there.
constexpr quint32 kQuietMs = 8;

// Held bytes are judged at once when they reach this size, quiet line or not,
// so a line that never goes quiet cannot grow them without end.
constexpr int kMaxHeldAnswer = 1 << 20;

// The tick: reads what is waiting and holds it; once a tick reads nothing new
// and the line has been quiet for kQuietMs, the held bytes are judged as one
// answer. Reads nothing while the port is closed.
void ReceiveTick(Program& p);
