#pragma once
// The translations the window is shown in: the program's own and Qt's, for
// the standard buttons of boxes, the file dialog and the edit boxes' menus,
// in the same language. Both are built into the program (":/i18n"), so a
// copy of the program alone speaks them; Qt's is looked for in Qt's own
// folder too, should a build have been made without it.

#include <QString>
#include <QTranslator>

#include "core/Texts.h"

class Translations {
public:
    Translations() = default;
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    // Replaces the installed translations by the program's of `language`;
    // Qt's follows with InstallQtCatalogue. False when the program's could
    // not be loaded: the window then stays Chinese throughout.
    bool Install(Language language);
    // Qt's own texts in the installed language, once: they are needed only
    // when a box, a dialog or a menu first shows, so start-up leaves them
    // for later. False when Qt's catalogue could not be loaded (its texts
    // then stay English); true when there was nothing to load.
    bool InstallQtCatalogue();

private:
    void Remove();

    QTranslator program_, qt_;
    Language language_ = Language::Chinese;
    bool programInstalled_ = false, qtInstalled_ = false, qtTried_ = false;
};
