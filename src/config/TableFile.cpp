#include "config/TableFile.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QtEndian>
#include <cstring>
#include <iterator>

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

void PutWord(QByteArray& block, qsizetype offset, quint32 value)
{
    qToLittleEndian<quint32>(value, block.data() + offset);
}

void AppendWord(QByteArray& out, quint32 value)
{
    char b[kWord];
    qToLittleEndian<quint32>(value, b);
    out.append(b, kWord);
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

// Reads forward through the file; every read is checked against what is left.
struct Cursor {
    const char* data;
    qsizetype size;
    qsizetype pos = 0;

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

TableCell* CellAt(TableContent& t, int row, int column)
{
    if (row < 0 || row >= t.rows || column < 0 || column >= t.columns) return nullptr;
    return &t.cells[{row, column}];
}

QString TextBeforeZero(const QByteArray& bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    return DecodeCellText(zero < 0 ? bytes : bytes.left(zero));
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
    if (!in.Fits(t.rows, kWord)) return false;
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
    if (!in.Fits(count, ColumnKindSize)) return false;
    for (qint64 i = 0; i < count; ++i) {
        if (!in.Has(ColumnKindSize)) return false;
        const qint32 texts = qint32(ReadWord(in.data + in.pos + kColumnKindListCountAt));
        if (!in.Fits(texts, ColumnKindTextSize)) return false;
        const qint64 recordSize = ColumnKindSize + qint64(texts) * ColumnKindTextSize;
        if (!in.Has(recordSize)) return false;
        t.columnKinds.append(in.Bytes(qsizetype(recordSize)));
    }
    return true;
}

bool ReadMerges(Cursor& in, qint64 count, TableContent& t)
{
    if (!in.Fits(count, MergeSize)) return false;
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
// fixed zero-padded field before.
bool ReadCellText(Cursor& in, bool counted, QByteArray& textBytes)
{
    if (counted) {
        const qint32 n = in.Int();
        if (n < 1 || !in.Has(qint64(n) + kCellTail)) return false;
        textBytes = in.Bytes(n);
        return true;
    }
    const QByteArray field = in.Bytes(LegacyTextSize);
    const qsizetype zero = field.indexOf('\0');
    textBytes = (zero < 0 ? field : field.left(zero)) + '\0';
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
        QByteArray textBytes;
        if (!ReadCellText(in, counted, textBytes)) return false;
        if (!in.Has(kCellTail)) return false;
        const quint32 checkState = in.Word();
        const qint32 pictureSize = in.Int();
        if (!in.Has(pictureSize)) return false;
        const QByteArray picture = in.Bytes(pictureSize);
        if (TableCell* cell = CellAt(t, row, column)) {
            cell->text = TextBeforeZero(textBytes);
            cell->textBytes = textBytes;
            cell->checkState = checkState;
            cell->picture = picture;
        }
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
        if (TableCell* cell = CellAt(t, row, column)) cell->font = font;
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
            if (TableCell* cell = CellAt(t, row, column)) kAttributeLists[list].apply(*cell, value);
        }
    }
    return true;
}

bool ReadRanges(Cursor& in, qint64 count, QVector<QByteArray>& ranges)
{
    if (!in.Fits(count, RangeSize)) return false;
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

// The sections built from the cells, in file order, with their record counts.
struct CellSections {
    QByteArray cells;
    QByteArray fonts;
    QByteArray lists[kAttributeListCount];
    qint32 cellCount = 0;
    qint32 fontCount = 0;
    qint32 listCounts[kAttributeListCount] = {};
};

void AppendCellRecord(QByteArray& out, int row, int column, const TableCell& cell)
{
    // An untouched cell goes back with the very bytes it was read with.
    const QByteArray text = !cell.textBytes.isEmpty() ? cell.textBytes : EncodeCellText(cell.text) + '\0';
    AppendWord(out, quint32(row));
    AppendWord(out, quint32(column));
    AppendWord(out, quint32(text.size()));
    out.append(text);
    AppendWord(out, cell.checkState);
    AppendWord(out, quint32(cell.picture.size()));
    out.append(cell.picture);
}

CellSections CollectCellSections(const TableContent& t)
{
    CellSections s;
    for (const auto& [at, cell] : t.cells) {
        const auto [row, column] = at;
        if (row >= t.rows || column >= t.columns) continue;
        if (!cell.text.isEmpty() || cell.checkState != 0 || !cell.picture.isEmpty()) {
            AppendCellRecord(s.cells, row, column, cell);
            ++s.cellCount;
        }
        if (cell.font.size() == FontSize) {
            AppendWord(s.fonts, quint32(row));
            AppendWord(s.fonts, quint32(column));
            s.fonts.append(cell.font);
            ++s.fontCount;
        }
        for (int list = 0; list < kAttributeListCount; ++list) {
            const std::optional<quint32> value = kAttributeLists[list].written(cell, t);
            if (!value) continue;
            AppendWord(s.lists[list], quint32(row));
            AppendWord(s.lists[list], quint32(column));
            AppendWord(s.lists[list], *value);
            ++s.listCounts[list];
        }
    }
    return s;
}

// The block as read (or a new table's), with the shape and every count as they are now.
QByteArray PropertiesOf(const TableContent& t, const CellSections& s)
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
    PutWord(block, kCellCount, quint32(s.cellCount));
    PutWord(block, kFontCount, quint32(s.fontCount));
    for (int list = 0; list < kAttributeListCount; ++list)
        PutWord(block, kAttributeLists[list].countAt, quint32(s.listCounts[list]));
    PutWord(block, kRangeACount, quint32(t.rangeA.size()));
    PutWord(block, kRangeBCount, quint32(t.rangeB.size()));
    return block;
}

void AppendHeader(QByteArray& out, const TableContent& t)
{
    out.append(Magic, 4);
    AppendWord(out, WrittenVersion);
    char words[4];
    qToLittleEndian<quint16>(t.headerWord1, words);
    qToLittleEndian<quint16>(t.headerWord2, words + 2);
    out.append(words, 4);
}

// `count` words: the sizes given, then `fallback` for any the list lacks.
void AppendSizes(QByteArray& out, const QVector<qint32>& sizes, int count, qint32 fallback)
{
    // Written in place: a million rows appended word by word cost more than the rest of the file.
    const qsizetype at = out.size();
    out.resize(at + kWord * qsizetype(count));
    char* p = out.data() + at;
    for (int i = 0; i < count; ++i, p += kWord) qToLittleEndian<qint32>(i < sizes.size() ? sizes.at(i) : fallback, p);
}

void AppendGeometry(QByteArray& out, const TableContent& t)
{
    AppendSizes(out, t.rowHeights, t.rows, t.defaultRowHeight);
    AppendSizes(out, t.columnWidths, t.columns, t.defaultColumnWidth);
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

quint32 TableContent::GridColour() const { return ReadWord(properties.constData() + kGridColour); }
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

QByteArray EncodeCellText(const QString& text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

QString DecodeCellText(const QByteArray& bytes)
{
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

bool ParseTableFile(const char* data, qsizetype size, TableContent& out)
{
    if (!data || size < MinimumFileSize) return false;
    if (std::memcmp(data + kMagicAt, Magic, 4) != 0) return false;
    const qint32 version = qint32(ReadWord(data + kVersionAt));
    if (PropertiesSizeOf(version) == 0) return false;

    Cursor in{data, size};
    TableContent t;
    RecordCounts counts;
    const bool read = ReadProperties(in, version, t, counts) && ReadGeometry(in, t)
        && ReadColumnKinds(in, counts.columnKinds, t) && ReadMerges(in, counts.merges, t)
        && ReadCells(in, counts.cells, version, t) && ReadFonts(in, counts.fonts, t)
        && ReadAttributeLists(in, counts, t) && ReadRanges(in, counts.rangeA, t.rangeA)
        && ReadRanges(in, counts.rangeB, t.rangeB);
    if (!read) return false;
    if (version < 2) MarkFixedCells(t);

    out = std::move(t);
    return true;
}

QByteArray WriteTableFile(const TableContent& t)
{
    const CellSections s = CollectCellSections(t);
    QByteArray out;
    out.reserve(HeaderSize + PropertiesSize + kWord * (t.rows + t.columns) + s.cells.size()
                + s.lists[kAttributeListCount - 1].size() + 256);
    AppendHeader(out, t);
    out.append(PropertiesOf(t, s));
    AppendGeometry(out, t);
    for (const QByteArray& kind : t.columnKinds) out.append(kind);
    for (const MergeRecord& m : t.merges)
        for (qint32 v : {m.originRow, m.originColumn, m.firstRow, m.firstColumn, m.lastRow, m.lastColumn})
            AppendWord(out, quint32(v));
    out.append(s.cells);
    out.append(s.fonts);
    for (const QByteArray& list : s.lists) out.append(list);
    for (const QByteArray& r : t.rangeA) out.append(r);
    for (const QByteArray& r : t.rangeB) out.append(r);
    // A small table ends before the loader's minimum size; zero bytes after
    // the last section, which no reader looks at, make it a file that loads.
    if (out.size() < MinimumFileSize) out.append(QByteArray(MinimumFileSize - out.size(), '\0'));
    return out;
}
