#pragma once
// Where one answer of the module ends and the next begins. The answers carry
// no length, so they are told apart by their structure:
//
// - the four fixed answers (enter echo, exit echo, dump start, dump end) are
//   whole the moment their nine bytes are in, wherever they stand, inside a
//   dump or outside; what follows them starts a new answer;
// - in a dump, a record runs from its address (F4 F7, a row, a column) to the
//   next address or fixed answer, never to a quiet gap alone. Any F4 F7 ends
//   the code before it: one that names no value cell is no record of the
//   module's but bytes of a code that held them, or of a record gone wrong.
//   Bytes that came after a quiet gap and begin neither are stray: they
//   belong to no code, and the code before them may be wrong; but after a
//   whole address with no code yet, what follows the gap is its code. Bytes
//   at the end that may still become an address or a fixed answer wait for
//   the rest;
// - outside a dump, whatever else came ends where the line went quiet, but
//   for bytes that begin a fixed answer: they wait for the rest (the read
//   gives up on them at its deadline).
//
// A code that holds a whole record address is cut there, the same way in
// every dump; the read marks a cell that two records of one dump name. Such
// a code (ReadCannotBringBack) comes back whole only when the read knows it
// beforehand (ExpectedCodes): a check of the module against a file.
//
// These are plain judgements over what is held; the read (ModuleRead) holds
// the bytes and takes the answers off them.

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>
#include <QHash>

// Bytes of the module's answers received but not judged yet: an answer ends
// only where the next begins, or where the line went quiet outside a dump.
struct HeldBytes {
    QByteArray bytes;
    quint32 lastAt = 0;        // clock (LinkPacing::Now) when the last of them arrived
    qsizetype gapAt = -1;      // bytes from here on came (or will come) after a quiet gap; not placed yet
    qsizetype scannedTo = 1;   // no answer begins at 1 … scannedTo - 1
    bool frontNoted = false;   // the record at the front has kept the read alive already
};

// One whole answer of the module.
struct Answer {
    enum class Kind { EnterEcho, ExitEcho, DumpStart, DumpEnd, Record, Unrecognised };
    Kind kind = Kind::Unrecognised;
    int row = 0;            // Record: the value cell it names
    int column = 0;
    QByteArray bytes;       // Record: its code (none only when doubtful); any other: every byte of it
    bool doubtful = false;  // Record: stray bytes followed it, or it was cut at the size limit
};

// How much of what is held may count as whole.
enum class HeldEnd {
    Waiting,  // more may come at once: only answers something has followed are whole
    Quiet,    // the line went quiet: outside a dump what is held is whole but for a fixed answer begun, in a dump stray bytes at the front are
    Gone,     // nothing more will come (the line is gone, or the read gave up waiting): everything held is whole
};

// Held bytes are judged at once when they reach this size, whatever the
// line does, so a line that never goes quiet gives log lines of bounded
// length and holds bounded memory. A record cut here is doubtful.
constexpr int kMaxHeldOutsideDump = 4 * 1024;
constexpr int kMaxHeldInDump = 64 * 1024;

// Codes a read expects in certain cells (TableLayout::CellKey -> code),
// because the dump cannot frame them by itself: a record of such a cell that
// brings exactly that code, with an address or a fixed answer right behind
// it, is taken whole, whatever it holds.
using ExpectedCodes = QHash<int, QByteArray>;

// True for a code a read cannot bring back whole by its structure: it holds
// F4 F7 (a record's marker) or the nine bytes of one of the module's fixed
// answers, where a dump's record would be cut.
bool ReadCannotBringBack(QByteArrayView code);
// The same for a code as a cell holds it (hex digits and blanks; a text that
// converts), read in pieces, so a code of millions of digits costs no copy.
bool ReadCannotBringBack(QStringView codeText);

// Where the answer at the front of what is held ends, judged as a dump
// running (`dumping`) or not; `expected` as the read was told.
struct Cut {
    qsizetype length = 0;           // the answer's bytes; 0 while it may still grow
    bool doubtful = false;          // stray bytes end it, or the size limit cut it
    qsizetype scannedTo = 1;        // what is held no longer begins an answer at 1 … scannedTo - 1
    bool gapInsideAddress = false;  // the quiet gap held fell inside a record's address: it is no gap
};
Cut FrontAnswer(const HeldBytes& held, bool dumping, HeldEnd end, const ExpectedCodes& expected = {});

// What a whole answer is; `doubtful` as its cut said.
Answer Judge(const QByteArray& bytes, bool dumping, bool doubtful);

// The value cell (TableLayout::CellKey) whose record's address stands whole
// at the front of what is held (the record itself runs on until the next
// answer begins); -1 when none does.
int RecordCellAtFront(const HeldBytes& held);
