#include "protocol/AnswerFraming.h"

#include <array>

#include "core/TableLayout.h"
#include "protocol/Frames.h"

namespace {

using FrameLayout::kFixedSize;
constexpr qsizetype kAddressSize = FrameLayout::kAnswerAddressSize;
constexpr quint8 kFixedLead = FrameLayout::kStartByte;
const quint8 kMarker0 = quint8(FrameLayout::kAnswerMarker[0]);
const quint8 kMarker1 = quint8(FrameLayout::kAnswerMarker[1]);

// The four answers known by their exact bytes. The module echoes the enter
// and exit frames and opens its dump with the very bytes of the read request.
struct FixedAnswer {
    QByteArray bytes;
    Answer::Kind kind;
};

const std::array<FixedAnswer, 4>& FixedAnswers()
{
    static const std::array<FixedAnswer, 4> answers{{
        {FixedFrameBytes(EnterConfigFrame), Answer::Kind::EnterEcho},
        {FixedFrameBytes(ExitConfigFrame), Answer::Kind::ExitEcho},
        {FixedFrameBytes(ReadRequestFrame), Answer::Kind::DumpStart},
        {FixedFrameBytes(DumpEndFrame), Answer::Kind::DumpEnd},
    }};
    return answers;
}

// What begins at `at`: a whole fixed answer, a whole record address (only
// while a dump runs), the first bytes of either with the rest not in yet, or neither.
enum class Start { None, Maybe, Address, Fixed };

Start StartAt(const QByteArray& b, qsizetype at, bool extracting)
{
    const qsizetype n = b.size() - at;
    const auto byte = [&](qsizetype i) { return quint8(b[at + i]); };
    if (byte(0) == kFixedLead) {
        const QByteArrayView rest(b.constData() + at, qMin(n, kFixedSize));
        bool maybe = false;
        for (const FixedAnswer& f : FixedAnswers()) {
            if (rest == f.bytes) return Start::Fixed;
            if (rest.size() < kFixedSize && QByteArrayView(f.bytes).startsWith(rest)) maybe = true;
        }
        return maybe ? Start::Maybe : Start::None;
    }
    if (!extracting || byte(0) != kMarker0) return Start::None;
    // Any cell of the table's shape: a record naming a header or a title is
    // still a record (shown, not stored), so it ends the code before it.
    if (n > 1 && byte(1) != kMarker1) return Start::None;
    if (n > 2 && byte(2) > TableLayout::kLastValueRow) return Start::None;
    if (n > 3 && byte(3) > TableLayout::kOffColumn) return Start::None;
    return n >= kAddressSize ? Start::Address : Start::Maybe;
}

// The first place in [scannedTo, to) where a whole answer begins; -1 when
// none does. Places that can no longer become one are not looked at again.
qsizetype FirstCut(HeldBytes& held, qsizetype to, bool extracting)
{
    const QByteArray& b = held.bytes;
    for (qsizetype at = qMax<qsizetype>(1, held.scannedTo); at < to; ++at) {
        const quint8 c = quint8(b[at]);
        if (c != kFixedLead && c != kMarker0) continue;
        const Start s = StartAt(b, at, extracting);
        if (s == Start::Address || s == Start::Fixed) return at;
    }
    // Up to nine bytes from the end, a place may still become an answer.
    held.scannedTo = qMax(held.scannedTo, qMin(to, b.size() - kFixedSize + 1));
    return -1;
}

// The first place from `from` up to `to` (inclusive) where an answer may
// still begin once more bytes are in; -1 when there is none.
qsizetype FirstMaybe(const QByteArray& b, qsizetype from, qsizetype to, bool extracting)
{
    for (qsizetype at = qMax(from, b.size() - kFixedSize + 1); at <= to && at < b.size(); ++at)
        if (StartAt(b, at, extracting) == Start::Maybe) return at;
    return -1;
}

// What the first n held bytes are, as one answer.
Answer Judge(const QByteArray& bytes, bool extracting, bool doubtful)
{
    Answer a;
    if (bytes.size() == kFixedSize) {
        for (const FixedAnswer& f : FixedAnswers())
            if (bytes == f.bytes) {
                a.kind = f.kind;
                return a;
            }
    }
    // An address whose code came only after a gap names its cell all the
    // same: the code is lost to the stray bytes, and the cell is doubtful.
    const qsizetype least = doubtful ? kAddressSize : kAddressSize + 1;
    if (extracting && bytes.size() >= least && StartAt(bytes, 0, true) == Start::Address) {
        const int row = quint8(bytes[2]), column = quint8(bytes[3]);
        // A record naming a header, a title or no cell at all is not the
        // module's data; show it rather than let it overwrite the layout.
        if (TableLayout::IsValueCell(row, column)) {
            a.kind = Answer::Kind::Record;
            a.row = row;
            a.column = column;
            a.bytes = bytes.mid(kAddressSize);
            a.doubtful = doubtful;
            return a;
        }
    }
    a.kind = Answer::Kind::Unrecognised;
    a.bytes = bytes;
    return a;
}

Answer Take(HeldBytes& held, qsizetype n, bool extracting, bool doubtful = false)
{
    const Answer a = Judge(held.bytes.left(n), extracting, doubtful);
    held.bytes.remove(0, n);
    held.gapAt = held.gapAt > n ? held.gapAt - n : -1;
    held.scannedTo = 1;
    held.frontNoted = false;
    return a;
}

}  // namespace

void NoteQuiet(HeldBytes& held)
{
    // Only the first gap still to be placed matters: what follows a second
    // one is judged once the first is settled.
    if (held.gapAt < 0 && !held.bytes.isEmpty()) held.gapAt = held.bytes.size();
}

void HoldArrived(HeldBytes& held, const QByteArray& bytes, bool afterQuiet)
{
    if (afterQuiet) NoteQuiet(held);
    held.bytes += bytes;
}

bool RecordAtFront(const HeldBytes& held)
{
    return !held.bytes.isEmpty() && StartAt(held.bytes, 0, true) == Start::Address;
}

std::optional<Answer> TakeAnswer(HeldBytes& held, bool extracting, HeldEnd end)
{
    const QByteArray& b = held.bytes;
    if (b.isEmpty()) return std::nullopt;
    const Start front = StartAt(b, 0, extracting);
    if (front == Start::Fixed) return Take(held, kFixedSize, extracting);

    if (!extracting) {
        const qsizetype cut = FirstCut(held, b.size(), false);
        if (cut > 0) return Take(held, cut, false);
        if (end != HeldEnd::Waiting || b.size() >= kMaxHeldOutsideDump) return Take(held, b.size(), false);
        return std::nullopt;
    }

    if (held.gapAt > 0 && held.gapAt < b.size()) {
        // What came after the gap must begin an answer, or finish one begun just before it.
        const qsizetype cut = FirstCut(held, held.gapAt + 1, true);
        if (cut > 0) return Take(held, cut, true);
        if (front == Start::Address && held.gapAt < kAddressSize) {
            held.gapAt = -1;  // the module paused inside the address
        } else if (end != HeldEnd::Gone && FirstMaybe(b, 0, held.gapAt, true) >= 0) {
            return std::nullopt;
        } else {
            // Stray bytes: they end the answer before them, and a code they
            // end may have lost its tail to them, or be theirs in part.
            return Take(held, held.gapAt, true, true);
        }
    }

    const qsizetype cut = FirstCut(held, b.size(), true);
    if (cut > 0) return Take(held, cut, true);
    if (b.size() >= kMaxHeldInDump) return Take(held, b.size(), true, true);
    if (end == HeldEnd::Gone) return Take(held, b.size(), true);
    if (end == HeldEnd::Quiet && front == Start::None) {
        // Stray bytes at the front are whole once the line is quiet, but for
        // an end that may still become an address or a dump end.
        const qsizetype maybe = FirstMaybe(b, 1, b.size() - 1, true);
        return Take(held, maybe > 0 ? maybe : b.size(), true);
    }
    return std::nullopt;
}
