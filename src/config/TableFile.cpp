#include "config/TableFile.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QtEndian>
#include <cstring>

using namespace TableFileFormat;

namespace {

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
    char b[4];
    qToLittleEndian<quint32>(value, b);
    out.append(b, 4);
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
    for (int i = 0; i < 7; ++i) PutWord(block, kSettingWords12 + 4 * i, words12to18[i]);
    return block;
}

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
        pos += 4;
        return v;
    }
    QByteArray Bytes(qsizetype n)
    {
        QByteArray b(data + pos, n);
        pos += n;
        return b;
    }
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

// Reads one list of twelve-byte records (row, column, value) into the cells.
template <typename Apply>
bool ReadAttributeList(Cursor& in, qint64 count, TableContent& t, Apply apply)
{
    if (!in.Fits(count, AttributeRecordSize)) return false;
    for (qint64 i = 0; i < count; ++i) {
        const int row = in.Int();
        const int column = in.Int();
        const quint32 value = in.Word();
        if (TableCell* cell = CellAt(t, row, column)) apply(*cell, value);
    }
    return true;
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
    if (std::memcmp(data, Magic, 4) != 0) return false;
    const qint32 version = qint32(ReadWord(data + 4));
    const qsizetype blockSize = PropertiesSizeOf(version);
    if (blockSize == 0) return false;

    Cursor in{data, size, 8};
    TableContent t;
    t.headerWord1 = qFromLittleEndian<quint16>(data + 8);
    t.headerWord2 = qFromLittleEndian<quint16>(data + 10);
    in.pos = HeaderSize;
    if (!in.Has(blockSize)) return false;
    // Older, shorter blocks are the leading part of the current one; what they
    // lack takes a new table's values.
    t.properties = NewProperties();
    std::memcpy(t.properties.data(), data + in.pos, size_t(blockSize));
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

    const qint64 columnKindCount = word(kColumnKindCount);
    const qint64 mergeCount = word(kMergeCount);
    const qint64 cellCount = word(kCellCount);
    const qint64 fontCount = word(kFontCount);
    const qint64 stateCount = version >= 2 ? word(kStateCount) : 0;
    const qint64 rangeACount = version >= 3 ? word(kRangeACount) : 0;
    const qint64 rangeBCount = version >= 4 ? word(kRangeBCount) : 0;

    if (!in.Fits(t.rows, 4)) return false;
    t.rowHeights.resize(t.rows);
    for (qint32& h : t.rowHeights) h = in.Int();
    if (!in.Fits(t.columns, 4)) return false;
    t.columnWidths.resize(t.columns);
    for (qint32& w : t.columnWidths) w = in.Int();

    if (!in.Fits(columnKindCount, ColumnKindSize)) return false;
    for (qint64 i = 0; i < columnKindCount; ++i) {
        if (!in.Has(ColumnKindSize)) return false;
        const qint32 texts = qint32(ReadWord(in.data + in.pos + 36));
        if (!in.Fits(texts, ColumnKindTextSize)) return false;
        const qint64 recordSize = ColumnKindSize + qint64(texts) * ColumnKindTextSize;
        if (!in.Has(recordSize)) return false;
        t.columnKinds.append(in.Bytes(qsizetype(recordSize)));
    }

    if (!in.Fits(mergeCount, MergeSize)) return false;
    for (qint64 i = 0; i < mergeCount; ++i) {
        MergeRecord m;
        m.originRow = in.Int();
        m.originColumn = in.Int();
        m.firstRow = in.Int();
        m.firstColumn = in.Int();
        m.lastRow = in.Int();
        m.lastColumn = in.Int();
        t.merges.append(m);
    }

    // Cell records: row, column, text (counted from version 6, a fixed field
    // before), check state, picture byte count and picture.
    const bool countedTexts = version >= 6;
    const qint64 smallestCell = countedTexts ? 4 + 4 + 4 + 1 + 4 + 4 : 4 + 4 + LegacyTextSize + 4 + 4;
    if (!in.Fits(cellCount, smallestCell)) return false;
    for (qint64 i = 0; i < cellCount; ++i) {
        if (!in.Has(countedTexts ? 12 : 8 + LegacyTextSize)) return false;
        const int row = in.Int();
        const int column = in.Int();
        QByteArray textBytes;
        if (countedTexts) {
            const qint32 n = in.Int();
            if (n < 1 || !in.Has(qint64(n) + 8)) return false;
            textBytes = in.Bytes(n);
        } else {
            const QByteArray field = in.Bytes(LegacyTextSize);
            const qsizetype zero = field.indexOf('\0');
            textBytes = (zero < 0 ? field : field.left(zero)) + '\0';
        }
        if (!in.Has(8)) return false;
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

    const qint64 fontRecord = 8 + FontSize;
    if (!in.Fits(fontCount, fontRecord)) return false;
    for (qint64 i = 0; i < fontCount; ++i) {
        const int row = in.Int();
        const int column = in.Int();
        const QByteArray font = in.Bytes(FontSize);
        if (TableCell* cell = CellAt(t, row, column)) cell->font = font;
    }

    const bool listsRead =
        ReadAttributeList(in, word(kBackgroundCount), t, [](TableCell& c, quint32 v) { c.background = v; }) &&
        ReadAttributeList(in, word(kTextColourCount), t, [](TableCell& c, quint32 v) { c.textColour = v; }) &&
        ReadAttributeList(in, word(kTextFormatCount), t, [](TableCell& c, quint32 v) { c.textFormat = v; }) &&
        ReadAttributeList(in, word(kAttributeACount), t, [](TableCell& c, quint32 v) { c.attributeA = v; }) &&
        ReadAttributeList(in, word(kAttributeBCount), t, [](TableCell& c, quint32 v) { c.attributeB = v; }) &&
        ReadAttributeList(in, word(kFlagCount), t, [](TableCell& c, quint32 v) { c.flag = v; }) &&
        ReadAttributeList(in, stateCount, t, [](TableCell& c, quint32 v) { c.state = v; });
    if (!listsRead) return false;

    if (!in.Fits(rangeACount, RangeSize)) return false;
    for (qint64 i = 0; i < rangeACount; ++i) t.rangeA.append(in.Bytes(RangeSize));
    if (!in.Fits(rangeBCount, RangeSize)) return false;
    for (qint64 i = 0; i < rangeBCount; ++i) t.rangeB.append(in.Bytes(RangeSize));

    if (version < 2) {
        const qint64 fixedCells = qint64(t.fixedRows) * t.columns + qint64(t.fixedColumns) * (t.rows - t.fixedRows);
        if (fixedCells <= kMaxDerivedFixedCells) {
            for (int r = 0; r < t.fixedRows; ++r)
                for (int c = 0; c < t.columns; ++c) t.cells[{r, c}].state = FixedCellState;
            for (int r = t.fixedRows; r < t.rows; ++r)
                for (int c = 0; c < t.fixedColumns; ++c) t.cells[{r, c}].state = FixedCellState;
        }
    }

    out = std::move(t);
    return true;
}

QByteArray WriteTableFile(const TableContent& t)
{
    QByteArray cells, fonts, backgrounds, textColours, formats, attributesA, attributesB, flags, states;
    qint32 cellCount = 0, fontCount = 0, backgroundCount = 0, textColourCount = 0, formatCount = 0,
           attributeACount = 0, attributeBCount = 0, flagCount = 0, stateCount = 0;
    const quint32 defaultBackground = t.DefaultBackground();
    const quint32 defaultTextColour = t.DefaultTextColour();
    const auto attribute = [](QByteArray& list, qint32& count, int row, int column, quint32 value) {
        AppendWord(list, quint32(row));
        AppendWord(list, quint32(column));
        AppendWord(list, value);
        ++count;
    };

    for (const auto& [at, cell] : t.cells) {
        const auto [row, column] = at;
        if (row >= t.rows || column >= t.columns) continue;
        if (!cell.text.isEmpty() || cell.checkState != 0 || !cell.picture.isEmpty()) {
            const QByteArray text = !cell.textBytes.isEmpty() ? cell.textBytes : EncodeCellText(cell.text) + '\0';
            AppendWord(cells, quint32(row));
            AppendWord(cells, quint32(column));
            AppendWord(cells, quint32(text.size()));
            cells.append(text);
            AppendWord(cells, cell.checkState);
            AppendWord(cells, quint32(cell.picture.size()));
            cells.append(cell.picture);
            ++cellCount;
        }
        if (cell.font.size() == FontSize) {
            AppendWord(fonts, quint32(row));
            AppendWord(fonts, quint32(column));
            fonts.append(cell.font);
            ++fontCount;
        }
        if (cell.background && *cell.background <= 0xFFFFFF && *cell.background != defaultBackground)
            attribute(backgrounds, backgroundCount, row, column, *cell.background);
        if (cell.textColour && *cell.textColour <= 0xFFFFFF && *cell.textColour != defaultTextColour)
            attribute(textColours, textColourCount, row, column, *cell.textColour);
        if (cell.textFormat != DefaultTextFormat) attribute(formats, formatCount, row, column, cell.textFormat);
        if (cell.attributeA != DefaultAttributeA) attribute(attributesA, attributeACount, row, column, cell.attributeA);
        if (cell.attributeB != DefaultAttributeB) attribute(attributesB, attributeBCount, row, column, cell.attributeB);
        if (cell.flag != 0) attribute(flags, flagCount, row, column, cell.flag);
        if (cell.state != 0) attribute(states, stateCount, row, column, cell.state);
    }

    QByteArray block = t.properties.size() == PropertiesSize ? t.properties : NewProperties();
    PutWord(block, kRows, quint32(t.rows));
    PutWord(block, kColumns, quint32(t.columns));
    PutWord(block, kFixedRows, quint32(t.fixedRows));
    PutWord(block, kFixedColumns, quint32(t.fixedColumns));
    PutWord(block, kDefaultRowHeight, quint32(t.defaultRowHeight));
    PutWord(block, kDefaultColumnWidth, quint32(t.defaultColumnWidth));
    PutWord(block, kColumnKindCount, quint32(t.columnKinds.size()));
    PutWord(block, kMergeCount, quint32(t.merges.size()));
    PutWord(block, kCellCount, quint32(cellCount));
    PutWord(block, kFontCount, quint32(fontCount));
    PutWord(block, kBackgroundCount, quint32(backgroundCount));
    PutWord(block, kTextColourCount, quint32(textColourCount));
    PutWord(block, kTextFormatCount, quint32(formatCount));
    PutWord(block, kAttributeACount, quint32(attributeACount));
    PutWord(block, kAttributeBCount, quint32(attributeBCount));
    PutWord(block, kFlagCount, quint32(flagCount));
    PutWord(block, kStateCount, quint32(stateCount));
    PutWord(block, kRangeACount, quint32(t.rangeA.size()));
    PutWord(block, kRangeBCount, quint32(t.rangeB.size()));

    QByteArray out;
    out.reserve(HeaderSize + PropertiesSize + 4 * (t.rows + t.columns) + cells.size() + states.size() + 256);
    out.append(Magic, 4);
    AppendWord(out, WrittenVersion);
    char words[4];
    qToLittleEndian<quint16>(t.headerWord1, words);
    qToLittleEndian<quint16>(t.headerWord2, words + 2);
    out.append(words, 4);
    out.append(block);
    for (int r = 0; r < t.rows; ++r) AppendWord(out, quint32(r < t.rowHeights.size() ? t.rowHeights.at(r) : t.defaultRowHeight));
    for (int c = 0; c < t.columns; ++c)
        AppendWord(out, quint32(c < t.columnWidths.size() ? t.columnWidths.at(c) : t.defaultColumnWidth));
    for (const QByteArray& kind : t.columnKinds) out.append(kind);
    for (const MergeRecord& m : t.merges)
        for (qint32 v : {m.originRow, m.originColumn, m.firstRow, m.firstColumn, m.lastRow, m.lastColumn})
            AppendWord(out, quint32(v));
    out.append(cells);
    out.append(fonts);
    out.append(backgrounds);
    out.append(textColours);
    out.append(formats);
    out.append(attributesA);
    out.append(attributesB);
    out.append(flags);
    out.append(states);
    for (const QByteArray& r : t.rangeA) out.append(r);
    for (const QByteArray& r : t.rangeB) out.append(r);
    return out;
}
