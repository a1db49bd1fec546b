#pragma once
// The program-wide state and the one context handed to every handler.

#include <QByteArray>
#include <QString>

#include "core/FileStamp.h"
#include "core/Texts.h"
#include "core/UiServices.h"

class ConfigTable;
class SerialLibrary;

// How the latest read of the module ended, or that it is still running.
enum class ReadEnd {
    None,      // no read since the port was opened, or the port was closed during one
    Running,   // the read request went out; the dump has not ended yet
    Complete,  // the dump end arrived
    NoAnswer,  // no dump start 3 s after the request, or a dump silent for 3 s
    PortLost,  // the device went away during the read
};

// The port number while no port is in use.
constexpr int kNoPort = -1;

struct AppState {
    QString currentFilePath;  // the table file loaded at start and saved at exit
    // N of "COM"+N while the port is open; kNoPort when no port is in use. A
    // failed open leaves the number it tried until the next open or close.
    int portNumber = kNoPort;
    bool portOpen = false;    // the port is open
    bool extracting = false;  // the module is dumping its data

    // Bytes of an answer still arriving; judged once the line goes quiet.
    QByteArray heldAnswer;
    // Clock (UiServices::TickCount) when the last held byte arrived.
    quint32 heldAnswerAt = 0;
    // The latest read: Running from its request until whoever ends it sets the outcome.
    ReadEnd readEnd = ReadEnd::None;
    // Clock when the read request went out or the dump last moved on; the
    // read gives up when the module stays silent for 3 s after it.
    quint32 readAliveAt = 0;
    // A baud change, clear or upload is sending; no other may start meanwhile.
    bool operationRunning = false;
    // The window is being destroyed: pauses end at once and nothing more is sent.
    bool shuttingDown = false;
    // The current file holds what the next save would not write back (it did
    // not load, or it loaded with parts the table does not keep); it is kept
    // as ".bak" before the first save over it.
    bool backUpCurrentFile = false;
    // The current file as it stood when it was last loaded or saved; found
    // otherwise by a save (another window's or program's save came between),
    // it is kept as ".bak" before it is saved over.
    FileStamp currentFileStamp;
    // Where the chosen port and rates are kept between runs; empty: nowhere.
    QString settingsFile;
};

struct Program {
    AppState state;
    UiServices& ui;
    SerialLibrary& serial;
    ConfigTable& table;
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
