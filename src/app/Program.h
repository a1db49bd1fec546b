#pragma once
// The window's state, the objects it owns, and the parts each handler is
// handed: every handler takes only what it uses.

#include <QString>

#include "core/Texts.h"
#include "ui/UiServices.h"

class ConfigTable;
class ModuleLink;
class ModuleSession;
class SerialLibrary;
class TableDocument;

// The window's own state. The port and the read are the module link's.
struct AppState {
    QString startFile;        // named on the command line: loaded at start instead of data.dat
    // The window is being destroyed: the link's pauses end at once and
    // nothing more is sent (the link asks, LinkPacing::Ending).
    bool shuttingDown = false;
    // Said once in the log: saves go on without the folder's lock; a save
    // could not be made durable.
    struct SaidOnce {
        bool savedUnlocked = false;
        bool notDurable = false;
    } said;
    // Where the chosen port and rates are kept between runs; empty: nowhere.
    QString settingsFile;
    // What the log knows of the line since the last operation began or the
    // port was opened or closed: the module gave an answer the program knows;
    // bytes came that are none; the log said what to check. The narration's.
    struct LineEpisode {
        bool moduleHeard = false;
        bool strayBytes = false;
        bool hintGiven = false;
    } line;
    // The module is being compared with the table (F7): from its first dump
    // to its last the table stays held and the module buttons grey, and the
    // dumps' own doubts and give-backs are not told; the comparison tells.
    bool comparing = false;
    // The log has said once how to compare after a write.
    bool compareHintGiven = false;
};

// What the window says besides its fixed lines: the interface services,
// whether it is going away, and what the log has said of the line.
struct WindowWords {
    UiServices& ui;
    const bool& shuttingDown;
    AppState::LineEpisode& line;
};

// What the module handlers use: the window's words, the table, the link and
// the operations on it, and whether the log has said how to compare.
struct ModuleParts {
    WindowWords words;
    ConfigTable& table;
    ModuleLink& link;
    ModuleSession& session;
    bool& compareHintGiven;
};

// What follows whether an operation holds the table: the buttons and grid it
// greys, the link that runs operations, the document it holds, and whether a
// comparison runs.
struct TableHold {
    UiServices& ui;
    ModuleLink& link;
    TableDocument& document;
    const bool& comparing;
};

// What the file handlers use: the interface services, whether the window is
// going away, the table's file, and what the log has said once of saves.
struct FileParts {
    UiServices& ui;
    const bool& shuttingDown;
    TableDocument& document;
    AppState::SaidOnce& said;
};

// What the port button uses: the window's boxes, the ports, the link.
struct PortParts {
    UiServices& ui;
    SerialLibrary& serial;
    ModuleLink& link;
};

// The window's objects and state, owned by WindowProgram; the shell hands
// each handler its parts.
struct Program {
    AppState state;
    UiServices& ui;
    SerialLibrary& serial;
    ConfigTable& table;
    // The one way to the module: the port, the operations, the read.
    ModuleLink& link;
    // The operations on it, each saying how it went.
    ModuleSession& session;
    // The table's file, held while a module operation runs (a read: until
    // its dump ends or it ends otherwise): the table is the operation's, so
    // no file replaces or saves it and the grid takes no edit. Held and let
    // go by the window's narration only, from the link.
    TableDocument& document;

    WindowWords Words() { return {ui, state.shuttingDown, state.line}; }
    ModuleParts Modules() { return {Words(), table, link, session, state.compareHintGiven}; }
    TableHold Hold() { return {ui, link, document, state.comparing}; }
    FileParts Files() { return {ui, state.shuttingDown, document, state.said}; }
    PortParts Ports() { return {ui, serial, link}; }
};

inline constexpr Control kModuleButtons[] = {
    Control::Button_SetBaudRate, Control::Button_Learn, Control::Button_ClearModule,
    Control::Button_ReadModule, Control::Button_WriteModule,
};

// The five module-operation buttons, always in this order.
inline void DisableModuleButtons(UiServices& ui)
{
    for (Control c : kModuleButtons) ui.SetDisabled(c, true);
}

inline void EnableModuleButtons(UiServices& ui)
{
    for (Control c : kModuleButtons) ui.SetDisabled(c, false);
}

// The program's three ways of speaking to the user: a line at the end of the
// log box, a notice (OK only, caption "信息："), and a confirmation (OK and
// Cancel, captioned with the operation's name) that only OK gets past.
inline void AppendLog(UiServices& ui, const QString& text) { ui.AppendText(Control::Edit_Display, text); }
// One line of the log: the text and its line end.
inline void LogLine(UiServices& ui, const QString& text) { AppendLog(ui, text + QStringLiteral("\r\n")); }

inline void ShowNotice(UiServices& ui, const QString& text) { ui.ShowMessageBox(text, MessageBoxFlags::Ok); }

inline bool Confirmed(UiServices& ui, const QString& text, const QString& caption)
{
    return ui.ShowMessageBox(text, MessageBoxFlags::OkCancel, caption) == MessageBoxResult::Ok;
}

// The window title ahead of the current file's path (three blanks before the path).
inline QString TitlePrefix() { return Texts::tr("Velmora-自定义设备版") + QStringLiteral("   "); }
