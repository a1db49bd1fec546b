#pragma once
// The translations the window is shown in: the program's own and Qt's, for
// the standard buttons of boxes and the file dialog, in the same language.

#include <QString>
#include <QStringList>
#include <QTranslator>

#include "core/Texts.h"

// Where the program's translations may be, for a program in `programFolder`:
// beside it (the build tree), then the installed data folder.
QStringList TranslationFolders(const QString& programFolder);

class Translations {
public:
    Translations() = default;
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    // Replaces the installed translations by those of `language`, the
    // program's looked for in `folders`. False when English was asked for
    // and its file was not found: the window then stays Chinese throughout.
    bool Install(Language language, const QStringList& folders);

private:
    void Remove();

    QTranslator program_, qt_;
    bool programInstalled_ = false, qtInstalled_ = false;
};
