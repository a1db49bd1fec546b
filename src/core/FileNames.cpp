#include "core/FileNames.h"

#include <QStringDecoder>

namespace {
constexpr char16_t kEscapedByteBase = 0xDC00;

bool IsEscapedByte(char16_t unit) { return unit >= 0xDC80 && unit <= 0xDCFF; }
}  // namespace

QByteArray NativeFileName(const QString& name)
{
    QByteArray out;
    out.reserve(name.size());
    qsizetype plainFrom = 0;
    const auto flush = [&](qsizetype to) {
        if (to > plainFrom) out += QStringView(name).mid(plainFrom, to - plainFrom).toUtf8();
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name.at(i).unicode();
        // A low surrogate after a high one is half of a real character.
        const bool paired = i > 0 && name.at(i - 1).isHighSurrogate();
        if (!IsEscapedByte(unit) || paired) continue;
        flush(i);
        out += char(unit - kEscapedByteBase);
        plainFrom = i + 1;
    }
    flush(name.size());
    return out;
}

QString FileNameFromNative(const QByteArray& bytes)
{
    QString out;
    qsizetype i = 0;
    while (i < bytes.size()) {
        // The longest run that is valid UTF-8 goes in as text; the byte that
        // stops it goes in escaped.
        qsizetype end = i;
        while (end < bytes.size()) {
            const uchar lead = uchar(bytes[end]);
            const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
            if (length == 0 || end + length > bytes.size()) break;
            QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString one = strict.decode(QByteArrayView(bytes).sliced(end, length));
            if (strict.hasError() || one.contains(QChar::ReplacementCharacter)) break;
            end += length;
        }
        out += QString::fromUtf8(QByteArrayView(bytes).sliced(i, end - i));
        if (end < bytes.size()) out += QChar(char16_t(kEscapedByteBase + uchar(bytes[end])));
        i = end + 1;
    }
    return out;
}

bool IsFaithfulFileName(const QString& name) { return !name.contains(QChar::ReplacementCharacter); }

QString Printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        const bool paired = i > 0 && text.at(i - 1).isHighSurrogate();
        int byte = -1;
        if (unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit < 0xA0)) byte = unit;
        else if (IsEscapedByte(unit) && !paired) byte = unit - kEscapedByteBase;
        if (byte < 0) out += QChar(unit);
        else out += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return out;
}
