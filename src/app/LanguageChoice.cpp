#include "app/LanguageChoice.h"

#include <QRegularExpression>
#include <QSettings>
#include <QtGlobal>

#include "app/SettingsFile.h"

namespace {

const QString kLanguageKey = QStringLiteral("window/language");

// "zh_CN.UTF-8", "C.UTF-8", "en_GB@euro": the language before any territory, code set or modifier.
QString LanguagePart(const QString& localeName)
{
    static const QRegularExpression separators(QStringLiteral("[_.@]"));
    return localeName.section(separators, 0, 0);
}

bool IsCLocale(const QString& localeName)
{
    const QString language = LanguagePart(localeName);
    return language.isEmpty() || language == QLatin1String("C") || language == QLatin1String("POSIX");
}

}  // namespace

std::optional<Language> LanguageFromCode(const QString& code)
{
    if (code == QLatin1String("zh")) return Language::Chinese;
    if (code == QLatin1String("en")) return Language::English;
    return std::nullopt;
}

QString LanguageCode(Language language)
{
    return language == Language::English ? QStringLiteral("en") : QStringLiteral("zh");
}

QString DesktopLocaleName()
{
    QString locale;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = qEnvironmentVariable(variable);
        if (!locale.isEmpty()) break;
    }
    // As gettext does: LANGUAGE counts only outside the C locale.
    if (IsCLocale(locale)) return locale;
    const QString first = qEnvironmentVariable("LANGUAGE").section(QLatin1Char(':'), 0, 0);
    return first.isEmpty() ? locale : first;
}

Language LanguageOfLocale(const QString& localeName)
{
    return IsCLocale(localeName) || LanguagePart(localeName) == QLatin1String("zh") ? Language::Chinese
                                                                                    : Language::English;
}

Language ChooseLanguage(const QString& argument, SettingsFile& settings, const QString& localeName)
{
    if (const std::optional<Language> asked = LanguageFromCode(argument)) {
        if (settings.Usable()) {
            settings.Settings().setValue(kLanguageKey, LanguageCode(*asked));
            settings.Keep();
        }
        return *asked;
    }
    if (settings.Usable()) {
        if (const std::optional<Language> kept = LanguageFromCode(settings.Settings().value(kLanguageKey).toString()))
            return *kept;
    }
    return LanguageOfLocale(localeName);
}
