#pragma once
// Whether a cell's text is a code as the user meant it. The upload drops
// every blank (ASCII and full-width space) and reads what is left as pairs of
// hex digits, so "c0 2 ff 0" goes out as C0 2F F0: a blank that splits a pair
// is taken as sent, but hardly ever as meant, and is told as a fault here.

#include <QByteArray>
#include <QString>

// A blank the upload drops from a code: an ASCII or a full-width space.
constexpr bool IsCodeBlank(char32_t c) { return c == u' ' || c == 0x3000; }

enum class CodeFault {
    None,
    NotHexDigit,  // a character that is neither a hex digit nor a blank
    OddDigits,
    SplitByte,    // a blank stands between the two digits of a byte
};

// Follows a code character by character, for text that streams past. The
// fault, in this order: a character that is no hex digit, an odd number of
// digits, a blank inside a byte. Blank text (no digits) is no code and no
// fault either.
class CodeScan {
public:
    // Keeps the first `keptDigits` digits (all when negative); the fault is
    // judged on every digit either way.
    explicit CodeScan(qsizetype keptDigits = -1) : kept_(keptDigits) {}
    void Add(char32_t c);
    // The fault of what was added, as if the text ended here.
    CodeFault Fault() const;
    // The first character that is no hex digit (NotHexDigit).
    QString Bad() const { return QString::fromUcs4(&bad_, 1); }
    // The hex digits kept, upper-cased, without blanks: what the upload reads.
    const QByteArray& Digits() const { return digits_; }
    // How many hex digits there are, kept or not.
    qsizetype DigitCount() const { return count_; }
    // Lets the digits go (they may be long) once they have been taken.
    QByteArray TakeDigits() { return std::move(digits_); }

private:
    qsizetype kept_;
    QByteArray digits_;
    qsizetype count_ = 0;
    char32_t bad_ = 0;
    bool notHex_ = false;
    bool blankAfterOddDigit_ = false;
    bool split_ = false;
};

struct CodeCheck {
    CodeFault fault = CodeFault::None;
    QString bad;     // NotHexDigit: the character
    QString digits;  // the hex digits, upper-cased, without blanks (those kept)
    qsizetype digitCount = 0;  // all of them
};

CodeCheck CheckCode(QStringView text, qsizetype keptDigits = -1);
// The same for a text of any length: keeps no more of the digits than
// ShownBytes shows, so a cell of millions of characters costs no copy.
CodeCheck CheckCodeBriefly(QStringView text);

// The digits in pairs, each pair followed by `separator` except the last.
QString PairedDigits(const QString& digits, const QString& separator = QStringLiteral(" "));
// For a message: the first 16 bytes of the digits in pairs, " …" when more follow.
QString ShownBytes(const QString& digits);
