#include "ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

Translations::~Translations() { Remove(); }

bool Translations::Install(Language language)
{
    Remove();
    // The source texts are Chinese and need no translation.
    const bool found = language == Language::Chinese || program_.load(QStringLiteral(":/i18n/velmora_en.qm"));
    if (found && language != Language::Chinese) programInstalled_ = QCoreApplication::installTranslator(&program_);
    language_ = found ? language : Language::Chinese;
    // What Qt's dialogs take from the locale (the file dialog's dates, sizes
    // and file types) follows the window's language too; a desktop locale of
    // that language keeps its own territory.
    const QLocale::Language wanted = language_ == Language::English ? QLocale::English : QLocale::Chinese;
    QLocale::setDefault(QLocale::system().language() == wanted ? QLocale::system() : QLocale(wanted));
    return found;
}

bool Translations::InstallQtCatalogue()
{
    // Qt's own texts are English unless told otherwise, so only Chinese needs its catalogue.
    if (qtTried_ || language_ != Language::Chinese) return true;
    qtTried_ = true;
    if (qt_.load(QStringLiteral(":/i18n/qtbase_zh_CN.qm"))
        || qt_.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        qtInstalled_ = QCoreApplication::installTranslator(&qt_);
    return qtInstalled_;
}

void Translations::Remove()
{
    if (programInstalled_) QCoreApplication::removeTranslator(&program_);
    if (qtInstalled_) QCoreApplication::removeTranslator(&qt_);
    programInstalled_ = qtInstalled_ = qtTried_ = false;
}
