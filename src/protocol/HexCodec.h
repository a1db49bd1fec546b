#pragma once
// Hex text <-> bytes. Hex text counts bytes the way GBK does: ASCII one byte,
// every other character two.

#include <QByteArray>
#include <QString>

// What is wrong with a hex text: an odd number of digits, or the first
// character that is no digit (as the upper-casing left it). The window says
// it in the codec's error box, the command line in words of its own.
struct HexProblem {
    enum class Kind { None, OddLength, BadCharacter };
    Kind kind = Kind::None;
    QString character;  // BadCharacter: the whole character, a double-byte one included
    explicit operator bool() const { return kind != Kind::None; }
};

// Text to bytes. Trims ASCII and full-width spaces at the ends, drops inner
// ASCII spaces, upper-cases, then decodes pairs. On an odd length or a bad
// character returns empty and says which in `problem` (when given); an empty
// or blank text gives empty with no problem.
QByteArray HexToBytes(const QString& text, HexProblem* problem = nullptr);

// Two upper-case digits and one space per byte, the last included.
QString BytesToHex(const QByteArray& bytes);

// Value of the first two characters, upper-case digits only; anything else counts 0.
quint8 HexPairToByte(const QString& text);

// The text without any ASCII space or full-width space, wherever they stand
// (how table cells and the learn box are read before they are sent).
QString RemoveBlanks(const QString& text);
