#pragma once
// Captions of the window's buttons and group box carry no mnemonics: an
// ampersand is an ordinary character, which Qt wants written "&&".

#include <QString>

// The text to give a Qt button or group box for the caption `caption`.
inline QString CaptionForQt(QString caption) { return caption.replace(QLatin1Char('&'), QStringLiteral("&&")); }
// The caption a Qt button or group box shows for its text `text`.
inline QString CaptionFromQt(QString text) { return text.replace(QStringLiteral("&&"), QStringLiteral("&")); }
