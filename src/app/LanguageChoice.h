#pragma once
// Which language the window speaks: the one asked for with --language, else
// the one remembered from the last time it was asked for, else the desktop's.

#include <QString>
#include <optional>

#include "core/Texts.h"

// "en" and "zh", as --language takes them and the settings file keeps them.
std::optional<Language> LanguageFromCode(const QString& code);
QString LanguageCode(Language language);

// The locale the desktop asks for messages in: LC_ALL, LC_MESSAGES or LANG,
// and outside the C locale the first choice of LANGUAGE ahead of it.
QString DesktopLocaleName();
// Chinese for zh_* and for the C or POSIX locale (also an unset one), English for any other.
Language LanguageOfLocale(const QString& localeName);

class SettingsFile;

// The language for this start: `argument` ("en", "zh" or empty), else the
// one remembered in `settings`, else that of `localeName`. An argument is
// remembered there for the next start.
Language ChooseLanguage(const QString& argument, SettingsFile& settings, const QString& localeName);
