#include "config/TableFile.h"

#include <QCryptographicHash>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

using namespace TableFileFormat;

namespace {

// Offsets inside the 12-byte header.
enum : qsizetype {
    kMagicAt = 0,
    kVersionAt = 4,
    kHeaderWord1At = 8,
    kHeaderWord2At = 10,
};

// Offsets inside the properties block.
enum : qsizetype {
    kRows = 0,
    kColumns = 4,
    kFixedRows = 8,
    kFixedColumns = 12,
    kDefaultRowHeight = 16,
    kDefaultColumnWidth = 20,
    kGridColour = 24,
    kBackgroundColour = 28,
    kTextColour = 32,
    kAlternating = 68,
    kAlternateByRows = 72,
    kOddColour = 76,
    kEvenColour = 80,
    kColumnKindCount = 84,
    kMergeCount = 88,
    kCellCount = 92,
    kFontCount = 96,
    kBackgroundCount = 100,
    kTextColourCount = 104,
    kTextFormatCount = 108,
    kAttributeACount = 112,
    kAttributeBCount = 116,
    kFlagCount = 120,
    kStateCount = 124,
    kRangeACount = 128,
    kRangeBCount = 132,
    kSettingWords12 = 436,
};

// A column-kind record's number of 100-byte list texts that follow it.
constexpr qsizetype kColumnKindListCountAt = 36;

// A cell record: row, column and (from version 6) the text's byte count in
// front of the text; check state and picture byte count behind it.
constexpr qsizetype kWord = 4;
constexpr qsizetype kCellPlace = 2 * kWord;
constexpr qsizetype kCellHead = kCellPlace + kWord;
constexpr qsizetype kCellTail = 2 * kWord;
constexpr qsizetype kSmallestCountedCell = kCellHead + 1 + kCellTail;  // a text of just its zero byte
constexpr qsizetype kLegacyCell = kCellPlace + LegacyTextSize + kCellTail;
constexpr qsizetype kFontRecordSize = kCellPlace + FontSize;

// A v1 file carries no cell states; its fixed cells get the fixed-cell bit
// as a new table's would, but only for a shape of sane size, so a hostile
// row and column count cannot make us build millions of cells.
constexpr qint64 kMaxDerivedFixedCells = 65536;

quint32 ReadWord(const char* p) { return qFromLittleEndian<quint32>(p); }

bool IsAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}
bool IsAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

void PutWord(QByteArray& block, qsizetype offset, quint32 value)
{
    qToLittleEndian<quint32>(value, block.data() + offset);
}

QByteArray NewProperties()
{
    QByteArray block(PropertiesSize, '\0');
    PutWord(block, kDefaultRowHeight, NewDefaultRowHeight);
    PutWord(block, kDefaultColumnWidth, NewDefaultColumnWidth);
    PutWord(block, kGridColour, NewGridColour);
    PutWord(block, kBackgroundColour, NewBackgroundColour);
    PutWord(block, kTextColour, NewTextColour);
    PutWord(block, kAlternating, 0);
    PutWord(block, kAlternateByRows, 1);
    PutWord(block, kOddColour, 0xFFFFFF);
    PutWord(block, kEvenColour, 0xFFFFFF);
    const quint32 words12to18[] = {60, 60, 40, 40, 20, 20, 20};
    for (int i = 0; i < 7; ++i) PutWord(block, kSettingWords12 + kWord * i, words12to18[i]);
    return block;
}

// The seven lists of twelve-byte records (row, column, value), in file order:
// where the block counts each, from which version it is read, which value of
// a cell it carries and when a cell is written into it.
struct AttributeList {
    qsizetype countAt;
    int firstVersion;
    void (*apply)(TableCell& cell, quint32 value);
    std::optional<quint32> (*written)(const TableCell& cell, const TableContent& table);
};

// A colour is written when it is a plain RGB value that differs from the table's default.
std::optional<quint32> OwnColour(const std::optional<quint32>& colour, quint32 tableDefault)
{
    if (colour && *colour <= 0xFFFFFF && *colour != tableDefault) return colour;
    return std::nullopt;
}

std::optional<quint32> Unless(quint32 value, quint32 usual)
{
    return value != usual ? std::optional<quint32>(value) : std::nullopt;
}

const AttributeList kAttributeLists[] = {
    {kBackgroundCount, 1, [](TableCell& c, quint32 v) { c.background = v; },
     [](const TableCell& c, const TableContent& t) { return OwnColour(c.background, t.DefaultBackground()); }},
    {kTextColourCount, 1, [](TableCell& c, quint32 v) { c.textColour = v; },
     [](const TableCell& c, const TableContent& t) { return OwnColour(c.textColour, t.DefaultTextColour()); }},
    {kTextFormatCount, 1, [](TableCell& c, quint32 v) { c.textFormat = v; },
     [](const TableCell& c, const TableContent&) { return Unless(c.textFormat, DefaultTextFormat); }},
    {kAttributeACount, 1, [](TableCell& c, quint32 v) { c.attributeA = v; },
     [](const TableCell& c, const TableContent&) { return Unless(c.attributeA, DefaultAttributeA); }},
    {kAttributeBCount, 1, [](TableCell& c, quint32 v) { c.attributeB = v; },
     [](const TableCell& c, const TableContent&) { return Unless(c.attributeB, DefaultAttributeB); }},
    {kFlagCount, 1, [](TableCell& c, quint32 v) { c.flag = v; },
     [](const TableCell& c, const TableContent&) { return Unless(c.flag, 0); }},
    {kStateCount, 2, [](TableCell& c, quint32 v) { c.state = v; },
     [](const TableCell& c, const TableContent&) { return Unless(c.state, 0); }},
};
constexpr int kAttributeListCount = int(std::size(kAttributeLists));

// Reads forward through the file; every read is checked against what is
// left, and what the table takes in memory against what it may take.
struct Cursor {
    const char* data;
    qsizetype size;
    qsizetype pos = 0;
    qint64 memoryLeft = 0;
    bool outOfMemory = false;

    // Notes `bytes` more of memory; false once the table would take more than its share.
    bool Spend(qint64 bytes)
    {
        memoryLeft -= bytes;
        if (memoryLeft < 0) outOfMemory = true;
        return !outOfMemory;
    }
    qsizetype Left() const { return size - pos; }
    bool Has(qint64 n) const { return n >= 0 && n <= qint64(Left()); }
    // True when `count` records of `recordSize` bytes can still fit.
    bool Fits(qint64 count, qint64 recordSize) const
    {
        return count >= 0 && count <= qint64(Left()) / recordSize;
    }
    qint32 Int() { return qint32(Word()); }
    quint32 Word()
    {
        const quint32 v = ReadWord(data + pos);
        pos += kWord;
        return v;
    }
    QByteArray Bytes(qsizetype n)
    {
        QByteArray b(data + pos, n);
        pos += n;
        return b;
    }
};

// The record counts of the sections behind the geometry, as the block gives them.
struct RecordCounts {
    qint64 columnKinds = 0;
    qint64 merges = 0;
    qint64 cells = 0;
    qint64 fonts = 0;
    qint64 lists[kAttributeListCount] = {};
    qint64 rangeA = 0;
    qint64 rangeB = 0;
};

// What a cell of the map costs besides its texts: the node, its bookkeeping
// and the allocator's own.
constexpr qint64 kCellMemory = 48 + qint64(sizeof(std::pair<const std::pair<int, int>, TableCell>));
// A QByteArray's or QString's block besides its characters.
constexpr qint64 kBlockMemory = 32;

// The cell at (row, column), made when new; none outside the table, or when
// the table would take more memory than it may.
TableCell* CellAt(Cursor& in, TableContent& t, int row, int column)
{
    if (row < 0 || row >= t.rows || column < 0 || column >= t.columns) return nullptr;
    const auto [at, made] = t.cells.try_emplace({row, column});
    if (made && !in.Spend(kCellMemory)) return nullptr;
    return &at->second;
}

// True when `text` encodes to exactly `bytes`, compared piece by piece, so
// a long text needs no second copy of its bytes.
bool EncodesTo(const QString& text, QByteArrayView bytes)
{
    if (IsAscii(bytes)) return true;  // decoded as Latin-1, it gives them back as they are
    QStringEncoder encoder("GB18030");
    constexpr qsizetype kPiece = 1 << 14;
    qsizetype at = 0;
    for (qsizetype from = 0; from < text.size(); from += kPiece) {
        const QByteArray piece = encoder.encode(QStringView(text).mid(from, kPiece));
        if (piece.size() > bytes.size() - at || QByteArrayView(piece) != bytes.sliced(at, piece.size())) return false;
        at += piece.size();
    }
    return !encoder.hasError() && at == bytes.size();
}

// Puts a cell record's text (its bytes with their zero byte) into `cell`:
// the text decoded, and the bytes themselves only when the text would not
// give them back (bytes after the zero, bytes GB18030 does not know), so a
// text of any length is kept once.
bool TakeCellText(Cursor& in, TableCell& cell, QByteArrayView withZero)
{
    const qsizetype zero = withZero.indexOf('\0');
    const QByteArrayView text = zero < 0 ? withZero : withZero.first(zero);
    cell.text = IsAscii(text) ? QString::fromLatin1(text) : DecodeCellText(text);
    const bool exact = zero == withZero.size() - 1 && EncodesTo(cell.text, text);
    cell.textBytes = exact ? QByteArray() : withZero.toByteArray();
    return in.Spend(2 * cell.text.size() + kBlockMemory + (exact ? 0 : withZero.size() + kBlockMemory));
}

// --- reading, one section at a time ------------------------------------------

// Header and properties block: the version's block (older, shorter blocks are
// the leading part of the current one; what they lack takes a new table's
// values), the shape, and the counts of the sections that follow.
bool ReadProperties(Cursor& in, int version, TableContent& t, RecordCounts& counts)
{
    const qsizetype blockSize = PropertiesSizeOf(version);
    t.headerWord1 = qFromLittleEndian<quint16>(in.data + kHeaderWord1At);
    t.headerWord2 = qFromLittleEndian<quint16>(in.data + kHeaderWord2At);
    in.pos = HeaderSize;
    if (!in.Has(blockSize)) return false;
    t.properties = NewProperties();
    std::memcpy(t.properties.data(), in.data + in.pos, size_t(blockSize));
    in.pos += blockSize;

    const auto word = [&t](qsizetype offset) { return qint32(ReadWord(t.properties.constData() + offset)); };
    t.rows = word(kRows);
    t.columns = word(kColumns);
    t.fixedRows = word(kFixedRows);
    t.fixedColumns = word(kFixedColumns);
    t.defaultRowHeight = word(kDefaultRowHeight);
    t.defaultColumnWidth = word(kDefaultColumnWidth);
    if (t.rows < 0 || t.columns < 0 || t.fixedRows < 0 || t.fixedColumns < 0) return false;
    if (t.fixedRows > t.rows || t.fixedColumns > t.columns) return false;

    counts.columnKinds = word(kColumnKindCount);
    counts.merges = word(kMergeCount);
    counts.cells = word(kCellCount);
    counts.fonts = word(kFontCount);
    for (int i = 0; i < kAttributeListCount; ++i)
        counts.lists[i] = version >= kAttributeLists[i].firstVersion ? word(kAttributeLists[i].countAt) : 0;
    counts.rangeA = version >= 3 ? word(kRangeACount) : 0;
    counts.rangeB = version >= 4 ? word(kRangeBCount) : 0;
    return true;
}

bool ReadGeometry(Cursor& in, TableContent& t)
{
    if (!in.Fits(t.rows, kWord) || !in.Spend(kWord * (qint64(t.rows) + t.columns))) return false;
    t.rowHeights.resize(t.rows);
    for (qint32& h : t.rowHeights) h = in.Int();
    if (!in.Fits(t.columns, kWord)) return false;
    t.columnWidths.resize(t.columns);
    for (qint32& w : t.columnWidths) w = in.Int();
    return true;
}

// Each record is kept whole: 40 bytes and the list texts its count announces.
bool ReadColumnKinds(Cursor& in, qint64 count, TableContent& t)
{
    if (!in.Fits(count, ColumnKindSize) || !in.Spend(count * (ColumnKindSize + 2 * kBlockMemory))) return false;
    t.columnKinds.reserve(qsizetype(count));
    for (qint64 i = 0; i < count; ++i) {
        if (!in.Has(ColumnKindSize)) return false;
        const qint32 texts = qint32(ReadWord(in.data + in.pos + kColumnKindListCountAt));
        if (!in.Fits(texts, ColumnKindTextSize)) return false;
        const qint64 recordSize = ColumnKindSize + qint64(texts) * ColumnKindTextSize;
        if (!in.Has(recordSize) || !in.Spend(recordSize - ColumnKindSize)) return false;
        t.columnKinds.append(in.Bytes(qsizetype(recordSize)));
    }
    return true;
}

bool ReadMerges(Cursor& in, qint64 count, TableContent& t)
{
    if (!in.Fits(count, MergeSize) || !in.Spend(count * qint64(sizeof(MergeRecord)))) return false;
    t.merges.reserve(qsizetype(count));
    for (qint64 i = 0; i < count; ++i) {
        MergeRecord m;
        m.originRow = in.Int();
        m.originColumn = in.Int();
        m.firstRow = in.Int();
        m.firstColumn = in.Int();
        m.lastRow = in.Int();
        m.lastColumn = in.Int();
        t.merges.append(m);
    }
    return true;
}

// The text of one cell record with its zero byte: counted from version 6, a
// fixed zero-padded field before (up to its first zero byte).
bool ReadCellText(Cursor& in, bool counted, QByteArrayView& withZero)
{
    if (counted) {
        const qint32 n = in.Int();
        if (n < 1 || !in.Has(qint64(n) + kCellTail)) return false;
        withZero = QByteArrayView(in.data + in.pos, n);
        in.pos += n;
        return true;
    }
    const QByteArrayView field(in.data + in.pos, LegacyTextSize);
    in.pos += LegacyTextSize;
    const qsizetype zero = field.indexOf('\0');
    withZero = zero < 0 ? field : field.first(zero + 1);
    return true;
}

// Cell records: row, column, text, check state, picture byte count and picture.
bool ReadCells(Cursor& in, qint64 count, int version, TableContent& t)
{
    const bool counted = version >= 6;
    if (!in.Fits(count, counted ? kSmallestCountedCell : kLegacyCell)) return false;
    for (qint64 i = 0; i < count; ++i) {
        if (!in.Has(counted ? kCellHead : kCellPlace + LegacyTextSize)) return false;
        const int row = in.Int();
        const int column = in.Int();
        QByteArrayView text;
        if (!ReadCellText(in, counted, text)) return false;
        if (!in.Has(kCellTail)) return false;
        const quint32 checkState = in.Word();
        const qint32 pictureSize = in.Int();
        if (!in.Has(pictureSize)) return false;
        const QByteArrayView picture(in.data + in.pos, pictureSize);
        in.pos += pictureSize;
        // A legacy field without a zero byte is the whole field and one more.
        const QByteArray legacyText = !counted && !text.endsWith('\0') ? text.toByteArray() + '\0' : QByteArray();
        if (TableCell* cell = CellAt(in, t, row, column)) {
            if (!TakeCellText(in, *cell, legacyText.isEmpty() ? text : QByteArrayView(legacyText))) return false;
            cell->checkState = checkState;
            cell->picture = picture.toByteArray();
            if (!in.Spend(picture.size() + kBlockMemory)) return false;
        }
        if (in.outOfMemory) return false;
    }
    return true;
}

bool ReadFonts(Cursor& in, qint64 count, TableContent& t)
{
    if (!in.Fits(count, kFontRecordSize)) return false;
    for (qint64 i = 0; i < count; ++i) {
        const int row = in.Int();
        const int column = in.Int();
        const QByteArray font = in.Bytes(FontSize);
        if (TableCell* cell = CellAt(in, t, row, column)) cell->font = font;
        if (!in.Spend(FontSize + kBlockMemory)) return false;
    }
    return true;
}

bool ReadAttributeLists(Cursor& in, const RecordCounts& counts, TableContent& t)
{
    for (int list = 0; list < kAttributeListCount; ++list) {
        const qint64 count = counts.lists[list];
        if (!in.Fits(count, AttributeRecordSize)) return false;
        for (qint64 i = 0; i < count; ++i) {
            const int row = in.Int();
            const int column = in.Int();
            const quint32 value = in.Word();
            if (TableCell* cell = CellAt(in, t, row, column)) kAttributeLists[list].apply(*cell, value);
            if (in.outOfMemory) return false;
        }
    }
    return true;
}

bool ReadRanges(Cursor& in, qint64 count, QVector<QByteArray>& ranges)
{
    if (!in.Fits(count, RangeSize) || !in.Spend(count * (RangeSize + 2 * kBlockMemory))) return false;
    ranges.reserve(qsizetype(count));
    for (qint64 i = 0; i < count; ++i) ranges.append(in.Bytes(RangeSize));
    return true;
}

void MarkFixedCells(TableContent& t)
{
    const qint64 fixedCells = qint64(t.fixedRows) * t.columns + qint64(t.fixedColumns) * (t.rows - t.fixedRows);
    if (fixedCells > kMaxDerivedFixedCells) return;
    for (int r = 0; r < t.fixedRows; ++r)
        for (int c = 0; c < t.columns; ++c) t.cells[{r, c}].state = FixedCellState;
    for (int r = t.fixedRows; r < t.rows; ++r)
        for (int c = 0; c < t.fixedColumns; ++c) t.cells[{r, c}].state = FixedCellState;
}

// --- writing -----------------------------------------------------------------

// The records the cells give, counted before any is written: the block
// that carries the counts comes first in the file.
struct CellCounts {
    qint32 cells = 0;
    qint32 fonts = 0;
    qint32 lists[kAttributeListCount] = {};
    qint64 bytes = 0;  // of the whole file
};

bool HasCellRecord(const TableCell& cell) { return !cell.text.isEmpty() || cell.checkState != 0 || !cell.picture.isEmpty(); }
bool InShape(const TableContent& t, const std::pair<int, int>& at) { return at.first < t.rows && at.second < t.columns; }

// A cell's text as the file stores it, with its zero byte, handed over in
// pieces, so a long text is never encoded whole beside itself. An untouched
// cell goes back with the very bytes it was read with.
void ForEachTextPiece(const TableCell& cell, const std::function<void(QByteArrayView)>& take)
{
    if (!cell.textBytes.isEmpty()) {
        take(cell.textBytes);
        return;
    }
    constexpr qsizetype kPiece = 1 << 16;
    const bool ascii = IsAscii(cell.text);
    QStringEncoder encoder("GB18030");
    for (qsizetype from = 0; from < cell.text.size(); from += kPiece) {
        const QStringView piece = QStringView(cell.text).mid(from, kPiece);
        take(ascii ? piece.toLatin1() : QByteArray(encoder.encode(piece)));
    }
    take(QByteArrayView("\0", 1));
}

qint64 TextRecordSize(const TableCell& cell)
{
    if (!cell.textBytes.isEmpty()) return cell.textBytes.size();
    if (IsAscii(cell.text)) return cell.text.size() + 1;
    qint64 size = 0;
    ForEachTextPiece(cell, [&size](QByteArrayView piece) { size += piece.size(); });
    return size;
}

CellCounts CountCellRecords(const TableContent& t)
{
    CellCounts n;
    qint64 bytes = HeaderSize + PropertiesSize + kWord * (qint64(t.rows) + t.columns) + qint64(t.merges.size()) * MergeSize
        + qint64(t.rangeA.size() + t.rangeB.size()) * RangeSize;
    for (const QByteArray& kind : t.columnKinds) bytes += kind.size();
    for (const auto& [at, cell] : t.cells) {
        if (!InShape(t, at)) continue;
        if (HasCellRecord(cell)) {
            ++n.cells;
            bytes += kCellHead + TextRecordSize(cell) + kCellTail + cell.picture.size();
        }
        if (cell.font.size() == FontSize) {
            ++n.fonts;
            bytes += kFontRecordSize;
        }
        for (int list = 0; list < kAttributeListCount; ++list)
            if (kAttributeLists[list].written(cell, t)) {
                ++n.lists[list];
                bytes += AttributeRecordSize;
            }
    }
    n.bytes = qMax(bytes, qint64(MinimumFileSize));
    return n;
}

// The block as read (or a new table's), with the shape and every count as they are now.
QByteArray PropertiesOf(const TableContent& t, const CellCounts& s)
{
    QByteArray block = t.properties.size() == PropertiesSize ? t.properties : NewProperties();
    PutWord(block, kRows, quint32(t.rows));
    PutWord(block, kColumns, quint32(t.columns));
    PutWord(block, kFixedRows, quint32(t.fixedRows));
    PutWord(block, kFixedColumns, quint32(t.fixedColumns));
    PutWord(block, kDefaultRowHeight, quint32(t.defaultRowHeight));
    PutWord(block, kDefaultColumnWidth, quint32(t.defaultColumnWidth));
    PutWord(block, kColumnKindCount, quint32(t.columnKinds.size()));
    PutWord(block, kMergeCount, quint32(t.merges.size()));
    PutWord(block, kCellCount, quint32(s.cells));
    PutWord(block, kFontCount, quint32(s.fonts));
    for (int list = 0; list < kAttributeListCount; ++list)
        PutWord(block, kAttributeLists[list].countAt, quint32(s.lists[list]));
    PutWord(block, kRangeACount, quint32(t.rangeA.size()));
    PutWord(block, kRangeBCount, quint32(t.rangeB.size()));
    return block;
}

// Collects the file in pieces of about 64 KB for whoever takes them, so the
// whole file need never be in memory twice.
class PieceWriter {
public:
    explicit PieceWriter(const std::function<void(QByteArrayView)>& take) : take_(take) { piece_.reserve(kPiece + 4096); }
    ~PieceWriter() { Flush(); }
    void Word(quint32 value)
    {
        char b[kWord];
        qToLittleEndian<quint32>(value, b);
        Bytes(QByteArrayView(b, kWord));
    }
    void Bytes(QByteArrayView bytes)
    {
        written_ += bytes.size();
        if (bytes.size() > kPiece) {
            Flush();
            take_(bytes);
            return;
        }
        piece_.append(bytes);
        if (piece_.size() >= kPiece) Flush();
    }
    qint64 Written() const { return written_; }

private:
    static constexpr qsizetype kPiece = 1 << 16;
    void Flush()
    {
        if (!piece_.isEmpty()) take_(piece_);
        piece_.clear();
    }
    const std::function<void(QByteArrayView)>& take_;
    QByteArray piece_;
    qint64 written_ = 0;
};

void WriteTableFileTo(const TableContent& t, const CellCounts& counts, const std::function<void(QByteArrayView)>& take)
{
    PieceWriter out(take);
    out.Bytes(QByteArrayView(Magic, 4));
    out.Word(WrittenVersion);
    char words[4];
    qToLittleEndian<quint16>(t.headerWord1, words);
    qToLittleEndian<quint16>(t.headerWord2, words + 2);
    out.Bytes(QByteArrayView(words, 4));
    out.Bytes(PropertiesOf(t, counts));
    // `count` sizes: those given, then the default for any the list lacks.
    for (int i = 0; i < t.rows; ++i) out.Word(quint32(i < t.rowHeights.size() ? t.rowHeights.at(i) : t.defaultRowHeight));
    for (int i = 0; i < t.columns; ++i)
        out.Word(quint32(i < t.columnWidths.size() ? t.columnWidths.at(i) : t.defaultColumnWidth));
    for (const QByteArray& kind : t.columnKinds) out.Bytes(kind);
    for (const MergeRecord& m : t.merges)
        for (qint32 v : {m.originRow, m.originColumn, m.firstRow, m.firstColumn, m.lastRow, m.lastColumn}) out.Word(quint32(v));
    for (const auto& [at, cell] : t.cells) {
        if (!InShape(t, at) || !HasCellRecord(cell)) continue;
        out.Word(quint32(at.first));
        out.Word(quint32(at.second));
        out.Word(quint32(TextRecordSize(cell)));
        ForEachTextPiece(cell, [&out](QByteArrayView piece) { out.Bytes(piece); });
        out.Word(cell.checkState);
        out.Word(quint32(cell.picture.size()));
        out.Bytes(cell.picture);
    }
    for (const auto& [at, cell] : t.cells) {
        if (!InShape(t, at) || cell.font.size() != FontSize) continue;
        out.Word(quint32(at.first));
        out.Word(quint32(at.second));
        out.Bytes(cell.font);
    }
    for (const AttributeList& list : kAttributeLists)
        for (const auto& [at, cell] : t.cells) {
            const std::optional<quint32> value = InShape(t, at) ? list.written(cell, t) : std::nullopt;
            if (!value) continue;
            out.Word(quint32(at.first));
            out.Word(quint32(at.second));
            out.Word(*value);
        }
    for (const QByteArray& r : t.rangeA) out.Bytes(r);
    for (const QByteArray& r : t.rangeB) out.Bytes(r);
    // A small table ends before the loader's minimum size; zero bytes after
    // the last section, which no reader looks at, make it a file that loads.
    if (out.Written() < MinimumFileSize) out.Bytes(QByteArray(MinimumFileSize - out.Written(), '\0'));
}

}  // namespace

qsizetype TableFileFormat::PropertiesSizeOf(int version)
{
    switch (version) {
    case 1: return 124;
    case 2: return 128;
    case 3: return 132;
    case 4: return 136;
    case 5:
    case 6: return PropertiesSize;
    default: return 0;
    }
}

quint32 TableContent::DefaultBackground() const { return ReadWord(properties.constData() + kBackgroundColour); }
quint32 TableContent::DefaultTextColour() const { return ReadWord(properties.constData() + kTextColour); }

TableContent NewTableContent(int rows, int columns)
{
    TableContent t;
    t.rows = qMax(0, rows);
    t.columns = qMax(0, columns);
    t.fixedRows = qMin(1, t.rows);
    t.fixedColumns = qMin(1, t.columns);
    t.properties = NewProperties();
    t.rowHeights = QVector<qint32>(t.rows, NewDefaultRowHeight);
    t.columnWidths = QVector<qint32>(t.columns, NewDefaultColumnWidth);
    for (int r = 0; r < t.rows; ++r)
        for (int c = 0; c < t.columns; ++c)
            if (t.IsFixed(r, c)) t.cells[{r, c}].state = FixedCellState;
    return t;
}

QString DecodeCellText(QByteArrayView bytes)
{
    if (IsAscii(bytes)) return QString::fromLatin1(bytes);
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

bool ParseTableFile(const char* data, qsizetype size, TableContent& out, TableFileProblem* problem)
{
    if (problem) *problem = TableFileProblem::NotATable;
    if (!data || size < MinimumFileSize) return false;
    if (std::memcmp(data + kMagicAt, Magic, 4) != 0) return false;
    const qint32 version = qint32(ReadWord(data + kVersionAt));
    if (PropertiesSizeOf(version) == 0) return false;

    Cursor in{data, size};
    in.memoryLeft = LargestTableMemory(size);
    try {
        TableContent t;
        RecordCounts counts;
        const bool read = ReadProperties(in, version, t, counts) && ReadGeometry(in, t)
            && ReadColumnKinds(in, counts.columnKinds, t) && ReadMerges(in, counts.merges, t)
            && ReadCells(in, counts.cells, version, t) && ReadFonts(in, counts.fonts, t)
            && ReadAttributeLists(in, counts, t) && ReadRanges(in, counts.rangeA, t.rangeA)
            && ReadRanges(in, counts.rangeB, t.rangeB);
        if (!read) {
            if (problem && in.outOfMemory) *problem = TableFileProblem::TooLargeInMemory;
            return false;
        }
        if (version < 2) MarkFixedCells(t);
        out = std::move(t);
    } catch (const std::bad_alloc&) {
        // The system had less memory to give than the table may take.
        if (problem) *problem = TableFileProblem::OutOfMemory;
        return false;
    }
    if (problem) *problem = TableFileProblem::None;
    return true;
}

QByteArray WriteTableFile(const TableContent& t)
{
    const CellCounts counts = CountCellRecords(t);
    QByteArray out;
    out.reserve(qsizetype(counts.bytes));
    WriteTableFileTo(t, counts, [&out](QByteArrayView piece) { out.append(piece); });
    return out;
}

void WriteTableFilePieces(const TableContent& table, const std::function<void(QByteArrayView)>& take)
{
    WriteTableFileTo(table, CountCellRecords(table), take);
}

qint64 TableFileSize(const TableContent& table) { return CountCellRecords(table).bytes; }

bool WritesBack(const TableContent& table, QByteArrayView bytes)
{
    const CellCounts counts = CountCellRecords(table);
    if (counts.bytes != bytes.size()) return false;
    qsizetype at = 0;
    bool same = true;
    WriteTableFileTo(table, counts, [&](QByteArrayView piece) {
        same = same && piece.size() <= bytes.size() - at && piece == bytes.sliced(at, piece.size());
        at += piece.size();
    });
    return same && at == bytes.size();
}

QByteArray TableFileDigest(const TableContent& table)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    WriteTableFileTo(table, CountCellRecords(table), [&hash](QByteArrayView piece) { hash.addData(piece); });
    return hash.result();
}
