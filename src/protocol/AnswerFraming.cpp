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

Start StartAt(const QByteArray& b, qsizetype at, bool dumping)
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
    if (!dumping || byte(0) != kMarker0) return Start::None;
    // Any row and column: a record naming no value cell is no code of the
    // module's, so it ends the code before it (and is shown, not stored).
    if (n > 1 && byte(1) != kMarker1) return Start::None;
    return n >= kAddressSize ? Start::Address : Start::Maybe;
}

// The first place in [scannedTo, to) where a whole answer begins; -1 when
// none does. Places that can no longer become one are not looked at again.
qsizetype FirstCut(const QByteArray& b, qsizetype& scannedTo, qsizetype to, bool dumping)
{
    for (qsizetype at = qMax<qsizetype>(1, scannedTo); at < to; ++at) {
        const quint8 c = quint8(b[at]);
        if (c != kFixedLead && c != kMarker0) continue;
        const Start s = StartAt(b, at, dumping);
        if (s == Start::Address || s == Start::Fixed) return at;
    }
    // Up to nine bytes from the end, a place may still become an answer.
    scannedTo = qMax(scannedTo, qMin(to, b.size() - kFixedSize + 1));
    return -1;
}

// The first place from `from` up to `to` (inclusive) where an answer may
// still begin once more bytes are in; -1 when there is none.
qsizetype FirstMaybe(const QByteArray& b, qsizetype from, qsizetype to, bool dumping)
{
    for (qsizetype at = qMax(from, b.size() - kFixedSize + 1); at <= to && at < b.size(); ++at)
        if (StartAt(b, at, dumping) == Start::Maybe) return at;
    return -1;
}

}  // namespace

int RecordCellAtFront(const HeldBytes& held)
{
    if (held.bytes.isEmpty() || StartAt(held.bytes, 0, true) != Start::Address) return -1;
    const int row = quint8(held.bytes[2]), column = quint8(held.bytes[3]);
    return TableLayout::IsValueCell(row, column) ? TableLayout::CellKey(row, column) : -1;
}

bool ReadCannotBringBack(QByteArrayView code)
{
    if (code.contains(QByteArrayView(FrameLayout::kAnswerMarker))) return true;
    for (const FixedAnswer& f : FixedAnswers())
        if (code.contains(QByteArrayView(f.bytes))) return true;
    return false;
}

bool ReadCannotBringBack(QStringView codeText)
{
    // Each piece begins with the last bytes of the one before, one short of
    // the longest answer looked for, so nothing is missed where two meet.
    constexpr qsizetype kCarried = FrameLayout::kFixedSize - 1;
    constexpr qsizetype kPieceBytes = 4096;
    const auto value = [](char16_t c) {
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        return -1;  // a blank
    };
    QByteArray piece;
    int high = -1;
    for (const QChar c : codeText) {
        const int v = value(c.unicode());
        if (v < 0) continue;
        if (high < 0) {
            high = v;
            continue;
        }
        piece += char(high << 4 | v);
        high = -1;
        if (piece.size() < kCarried + kPieceBytes) continue;
        if (ReadCannotBringBack(QByteArrayView(piece))) return true;
        piece.remove(0, piece.size() - kCarried);
    }
    return ReadCannotBringBack(QByteArrayView(piece));
}

Answer Judge(const QByteArray& bytes, bool dumping, bool doubtful)
{
    Answer a;
    if (bytes.size() == kFixedSize) {
        for (const FixedAnswer& f : FixedAnswers())
            if (bytes == f.bytes) {
                a.kind = f.kind;
                a.bytes = bytes;
                return a;
            }
    }
    // An address whose code came only after a gap names its cell all the
    // same: the code is lost to the stray bytes, and the cell is doubtful.
    const qsizetype least = doubtful ? kAddressSize : kAddressSize + 1;
    if (dumping && bytes.size() >= least && StartAt(bytes, 0, true) == Start::Address) {
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

namespace {

// The length of the record at the front when it is the one `expected` names
// for its cell, whole and with an answer (or nothing yet) behind it: 0 while
// it may still become that record, -1 when it is not that record.
qsizetype ExpectedRecord(const QByteArray& b, qsizetype gapAt, HeldEnd end, const ExpectedCodes& expected)
{
    const auto code = expected.constFind(TableLayout::CellKey(quint8(b[2]), quint8(b[3])));
    if (code == expected.cend()) return -1;
    const qsizetype length = kAddressSize + code->size();
    // A quiet gap inside it: bytes that came after it are not vouched for.
    if (gapAt > kAddressSize && gapAt < length) return -1;
    const QByteArrayView body = QByteArrayView(b).sliced(kAddressSize);
    if (body.size() < code->size()) return end != HeldEnd::Gone && code->startsWith(body) ? 0 : -1;
    if (!body.startsWith(*code)) return -1;
    if (b.size() == length) return end == HeldEnd::Gone ? length : 0;
    switch (StartAt(b, length, true)) {
    case Start::Address:
    case Start::Fixed: return length;
    case Start::Maybe: return end == HeldEnd::Gone ? -1 : 0;
    case Start::None: break;
    }
    return -1;  // the module's code runs on: not the one expected
}

}  // namespace

Cut FrontAnswer(const HeldBytes& held, bool dumping, HeldEnd end, const ExpectedCodes& expected)
{
    const QByteArray& b = held.bytes;
    Cut cut{.scannedTo = held.scannedTo};
    const auto whole = [&cut](qsizetype length, bool doubtful = false) {
        cut.length = length;
        cut.doubtful = doubtful;
        return cut;
    };
    if (b.isEmpty()) return cut;
    const Start front = StartAt(b, 0, dumping);
    if (front == Start::Fixed) return whole(kFixedSize);

    if (!dumping) {
        const qsizetype at = FirstCut(b, cut.scannedTo, b.size(), false);
        if (at > 0) return whole(at);
        if (end == HeldEnd::Gone || b.size() >= kMaxHeldOutsideDump) return whole(b.size());
        if (end == HeldEnd::Waiting || front == Start::Maybe) return cut;
        // Quiet: whatever came is whole, but for an end that begins a fixed
        // answer, which waits for its rest however long the gap.
        const qsizetype maybe = FirstMaybe(b, 1, b.size() - 1, false);
        return whole(maybe > 0 ? maybe : b.size());
    }

    if (front == Start::Address && !expected.isEmpty() && b.size() < kMaxHeldInDump) {
        const qsizetype length = ExpectedRecord(b, held.gapAt, end, expected);
        if (length > 0) return whole(length);
        if (length == 0) return cut;
    }

    if (held.gapAt > 0 && held.gapAt < b.size()) {
        // What came after the gap must begin an answer, or finish one begun just before it.
        const qsizetype at = FirstCut(b, cut.scannedTo, held.gapAt + 1, true);
        if (at > 0) return whole(at);
        if (front == Start::Address && held.gapAt <= kAddressSize) {
            // The module paused inside the address, or after it: after a
            // whole address nothing but its code can follow.
            cut.gapInsideAddress = true;
        } else if (end != HeldEnd::Gone && FirstMaybe(b, 0, held.gapAt, true) >= 0) {
            return cut;
        } else {
            // Stray bytes: they end the answer before them, and a code they
            // end may have lost its tail to them, or be theirs in part.
            return whole(held.gapAt, true);
        }
    }

    const qsizetype at = FirstCut(b, cut.scannedTo, b.size(), true);
    if (at > 0) return whole(at);
    if (b.size() >= kMaxHeldInDump) return whole(b.size(), true);
    if (end == HeldEnd::Gone) {
        // Nothing more comes: an end that might have begun an address or a
        // fixed answer may be no part of the code before it.
        const qsizetype maybe = FirstMaybe(b, 1, b.size() - 1, true);
        return maybe > 0 ? whole(maybe, true) : whole(b.size());
    }
    if (end == HeldEnd::Quiet && front == Start::None) {
        // Stray bytes at the front are whole once the line is quiet, but for
        // an end that may still become an address or a dump end.
        const qsizetype maybe = FirstMaybe(b, 1, b.size() - 1, true);
        return whole(maybe > 0 ? maybe : b.size());
    }
    return cut;
}
