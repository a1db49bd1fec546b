#pragma once
// The program's desktop: the Qt application speaking one language, the
// interface services and the main window. Kept free of widget headers so the
// program's entry can hold it.

#include <functional>
#include <memory>

#include "core/Texts.h"
#include "ui/UiServices.h"
#include "ui/WindowHandlers.h"

class ConfigTable;

class Desktop {
public:
    // The window and Qt's standard buttons speak Chinese until SetLanguage.
    Desktop(int& argc, char** argv);
    ~Desktop();

    UiServices& Ui();
    // The window speaks `language` from the next control made on, Qt's own
    // texts (standard buttons, file dialog, edit menus) once the window has
    // first been mapped or a box shows, whichever comes first; when a
    // translation cannot be loaded, standard error says so (and without the
    // English one the window stays Chinese). Before the main window is made.
    void SetLanguage(Language language);

    // Makes the main window bound to `handlers` and runs its created handler;
    // false when the window could not be made.
    bool CreateMainWindow(ConfigTable& table, WindowHandlers handlers);
    // Shows the window; `firstMapped` runs when the window system first maps
    // it (before it is drawn), `firstShown` once it has first been drawn.
    void ShowMainWindow(std::function<void()> firstShown = {}, std::function<void()> firstMapped = {});
    // Closes the main window the normal way (its destroyed handler runs once)
    // and ends every event loop, also that of a box that is showing. For an
    // end that comes from outside (a signal, the session): no box shows any
    // more, since nobody may be there to answer it.
    void CloseMainWindow();
    // The display went away under the program: from now on nothing may touch
    // the window system, and no box shows.
    void DisplayLost();
    // `then` runs once when another program of the display destroys the main
    // window (an X client's XDestroyWindow), which Qt itself does not follow.
    void WhenMainWindowDestroyedElsewhere(std::function<void()> then);
    // Runs until the main window has closed, then lets the window go.
    int Exec();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
