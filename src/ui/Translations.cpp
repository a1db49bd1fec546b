#include "ui/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>

QStringList TranslationFolders(const QString& programFolder)
{
    const QDir folder(programFolder);
    return {folder.filePath(QStringLiteral("translations")),
            QDir::cleanPath(folder.filePath(QStringLiteral(VELMORA_TRANSLATIONS_FROM_BINDIR)))};
}

Translations::~Translations() { Remove(); }

bool Translations::Install(Language language, const QStringList& folders)
{
    Remove();
    bool found = language == Language::Chinese;  // the source texts need no file
    if (!found) {
        for (const QString& folder : folders) {
            if (program_.load(QStringLiteral("velmora_en"), folder)) {
                found = true;
                break;
            }
        }
        if (found) programInstalled_ = QCoreApplication::installTranslator(&program_);
    }
    const Language current = found ? language : Language::Chinese;
    // What Qt's dialogs take from the locale (the file dialog's dates, sizes
    // and file types) follows the window's language too; a desktop locale of
    // that language keeps its own territory.
    const QLocale::Language wanted = current == Language::English ? QLocale::English : QLocale::Chinese;
    QLocale::setDefault(QLocale::system().language() == wanted ? QLocale::system() : QLocale(wanted));
    // Qt's own texts (OK, Cancel, the file dialog) are English unless told
    // otherwise, so only Chinese needs Qt's translation.
    if (current == Language::Chinese
        && qt_.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        qtInstalled_ = QCoreApplication::installTranslator(&qt_);
    return found;
}

void Translations::Remove()
{
    if (programInstalled_) QCoreApplication::removeTranslator(&program_);
    if (qtInstalled_) QCoreApplication::removeTranslator(&qt_);
    programInstalled_ = qtInstalled_ = false;
}
