#include "config/CodeCheck.h"

void CodeScan::Add(char32_t c)
{
    if (notHex_) return;
    if (IsCodeBlank(c)) {
        blankAfterOddDigit_ = blankAfterOddDigit_ || count_ % 2 != 0;
        return;
    }
    const bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    if (!hex) {
        notHex_ = true;
        bad_ = c;
        return;
    }
    // Only a blank with digits after it splits a byte; trailing ones leave the count odd.
    split_ = split_ || blankAfterOddDigit_;
    if (kept_ < 0 || count_ < kept_) digits_ += char(c >= u'a' ? c - (u'a' - u'A') : c);
    ++count_;
}

CodeFault CodeScan::Fault() const
{
    if (notHex_) return CodeFault::NotHexDigit;
    if (count_ % 2 != 0) return CodeFault::OddDigits;
    return split_ ? CodeFault::SplitByte : CodeFault::None;
}

namespace {
constexpr qsizetype kShownDigits = 32;
}  // namespace

CodeCheck CheckCode(QStringView text, qsizetype keptDigits)
{
    CodeScan scan(keptDigits);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            scan.Add(QChar::surrogateToUcs4(c, text.at(++i)));
        else
            scan.Add(c.unicode());
    }
    CodeCheck check;
    check.fault = scan.Fault();
    if (check.fault == CodeFault::NotHexDigit) check.bad = scan.Bad();
    check.digits = QString::fromLatin1(scan.Digits());
    check.digitCount = scan.DigitCount();
    return check;
}

// One digit more than are shown, so ShownBytes still marks that more follow.
CodeCheck CheckCodeBriefly(QStringView text) { return CheckCode(text, kShownDigits + 1); }

QString PairedDigits(const QString& digits, const QString& separator)
{
    QString out;
    out.reserve(digits.size() / 2 * (2 + separator.size()));
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        if (i > 0) out += separator;
        out += QStringView(digits).mid(i, 2);
    }
    return out;
}

QString ShownBytes(const QString& digits)
{
    if (digits.size() <= kShownDigits) return PairedDigits(digits);
    return PairedDigits(digits.left(kShownDigits)) + QStringLiteral(" …");
}
