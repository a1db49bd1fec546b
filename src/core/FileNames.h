#pragma once
// File names as the system keeps them: bytes. Inside the program they are
// QStrings; a name whose bytes are not UTF-8 keeps each stray byte as a lone
// low surrogate (U+DC80 + byte), so it comes back out as the very bytes it
// was, and shows as "\xNN" wherever a message names it.

#include <QByteArray>
#include <QString>

// The bytes of `name` for the system's file calls.
QByteArray NativeFileName(const QString& name);
// The name the system gave as `bytes`, every byte kept.
QString FileNameFromNative(const QByteArray& bytes);
// False for a name that cannot be the one the user chose: one that holds the
// replacement character Qt puts for bytes it could not read as UTF-8.
bool IsFaithfulFileName(const QString& name);
// `text` for a message line: control characters and the bytes of a name that
// are not UTF-8 written as "\xNN" (a tab, a line end too), nothing else changed.
QString Printable(const QString& text);
