#include "config/TableCsv.h"

#include <QStringDecoder>

#include "config/ConfigTable.h"

namespace {

using namespace TableLayout;

constexpr QChar kFullWidthSpace(0x3000);
const char* const kHeader[] = {"row", "title", "on", "off"};
constexpr int kFieldCount = 4;

bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == kFullWidthSpace; }

bool IsHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// A field goes in quotes when it would otherwise end early or lose its quotes.
QByteArray Field(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r')) return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

struct Record {
    int line = 0;  // where the record begins
    QVector<QByteArray> fields;
};

bool Fail(CsvProblem* problem, int line, const QString& message)
{
    if (problem) *problem = {line, message};
    return false;
}

// Cuts the text into records of fields: commas between fields, a line end
// (LF or CR LF) after each record, quotes around a field that holds either,
// a doubled quote inside quotes for a quote.
bool SplitRecords(const QByteArray& text, QVector<Record>& records, CsvProblem* problem)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    int line = 1;
    auto endsLine = [&](qsizetype at) { return at >= n || text[at] == '\n'; };
    while (i < n) {
        Record record;
        record.line = line;
        for (;;) {
            QByteArray field;
            if (text[i] == '"') {
                const int opened = line;
                for (++i;; ++i) {
                    if (i >= n) return Fail(problem, opened, QStringLiteral("a quoted field is never closed"));
                    if (text[i] == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            field += '"';
                            ++i;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (text[i] == '\n') ++line;
                    field += text[i];
                }
                if (i < n && text[i] == '\r' && endsLine(i + 1)) ++i;
                if (i < n && text[i] != ',' && text[i] != '\n')
                    return Fail(problem, line, QStringLiteral("text follows a closing quote"));
            } else {
                const qsizetype start = i;
                while (i < n && text[i] != ',' && text[i] != '\n') ++i;
                field = text.mid(start, i - start);
                if (field.endsWith('\r') && endsLine(i)) field.chop(1);
            }
            record.fields << field;
            if (i < n && text[i] == ',') {
                ++i;
                if (i < n) continue;
                record.fields << QByteArray();  // a comma at the very end opens one more, empty field
            }
            break;
        }
        if (i < n && text[i] == '\n') {
            ++i;
            ++line;
        }
        records << record;
    }
    return true;
}

bool Decode(const QByteArray& bytes, QString& text)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    text = utf8.decode(bytes);
    return !utf8.hasError();
}

bool IsBlankRecord(const QStringList& fields)
{
    for (const QString& f : fields)
        if (!f.trimmed().isEmpty()) return false;
    return true;
}

bool IsHeader(const QStringList& fields)
{
    for (int k = 0; k < fields.size(); ++k) {
        const QString f = fields.at(k).trimmed().toLower();
        if (k < kFieldCount ? f != QLatin1String(kHeader[k]) : !f.isEmpty()) return false;
    }
    return fields.size() >= kFieldCount;
}

// The row number of a record: decimal digits naming a value row.
bool RowNumber(const QString& field, int& row)
{
    const QString digits = field.trimmed();
    if (digits.isEmpty() || digits.size() > 3) return false;
    for (QChar c : digits)
        if (c < u'0' || c > u'9') return false;
    row = digits.toInt();
    return row >= kFirstValueRow && row <= kLastValueRow;
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
    QString digits;
    digits.reserve(text.size());
    for (QChar c : text) {
        if (IsBlank(c)) continue;
        if (!IsHexDigit(c)) {
            if (reason) *reason = QStringLiteral("'%1' is not a hex digit").arg(c);
            return false;
        }
        digits += c.toUpper();
    }
    if (digits.size() % 2 != 0) {
        if (reason) *reason = QStringLiteral("odd number of hex digits");
        return false;
    }
    QString spaced;
    spaced.reserve(digits.size() * 3 / 2);
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        if (i > 0) spaced += QLatin1Char(' ');
        spaced += digits.mid(i, 2);
    }
    if (code) *code = spaced;
    return true;
}

QByteArray WriteTableCsv(const TableCodes& codes, CellList* notCodes)
{
    QByteArray out = "row,title,on,off\n";
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row) {
        out += QByteArray::number(row) + ',' + Field(codes.title[row]);
        for (int column : {kOnColumn, kOffColumn}) {
            const QString& text = codes.code[row][column];
            QString canonical;
            if (!CanonicalCode(text, &canonical)) {
                canonical = text;
                if (notCodes) notCodes->push_back({row, column});
            }
            out += ',' + Field(canonical);
        }
        out += '\n';
    }
    return out;
}

bool ReadTableCsv(const QByteArray& bytes, TableCodes& out, CsvProblem* problem)
{
    QByteArray text = bytes;
    if (text.startsWith("\xEF\xBB\xBF")) text.remove(0, 3);
    QVector<Record> records;
    if (!SplitRecords(text, records, problem)) return false;

    TableCodes read;
    int lineOfRow[kRows] = {};
    bool headerSeen = false;
    for (const Record& record : records) {
        QStringList fields;
        for (const QByteArray& raw : record.fields) {
            QString field;
            if (!Decode(raw, field)) return Fail(problem, record.line, QStringLiteral("not UTF-8 text"));
            fields << field;
        }
        if (IsBlankRecord(fields)) continue;
        if (!headerSeen) {
            if (!IsHeader(fields))
                return Fail(problem, record.line, QStringLiteral("the first line must be the header row,title,on,off"));
            headerSeen = true;
            continue;
        }
        for (qsizetype k = kFieldCount; k < fields.size(); ++k)
            if (!fields.at(k).trimmed().isEmpty())
                return Fail(problem, record.line, QStringLiteral("more than four fields"));

        int row = 0;
        if (!RowNumber(fields.at(0), row))
            return Fail(problem, record.line,
                        QStringLiteral("\"%1\" is not a row number from 1 to 96").arg(fields.at(0).trimmed()));
        if (lineOfRow[row])
            return Fail(problem, record.line, QStringLiteral("row %1 again (first on line %2)").arg(row).arg(lineOfRow[row]));
        lineOfRow[row] = record.line;

        const int columnOfField[] = {0, 0, kOnColumn, kOffColumn};
        for (int k = 2; k < kFieldCount; ++k) {
            const QString field = k < fields.size() ? fields.at(k) : QString();
            QString reason;
            if (!CanonicalCode(field, &read.code[row][columnOfField[k]], &reason))
                return Fail(problem, record.line, QStringLiteral("bad %1 code: %2").arg(QLatin1String(kHeader[k]), reason));
        }
    }
    if (!headerSeen) return Fail(problem, 1, QStringLiteral("no header row,title,on,off"));
    out = read;
    return true;
}
