#pragma once
// Hex text <-> bytes. Hex text counts bytes the way GBK does: ASCII one byte,
// every other character two.

#include <QByteArray>
#include <QString>

class UiServices;

// Text to bytes. Trims ASCII and full-width spaces at the ends, drops inner
// ASCII spaces, upper-cases, then decodes pairs. On an odd length or a bad
// character shows the codec's error box (caption "错误") and returns empty.
// An empty or blank text gives empty without a box.
QByteArray HexToBytes(UiServices& ui, const QString& text);

// Two upper-case digits and one space per byte, the last included.
QString BytesToHex(const QByteArray& bytes);

// Value of the first two characters, upper-case digits only; anything else counts 0.
quint8 HexPairToByte(const QString& text);

// The text without any ASCII space or full-width space, wherever they stand
// (how table cells and the learn box are read before they are sent).
QString RemoveBlanks(const QString& text);
