#pragma once
// The window's state and the context its handlers share.

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
    bool saidSavedUnlocked = false;
    bool saidNotDurable = false;
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
};

inline constexpr Control kModuleButtons[] = {
    Control::Button_SetBaudRate, Control::Button_Learn, Control::Button_ClearModule,
    Control::Button_ReadModule, Control::Button_WriteModule,
};

// The five module-operation buttons, always in this order.
inline void DisableModuleButtons(Program& p)
{
    for (Control c : kModuleButtons) p.ui.SetDisabled(c, true);
}

inline void EnableModuleButtons(Program& p)
{
    for (Control c : kModuleButtons) p.ui.SetDisabled(c, false);
}

// The program's three ways of speaking to the user: a line at the end of the
// log box, a notice (OK only, caption "信息："), and a confirmation (OK and
// Cancel, captioned with the operation's name) that only OK gets past.
inline void AppendLog(Program& p, const QString& text) { p.ui.AppendText(Control::Edit_Display, text); }

inline void ShowNotice(Program& p, const QString& text) { p.ui.ShowMessageBox(text, MessageBoxFlags::Ok); }

inline bool Confirmed(Program& p, const QString& text, const QString& caption)
{
    return p.ui.ShowMessageBox(text, MessageBoxFlags::OkCancel, caption) == MessageBoxResult::Ok;
}

// The window title ahead of the current file's path (three blanks before the path).
inline QString TitlePrefix() { return Texts::tr("Velmora-自定义设备版") + QStringLiteral("   "); }
