#include "config/TableCsv.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "config/CodeCheck.h"
#include "config/ConfigTable.h"

namespace {

using namespace TableLayout;

const char* const kHeader[] = {"row", "title", "on", "off"};
constexpr int kFieldCount = 4;

// Appends `text` as a field in UTF-8, in quotes when it would otherwise end
// early or lose its quotes. Encoded piece by piece (never splitting a
// surrogate pair), so a long text is never copied whole.
void AppendField(QByteArray& out, QStringView text)
{
    const bool quoted = std::any_of(text.begin(), text.end(),
                                    [](QChar c) { return c == u',' || c == u'"' || c == u'\n' || c == u'\r'; });
    if (quoted) out += '"';
    if (FormulaLike(text)) out += '\'';
    constexpr qsizetype kPiece = 1 << 16;
    for (qsizetype from = 0; from < text.size();) {
        qsizetype size = qMin(kPiece, text.size() - from);
        if (text.at(from + size - 1).isHighSurrogate() && from + size < text.size()) ++size;
        QByteArray piece = text.sliced(from, size).toUtf8();
        if (quoted) piece.replace("\"", "\"\"");
        out += piece;
        from += size;
    }
    if (quoted) out += '"';
}

// The upper-case digit of a hex digit, 0 for anything else.
char HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if ((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F')) return char(u);
    if (u >= u'a' && u <= u'f') return char(u - (u'a' - u'A'));
    return 0;
}

// Appends the CSV form of a code straight from its text, written into its
// place, so a code of any length takes no copy besides the CSV itself.
// False, and nothing appended, when the text is no code.
bool AppendCanonicalCode(QByteArray& out, QStringView text)
{
    const CodeCheck check = CheckCodeBriefly(text);
    if (check.fault != CodeFault::None) return false;
    const qsizetype at = out.size();
    const qsizetype digits = check.digitCount;
    out.resize(at + (digits > 0 ? digits / 2 * 3 - 1 : 0));
    char* p = out.data() + at;
    qsizetype n = 0;
    for (QChar c : text) {
        const char digit = HexDigit(c);
        if (!digit) continue;  // a blank: anything else is no code
        if (n > 0 && n % 2 == 0) *p++ = ' ';
        *p++ = digit;
        ++n;
    }
    return true;
}

// Why a code is refused, in English.
QString FaultReason(CodeFault fault, const QString& bad, const QString& digits)
{
    switch (fault) {
    case CodeFault::None: break;
    case CodeFault::NotHexDigit: return QStringLiteral("'%1' is not a hex digit").arg(bad);
    case CodeFault::OddDigits: return QStringLiteral("odd number of hex digits");
    case CodeFault::SplitByte: return QStringLiteral("a blank splits a byte (the module would get %1)").arg(ShownBytes(digits));
    }
    return QString();
}

// Decodes UTF-8 one byte at a time, refusing what a strict decoder refuses:
// stray continuation bytes, overlong forms, surrogates, code points past U+10FFFF.
class Utf8Decoder {
public:
    enum Result { Invalid, Incomplete, Complete };
    Result Add(quint8 b)
    {
        if (need_ == 0) {
            if (b < 0x80) return Start(b, 0, 0);
            if (b >= 0xC2 && b <= 0xDF) return Start(b & 0x1F, 1, 0x80);
            if (b >= 0xE0 && b <= 0xEF) return Start(b & 0x0F, 2, 0x800);
            if (b >= 0xF0 && b <= 0xF4) return Start(b & 0x07, 3, 0x10000);
            return Invalid;
        }
        if ((b & 0xC0) != 0x80) {
            need_ = 0;
            return Invalid;
        }
        point_ = (point_ << 6) | (b & 0x3F);
        if (--need_ > 0) return Incomplete;
        if (point_ < least_ || point_ > 0x10FFFF || (point_ >= 0xD800 && point_ <= 0xDFFF)) return Invalid;
        return Complete;
    }
    bool InSequence() const { return need_ > 0; }
    char32_t Point() const { return point_; }
    void Reset() { need_ = 0; }

private:
    Result Start(char32_t bits, int need, char32_t least)
    {
        point_ = bits;
        need_ = need;
        least_ = least;
        return need == 0 ? Complete : Incomplete;
    }
    char32_t point_ = 0;
    char32_t least_ = 0;
    int need_ = 0;
};

// The fields of one record as they stream past: each is checked as UTF-8
// and for blankness; the first few bytes are kept for the row number and the
// header, and a code field keeps only its hex digits.
struct FieldScan {
    static constexpr qsizetype kHeadBytes = 64;

    QByteArray head;      // the field's first kHeadBytes bytes
    bool longer = false;  // more bytes followed them
    bool valid = true;
    bool blank = true;
    // Code fields only: the code as it streams past.
    CodeScan code;

    void BeginField()
    {
        utf8_.Reset();
        first_ = true;
    }
    void Add(char byte, bool isCode)
    {
        if (head.size() < kHeadBytes) head += byte;
        else longer = true;
        switch (utf8_.Add(quint8(byte))) {
        case Utf8Decoder::Invalid: valid = false; return;
        case Utf8Decoder::Incomplete: return;
        case Utf8Decoder::Complete: break;
        }
        const char32_t c = utf8_.Point();
        // A byte-order mark opening a field is no character of it.
        if (std::exchange(first_, false) && c == 0xFEFF) return;
        if (!QChar::isSpace(c)) blank = false;
        if (isCode) code.Add(c);
    }
    void EndField()
    {
        if (utf8_.InSequence()) valid = false;
    }
    // The kept bytes as text, trimmed; "…" marks what was cut.
    QString Text() const
    {
        const QString text = QString::fromUtf8(head).trimmed();
        return longer ? text + QChar(0x2026) : text;
    }

private:
    Utf8Decoder utf8_;
    bool first_ = true;
};

bool Fail(CsvProblem& problem, int line, const QString& message)
{
    problem = {line, message};
    return false;
}

// "row 5", "rows 5 and 9", "rows 5, 7 and 12-96": the value rows that no
// record named (a line of 0); empty when every one was.
QString MissingRows(const int (&lineOfRow)[kRows])
{
    const auto missing = std::count(std::begin(lineOfRow) + kFirstValueRow, std::begin(lineOfRow) + kLastValueRow + 1, 0);
    if (missing == 0) return QString();
    QStringList runs;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row) {
        if (lineOfRow[row]) continue;
        int last = row;
        while (last < kLastValueRow && !lineOfRow[last + 1]) ++last;
        runs << (last == row ? QString::number(row) : QStringLiteral("%1-%2").arg(row).arg(last));
        row = last;
    }
    const QString last = runs.takeLast();
    return (missing == 1 ? QStringLiteral("row ") : QStringLiteral("rows "))
        + (runs.isEmpty() ? last : runs.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last);
}

}  // namespace

bool TableCodes::operator==(const TableCodes& other) const
{
    for (int r = 0; r < kRows; ++r) {
        if (title[r] != other.title[r]) return false;
        for (int c = 0; c < kColumns; ++c)
            if (code[r][c] != other.code[r][c]) return false;
    }
    return true;
}

TableCodes CodesOf(const ConfigTable& table)
{
    TableCodes codes;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row) {
        codes.title[row] = table.GetCellText(row, 0);
        for (int column : {kOnColumn, kOffColumn}) codes.code[row][column] = table.GetCellText(row, column);
    }
    return codes;
}

void PutCodes(const TableCodes& codes, ConfigTable& table)
{
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) table.SetCellText(row, column, codes.code[row][column]);
}

bool CanonicalCode(const QString& text, QString* code, QString* reason)
{
    QByteArray canonical;
    if (AppendCanonicalCode(canonical, text)) {
        if (code) *code = QString::fromLatin1(canonical);
        return true;
    }
    const CodeCheck check = CheckCodeBriefly(text);
    if (reason) *reason = FaultReason(check.fault, check.bad, check.digits);
    return false;
}

bool FormulaLike(QStringView text)
{
    return !text.isEmpty() && QStringView(u"=+-@\t\r").contains(text.front());
}

QByteArray WriteTableCsv(const TableCodes& codes, CellList* notCodes)
{
    QByteArray out = "row,title,on,off\n";
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row) {
        out += QByteArray::number(row) + ',';
        AppendField(out, codes.title[row]);
        for (int column : {kOnColumn, kOffColumn}) {
            const QString& text = codes.code[row][column];
            out += ',';
            // A text that is no code goes as it stands.
            if (AppendCanonicalCode(out, text)) continue;
            AppendField(out, text);
            if (notCodes) notCodes->push_back({row, column});
        }
        out += '\n';
    }
    return out;
}

// --- reading ---------------------------------------------------------------

struct TableCsvReader::State {
    enum class Mode {
        FieldStart,     // nothing of the field yet
        Unquoted,
        Quoted,
        QuoteInQuotes,  // a quote inside quotes: doubled, or the closing one
        AfterQuotes,    // the closing quote; a comma or the line end must follow
    };

    CsvProblem problem;
    bool refused = false;
    qint64 bytes = 0;
    QByteArray start;  // the first bytes, until it is known whether they are a byte-order mark
    bool started = false;

    int line = 1;
    Mode mode = Mode::FieldStart;
    bool carriageReturn = false;  // a CR outside quotes: a line end, with the LF that may follow
    int quoteLine = 0;            // where the open quote is

    bool recordOpen = false;
    int recordLine = 1;
    int field = 0;  // index of the field being read
    // Fields 0 to 3 (row, title, on, off); every field after them goes into the fifth.
    FieldScan scans[kFieldCount + 1];

    bool headerSeen = false;
    int lineOfRow[kRows] = {};  // where each row was named; 0: not yet
    TableCodes read;

    FieldScan& Scan() { return scans[qMin(field, kFieldCount)]; }
    bool IsCodeField() const { return field == 2 || field == 3; }

    bool Refuse(int at, const QString& message)
    {
        refused = true;
        return Fail(problem, at, message);
    }

    void OpenRecord()
    {
        recordOpen = true;
        recordLine = line;
        field = 0;
        for (FieldScan& scan : scans) scan = FieldScan();
        scans[0].BeginField();
    }
    void AddToField(char byte) { Scan().Add(byte, IsCodeField()); }
    void NextField()
    {
        Scan().EndField();
        ++field;
        Scan().BeginField();
        mode = Mode::FieldStart;
    }
    bool EndRecord()
    {
        Scan().EndField();
        recordOpen = false;
        mode = Mode::FieldStart;
        return TakeRecord();
    }

    // The first bytes held back, once it is known whether they are a byte-order mark.
    bool TakeStart()
    {
        started = true;
        if (start == "\xEF\xBB\xBF") return true;
        for (char byte : std::as_const(start))
            if (!Take(byte)) return false;
        return true;
    }
    bool Take(char byte);
    bool TakeRecord();
    bool End();
};

bool TableCsvReader::State::Take(char byte)
{
    if (carriageReturn) {
        carriageReturn = false;
        // A CR on its own ends its line as well (files of old Macs); CR LF is one line end.
        if (byte != '\n') {
            const bool taken = EndRecord();
            ++line;
            if (!taken) return false;
        }
    }
    if (line > TableCsvLimits::MostLines)
        return Refuse(line, QStringLiteral("more than %1 lines").arg(TableCsvLimits::MostLines));
    if (!recordOpen) OpenRecord();
    switch (mode) {
    case Mode::FieldStart:
        if (byte == '"') {
            mode = Mode::Quoted;
            quoteLine = line;
            return true;
        }
        mode = Mode::Unquoted;
        [[fallthrough]];
    case Mode::Unquoted:
        break;
    case Mode::Quoted:
        if (byte == '"') mode = Mode::QuoteInQuotes;
        else {
            if (byte == '\n') ++line;
            AddToField(byte);
        }
        return true;
    case Mode::QuoteInQuotes:
        if (byte == '"') {
            AddToField('"');
            mode = Mode::Quoted;
            return true;
        }
        mode = Mode::AfterQuotes;
        [[fallthrough]];
    case Mode::AfterQuotes:
        if (byte != ',' && byte != '\n' && byte != '\r') return Refuse(line, QStringLiteral("text follows a closing quote"));
        break;
    }
    switch (byte) {
    case ',':
        NextField();
        return true;
    case '\n': {
        const bool taken = EndRecord();
        ++line;
        return taken;
    }
    case '\r':
        carriageReturn = true;
        return true;
    default:
        AddToField(byte);
        return true;
    }
}

bool TableCsvReader::State::TakeRecord()
{
    const int fields = field + 1;
    for (int k = 0; k < qMin(fields, kFieldCount + 1); ++k)
        if (!scans[k].valid) return Refuse(recordLine, QStringLiteral("not UTF-8 text"));
    bool blank = true;
    for (int k = 0; k < qMin(fields, kFieldCount + 1); ++k) blank = blank && scans[k].blank;
    if (blank) return true;

    if (!headerSeen) {
        bool header = fields >= kFieldCount && (fields == kFieldCount || scans[kFieldCount].blank);
        for (int k = 0; header && k < kFieldCount; ++k) header = scans[k].Text().toLower() == QLatin1String(kHeader[k]);
        if (!header) return Refuse(recordLine, QStringLiteral("the first line must be the header row,title,on,off"));
        headerSeen = true;
        return true;
    }
    if (fields > kFieldCount && !scans[kFieldCount].blank) return Refuse(recordLine, QStringLiteral("more than four fields"));

    // The row number: decimal digits naming a value row.
    const QString digits = scans[0].Text();
    const bool allDigits = !digits.isEmpty() && digits.size() <= 3
        && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    const int row = allDigits ? digits.toInt() : 0;
    if (row < kFirstValueRow || row > kLastValueRow)
        return Refuse(recordLine, QStringLiteral("\"%1\" is not a row number from 1 to 96").arg(digits));
    if (lineOfRow[row]) return Refuse(recordLine, QStringLiteral("row %1 again (first on line %2)").arg(row).arg(lineOfRow[row]));
    lineOfRow[row] = recordLine;

    const int columnOfField[] = {0, 0, kOnColumn, kOffColumn};
    for (int k = 2; k < kFieldCount; ++k) {
        QString& code = read.code[row][columnOfField[k]];
        if (k >= fields) continue;  // a missing trailing field is an empty code
        CodeScan& scan = scans[k].code;
        if (const CodeFault fault = scan.Fault(); fault != CodeFault::None)
            return Refuse(recordLine, QStringLiteral("bad %1 code: %2")
                                          .arg(QLatin1String(kHeader[k]),
                                               FaultReason(fault, scan.Bad(), QString::fromLatin1(scan.Digits()))));
        const QByteArray hex = scan.TakeDigits();
        // Pairs separated by one space, written straight into a string of the final size.
        const qsizetype pairs = hex.size() / 2;
        code.resize(pairs > 0 ? pairs * 3 - 1 : 0);
        QChar* out = code.data();
        for (qsizetype i = 0; i < pairs; ++i) {
            if (i > 0) *out++ = QLatin1Char(' ');
            *out++ = QLatin1Char(hex[2 * i]);
            *out++ = QLatin1Char(hex[2 * i + 1]);
        }
    }
    return true;
}

bool TableCsvReader::State::End()
{
    if (mode == Mode::Quoted) return Refuse(quoteLine, QStringLiteral("a quoted field is never closed"));
    carriageReturn = false;  // a CR at the very end belongs to no field
    if (recordOpen && !EndRecord()) return false;
    if (!headerSeen) return Refuse(1, QStringLiteral("no header row,title,on,off"));
    if (const QString missing = MissingRows(lineOfRow); !missing.isEmpty())
        return Refuse(0, QStringLiteral("%1 missing: a table's CSV has every row from 1 to 96, each once").arg(missing));
    return true;
}

TableCsvReader::TableCsvReader() : d(std::make_unique<State>()) {}
TableCsvReader::~TableCsvReader() = default;

const CsvProblem& TableCsvReader::Problem() const { return d->problem; }

bool TableCsvReader::Feed(const char* data, qsizetype size)
{
    if (d->refused) return false;
    d->bytes += size;
    if (d->bytes > TableCsvLimits::LargestText)
        return d->Refuse(0, QStringLiteral("larger than %1 MB").arg(TableCsvLimits::LargestText >> 20));
    qsizetype i = 0;
    if (!d->started) {
        // A byte-order mark may come in pieces; hold the first bytes until it is known.
        while (i < size && d->start.size() < 3) d->start += data[i++];
        if (d->start.size() < 3) return true;
        if (!d->TakeStart()) return false;
    }
    for (; i < size; ++i)
        if (!d->Take(data[i])) return false;
    return true;
}

bool TableCsvReader::Finish(TableCodes& out)
{
    if (d->refused) return false;
    if (!d->started && !d->TakeStart()) return false;
    if (!d->End()) return false;
    out = d->read;
    return true;
}

bool ReadTableCsv(const QByteArray& bytes, TableCodes& out, CsvProblem* problem)
{
    TableCsvReader reader;
    if (reader.Feed(bytes.constData(), bytes.size()) && reader.Finish(out)) return true;
    if (problem) *problem = reader.Problem();
    return false;
}
