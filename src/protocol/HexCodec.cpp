#include "protocol/HexCodec.h"

#include <QStringEncoder>

namespace {

constexpr QChar kFullWidthSpace(0x3000);  // A1 A1 in GBK

bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == kFullWidthSpace; }

int NibbleValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hands every byte of `text` in the module's code page to `take(byte,
// character index)`, in order, without keeping them: a code of millions of
// characters costs no more than its text. Stops when `take` gives false.
template <typename Take>
void ForEachGbkByte(const QString& text, Take take)
{
    QStringEncoder gbk("GB18030");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < 0x80) {
            if (!take(char(c.unicode()), i)) return;
            continue;
        }
        qsizetype len = 1;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) len = 2;
        const QByteArray encoded = gbk.encode(QStringView(text).mid(i, len));
        for (char b : encoded)
            if (!take(b, i)) return;
        i += len - 1;
    }
}

}  // namespace

QByteArray HexToBytes(const QString& text, HexProblem* problem)
{
    HexProblem none;
    HexProblem& found = problem ? *problem : none;
    found = HexProblem{};
    qsizetype begin = 0, end = text.size();
    while (begin < end && IsBlank(text.at(begin))) ++begin;
    while (end > begin && IsBlank(text.at(end - 1))) --end;

    QString cleaned;
    cleaned.reserve(end - begin);
    for (qsizetype i = begin; i < end; ++i) {
        QChar c = text.at(i);
        if (c == QLatin1Char(' ')) continue;
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
        cleaned.append(c);
    }

    // Counted first: an odd length is said before any bad character.
    qsizetype count = 0;
    ForEachGbkByte(cleaned, [&count](char, qsizetype) { return ++count, true; });
    if (count % 2 != 0) {
        found.kind = HexProblem::Kind::OddLength;
        return {};
    }

    QByteArray result(count / 2, '\0');
    qsizetype done = 0;
    qsizetype badCharacter = -1;
    ForEachGbkByte(cleaned, [&](char byte, qsizetype character) {
        const int nibble = NibbleValue(byte);
        if (nibble < 0) {
            badCharacter = character;
            return false;
        }
        result[done / 2] = char(done % 2 == 0 ? nibble << 4 : result[done / 2] | nibble);
        ++done;
        return true;
    });
    if (badCharacter >= 0) {
        // Name the whole character, not half of a double-byte one.
        found.kind = HexProblem::Kind::BadCharacter;
        found.character = cleaned.mid(badCharacter, cleaned.at(badCharacter).isHighSurrogate() ? 2 : 1);
        return {};
    }
    return result;
}

QString BytesToHex(const QByteArray& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() * 3);
    for (char b : bytes) {
        const auto v = quint8(b);
        out.append(QLatin1Char(digits[v >> 4]));
        out.append(QLatin1Char(digits[v & 0x0F]));
        out.append(QLatin1Char(' '));
    }
    return out;
}

quint8 HexPairToByte(const QString& text)
{
    auto value = [&](qsizetype i) {
        if (i >= text.size() || text.at(i).unicode() >= 0x80) return 0;
        const int v = NibbleValue(char(text.at(i).unicode()));
        return v < 0 ? 0 : v;
    };
    return quint8(16 * value(0) + value(1));
}

QString RemoveBlanks(const QString& text)
{
    QString out = text;
    out.removeIf([](QChar c) { return IsBlank(c); });
    return out;
}
