#pragma once
// The read of the module, kept in one place: whether a read runs and how the
// last one ended, the dump under way (the dump flag, the codes and marks of
// the dump), the module's bytes held until an answer is whole, and the table
// as it was before the read, given back when the read does not complete.
// Nothing else changes any of it. The module link hands it the bytes its
// receive tick takes and tells it what the link did (a request sent, the
// port closed); it writes the module's codes into the table and tells what
// the module answered as events.

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

#include "core/ModuleEvents.h"
#include "protocol/AnswerFraming.h"

class ConfigTable;
class LinkPacing;
struct ArrivedBytes;

// How the latest read of the module ended, or that it is still running.
enum class ReadEnd {
    None,        // no read since the port was opened
    Running,     // the read request went out (or the module began a dump); the dump has not ended yet
    Complete,    // the dump end arrived after a dump start
    NoAnswer,    // no dump start within 3 s of the request, or no record of a new cell for 3 s
    PortLost,    // the device went away during the read
    PortClosed,  // the port was closed (or the program ended) during the read
    NoDump,      // a dump end came with no dump start before it
};

// One dump as the read heard it: what it brought for each value cell, and
// the cells whose codes may be wrong. The value a read hands over for
// confirming codes against other dumps.
struct Dump {
    bool started = false;     // the dump start came
    bool strayBytes = false;  // bytes that were no answer of the module came during the read
    // Nothing but records of value cells and known answers came in it (bar
    // an echo or a repeated dump start before its first record), nor in the
    // settle time after its end: a cell no record named is empty in the
    // module. Otherwise a record may have been lost to the bytes that came.
    bool whole = true;
    QHash<int, QByteArray> codes = {};  // TableLayout::CellKey -> code; a cell no record named is empty
    QVector<int> doubtful = {};         // the same keys, in the order they became doubtful
    QVector<int> order = {};            // the keys of its records as they came (a cell named twice, twice)
    // Where bytes that were no record came, each as the number of records
    // before them: 0 between the dump start and the first record,
    // order.size() after the last (up to the end of the settle time and on).
    QVector<int> strayAt = {};
};

// The value cells as they stood before the read emptied them, kept until the
// read completes; and after a read given back, what it had filled.
struct KeptTable {
    QStringList cells;         // row by row, "开" before "关"; empty while nothing is kept
    bool tableIsRead = false;  // the table holds the running read's cells
    // Given back after the 3 s without an answer: the cells the read had
    // filled, for a module that goes on before the next operation or a close.
    QStringList unfinished;
    bool mayResume = false;
};

// Progress position for a record of row byte `row` (0 … 255).
int RecordPosition(int row);

// The line counts as quiet once no byte has arrived for this long. A USB
// adapter holds bytes back for up to 16 ms (its latency timer) and hands them
// over at once, so one answer may arrive in pieces 16 ms apart; the rest is
// room for the adapter's frame timing and for the event loop noting the
// arrival late on a busy machine.
constexpr int kQuietMs = 30;

// A read gives up when its dump has not started this long after the request,
// or no record of a cell new to the dump has begun this long: progress keeps
// a read alive, not any byte (stray bytes, echoes, repeated records do not).
// Bytes that begin a fixed answer wait as long for the rest.
constexpr int kNoAnswerMs = 3000;

// After a dump end, a dump is told (DumpEnded) and taken for confirming only
// once the line has had this long to show that it did not end there: a
// record, bytes that are no known answer or another dump end arriving
// meanwhile make the dump no whole one, and its last record doubtful (the
// dump end may have been bytes of its code); the settle time then runs on
// from the last of them (a dump start among them is no new dump), for at
// most kNoAnswerMs after the dump end.
constexpr int kSettleMs = 100;

class ModuleRead {
public:
    using Reporter = std::function<void(const ModuleEvent&)>;
    // `sending`: whether another operation is sending; it keeps the module
    // buttons until it ends, so a dump ending meanwhile does not free them.
    ModuleRead(ConfigTable& table, const LinkPacing& pacing, Reporter report, std::function<bool()> sending);

    ReadEnd End() const { return end_; }
    bool Running() const { return end_ == ReadEnd::Running; }
    // The module is dumping its data (between its dump start and dump end).
    bool Dumping() const { return dumping_; }
    const HeldBytes& Held() const { return held_; }
    // The dump of the latest read, as far as it came.
    const Dump& LastDump() const { return dump_; }
    // The dump ended less than kSettleMs ago (or bytes that came since are
    // not judged yet): what arrives may still show it did not end whole.
    bool Settling() const { return settling_; }
    // True while bytes wait for the line to go quiet or a read runs: the
    // receive tick should look often.
    bool WantsQuickTicks() const;

    // --- what the link tells it ---------------------------------------------------
    // A port was opened: no read on it yet.
    void PortOpened();
    // An operation begins (a read among them): a read given back after going
    // unanswered no longer resumes, and its dump is no longer listened to.
    void OperationBegins();
    // A read begins: its dump is heard from nothing; records of the cells in
    // `expected` that bring exactly their code are taken whole.
    void ReadBegins(const ExpectedCodes& expected = {});
    // The read request goes out now: the read runs, alive from now.
    void RequestGoesOut();
    // The request went out: the table is kept as it is, then every value cell emptied.
    void RequestSent();
    // Bytes the receive tick took, as they arrived.
    void Arrived(const QVector<ArrivedBytes>& runs);
    // Nothing more will come (the device went away): whatever is held is judged.
    void LineGone();
    // The receive tick: judges what the quiet has made whole (and what waited
    // for the rest of a fixed answer past the deadline), and ends a read the
    // module leaves without progress (what is held placed or shown at once,
    // ReadUnanswered; the table given back, ReadEnd::NoAnswer; records of new
    // cells that still come before the next operation or a close resume it).
    void Tick();
    // The port closed (`lost`: its device went away): what is held is
    // dropped, an unfinished dump and a running read end, and the table of
    // a read that had not completed is given back.
    void PortClosed(bool lost);
    // The program ends: a read that has not completed gives the table back.
    void EndAtExit();
    // Another table took the place of the one the read started on: a read
    // given back no longer resumes, and a dump no read waits for is no longer
    // heard, so nothing of it goes into the new table. Only while no read runs.
    void TableReplaced();
    // The reads from now on write into `table` (nullptr: the table the read
    // was made with), as after TableReplaced. Only while no read runs.
    void ReadInto(ConfigTable* table);

private:
    ConfigTable& Table() const { return into_ ? *into_ : table_; }
    std::optional<Answer> TakeAnswer(HeldEnd end);
    void JudgeWhole(HeldEnd end);
    void Hold(const ArrivedBytes& run);
    void NoteQuiet();
    void Apply(const Answer& answer);
    void ApplyDumpStart(const Answer& answer);
    void ApplyDumpEnd();
    void FinishSettle();
    void ApplyRecord(const Answer& answer);
    void ApplyStray(const QByteArray& bytes);
    bool RecordsCame() const { return lastRecord_ >= 0; }
    void MarkDoubtful(int key);
    void KeepAlive();
    void ResumeIfGivenBack();
    void EndWithoutAnswer();
    void KeepTable();
    void GatherIntoOneStep();
    void KeepResult();
    void GiveBackUnfinished();
    void ForgetGivenBack();
    void Report(const ModuleEvent& event) { report_(event); }

    ConfigTable& table_;
    ConfigTable* into_ = nullptr;
    const LinkPacing& pacing_;
    Reporter report_;
    std::function<bool()> sending_;

    ReadEnd end_ = ReadEnd::None;
    bool dumping_ = false;
    // Clock when the read request went out, the dump started, or a record of
    // a cell new to the dump began; the read gives up 3 s after the last.
    quint32 aliveAt_ = 0;
    HeldBytes held_;
    Dump dump_;
    int lastRecord_ = -1;  // the key of the dump's latest record; -1 before its first
    int frontCell_ = -1;   // the cell of the record whose address, held at the front, counted as progress
    bool settling_ = false;
    bool afterDump_ = false;  // a dump ended, and no operation has begun since
    quint32 dumpEndedAt_ = 0;
    quint32 lastAfterEnd_ = 0;  // clock of the dump end, or of the last bytes after it in the settle time
    ExpectedCodes expected_;
    KeptTable kept_;
};
