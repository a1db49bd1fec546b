#pragma once
// The table file: plain data for everything a table file carries, a reader of
// versions 1 to 6 and a writer of version 6. No widget and no model here, so
// the loader can be fuzzed on its own.
//
// Layout (all integers 32-bit little-endian): a 12-byte header ("KTBF",
// version, two 16-bit words), the properties block (124/128/132/136 bytes for
// versions 1-4, 464 for 5 and 6), row heights, column widths, column-kind
// records, merge records, cell records, font records, the seven attribute
// lists and, from versions 3 and 4, the range-A and range-B records.
//
// What a new table writes where the program sets nothing (NewTableContent):
//   default row height 24, default column width 200, every row 24 high and
//   every column 200 wide until the layout changes them;
//   grid-line colour 0xC0C0C0, default background 0xFFFFFF, default text 0x000000;
//   setting words 1-8 and 9-11: 0; setting texts 1 and 2: empty (all zero);
//   alternating colours off (0), by rows (1), odd and even 0xFFFFFF;
//   setting words 12-18: 60, 60, 40, 40, 20, 20, 20;
//   header words at offsets 8 and 10: 0;
//   every cell: text format 0x824, attribute A 0, attribute B 9, flag 0,
//   table's default font and colours, check state 0, no picture; cell state
//   0x10 on the cells of the fixed rows and columns, 0 elsewhere.
// Everything read from a file that the program never sets (setting words and
// texts, colours, fonts, attributes, column-kind, merge and range records) is
// kept as read and written back unchanged.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace TableFileFormat {
constexpr char Magic[4] = {'K', 'T', 'B', 'F'};
constexpr int WrittenVersion = 6;
constexpr qsizetype MinimumFileSize = 540;
// A laid-out table file is a few kilobytes; anything larger than this is not
// taken for one, so a stray huge file cannot exhaust memory.
constexpr qint64 LargestFileSize = qint64(256) << 20;
// What a loaded table may take in memory besides the file's own bytes: twice
// the file, and a little more for small files (a laid-out table of 97 rows
// takes some 60 KB for a 5 KB file). A file whose records would take more
// (millions of tiny records, each a cell of its own) is refused.
constexpr qint64 SmallTableMemory = qint64(48) << 20;
constexpr qint64 LargestTableMemory(qint64 fileSize) { return 2 * fileSize + SmallTableMemory; }
// The longest cell text (in UTF-16 units) sure to fit such a file: a unit
// never takes more than 4 bytes in GB18030.
constexpr int LargestCellText = int((LargestFileSize - MinimumFileSize) / 4);
constexpr qsizetype HeaderSize = 12;
constexpr qsizetype PropertiesSize = 464;   // versions 5 and 6
constexpr qsizetype LegacyTextSize = 256;   // fixed cell texts before version 6
constexpr qsizetype ColumnKindSize = 40;
constexpr qsizetype ColumnKindTextSize = 100;
constexpr qsizetype MergeSize = 24;
constexpr qsizetype FontSize = 60;          // LOGFONTA
constexpr qsizetype AttributeRecordSize = 12;
constexpr qsizetype RangeSize = 16;

// DrawText flags of a cell's text format.
constexpr quint32 AlignCentre = 0x1;
constexpr quint32 AlignRight = 0x2;
constexpr quint32 VerticalCentre = 0x4;
constexpr quint32 AlignBottom = 0x8;
constexpr quint32 WordBreak = 0x10;
constexpr quint32 SingleLine = 0x20;
constexpr quint32 DefaultTextFormat = 0x824;  // single line, vertically centred, no prefix
constexpr quint32 DefaultAttributeA = 0;
constexpr quint32 DefaultAttributeB = 9;
constexpr quint32 FixedCellState = 0x10;

constexpr int NewDefaultRowHeight = 24;
constexpr int NewDefaultColumnWidth = 200;
constexpr quint32 NewGridColour = 0xC0C0C0;
constexpr quint32 NewBackgroundColour = 0xFFFFFF;
constexpr quint32 NewTextColour = 0x000000;

// Size of the properties block of a version, 0 for a version that is not read.
qsizetype PropertiesSizeOf(int version);
}  // namespace TableFileFormat

struct TableCell {
    QString text;
    // The text's bytes with its zero byte exactly as a file held them; emptied
    // when the text changes, so an untouched cell is written back byte for byte.
    QByteArray textBytes;
    quint32 checkState = 0;
    QByteArray picture;
    QByteArray font;  // LOGFONTA bytes; empty for the table's default font
    std::optional<quint32> background;  // COLORREF; none for the table's default
    std::optional<quint32> textColour;
    quint32 textFormat = TableFileFormat::DefaultTextFormat;
    quint32 attributeA = TableFileFormat::DefaultAttributeA;
    quint32 attributeB = TableFileFormat::DefaultAttributeB;
    quint32 flag = 0;
    quint32 state = 0;
};

struct MergeRecord {
    qint32 originRow, originColumn, firstRow, firstColumn, lastRow, lastColumn;
};

struct TableContent {
    quint16 headerWord1 = 0;
    quint16 headerWord2 = 0;
    int rows = 0;
    int columns = 0;
    int fixedRows = 0;
    int fixedColumns = 0;
    int defaultRowHeight = TableFileFormat::NewDefaultRowHeight;
    int defaultColumnWidth = TableFileFormat::NewDefaultColumnWidth;
    // The whole 464-byte properties block; the fields above and the record
    // counts are written over it, everything else goes out as it stands.
    QByteArray properties;
    QVector<qint32> rowHeights;
    QVector<qint32> columnWidths;
    QVector<QByteArray> columnKinds;  // whole records: 40 bytes + 100 per list text
    QVector<MergeRecord> merges;
    // Only cells that differ from a new cell are present; keyed (row, column),
    // so iteration is row then column order, the order of the file.
    std::map<std::pair<int, int>, TableCell> cells;
    QVector<QByteArray> rangeA;  // 16 bytes each
    QVector<QByteArray> rangeB;

    bool IsFixed(int row, int column) const { return row < fixedRows || column < fixedColumns; }
    quint32 DefaultBackground() const;
    quint32 DefaultTextColour() const;
};

// A table of the given shape with one fixed row and column, as the program
// creates it before laying it out.
TableContent NewTableContent(int rows, int columns);

// A cell text from the bytes the file stores (GB18030, no zero byte).
QString DecodeCellText(QByteArrayView bytes);

enum class TableFileProblem {
    None,
    NotATable,         // too short, wrong magic or version, a section that does not fit
    TooLargeFile,      // larger than LargestFileSize: not read at all
    TooLargeInMemory,  // its records would take more memory than LargestTableMemory
    OutOfMemory,       // the system did not give the memory it takes
};

// Reads a whole table file. On any inconsistency (too short, wrong magic or
// version, a section or record that does not fit, a negative count) gives
// false and leaves `out` untouched; so it does when the table would take
// more than LargestTableMemory(size) or the system has not that much to
// give (`problem` says which).
bool ParseTableFile(const char* data, qsizetype size, TableContent& out, TableFileProblem* problem = nullptr);
inline bool ParseTableFile(const QByteArray& bytes, TableContent& out, TableFileProblem* problem = nullptr)
{
    return ParseTableFile(bytes.constData(), bytes.size(), out, problem);
}

// The version-6 file of a table; a table too small to reach MinimumFileSize
// is followed by zero bytes up to it.
QByteArray WriteTableFile(const TableContent& table);
// The same handed to `take` in pieces of about 64 KB, so it is never whole in memory.
void WriteTableFilePieces(const TableContent& table, const std::function<void(QByteArrayView)>& take);
// Its size, without writing it.
qint64 TableFileSize(const TableContent& table);
// True when WriteTableFile(table) would give exactly `bytes`; compared piece
// by piece, so the file is never in memory twice.
bool WritesBack(const TableContent& table, QByteArrayView bytes);
// A digest (SHA-256) of WriteTableFile(table), made piece by piece.
QByteArray TableFileDigest(const TableContent& table);
