#pragma once
// The program-wide state and the one context handed to every handler.

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include "core/FileStamp.h"
#include "core/Texts.h"
#include "core/UiServices.h"

class ConfigTable;
class ModuleObserver;
class SerialLibrary;

// How the latest read of the module ended, or that it is still running.
enum class ReadEnd {
    None,        // no read since the port was opened
    Running,     // the read request went out (or the module began a dump); the dump has not ended yet
    Complete,    // the dump end arrived after a dump start
    NoAnswer,    // no record or known answer for 3 s
    PortLost,    // the device went away during the read
    PortClosed,  // the port was closed (or the window) during the read
    NoDump,      // a dump end came with no dump start before it
};

// Bytes of the module's answers received but not judged yet: an answer ends
// only where the next begins, or where the line went quiet outside a dump.
struct HeldBytes {
    QByteArray bytes;
    quint32 lastAt = 0;        // clock (UiServices::TickCount) when the last of them arrived
    qsizetype gapAt = -1;      // bytes from here on came (or will come) after a quiet gap; not placed yet
    qsizetype scannedTo = 1;   // no answer begins at 1 … scannedTo - 1
    bool frontNoted = false;   // the record at the front has kept the read alive already
};

// The table as the latest read found it, kept in one place: the value cells
// before the read emptied them (until the read completes), and whether the
// table holds the read's own cells meanwhile.
struct TableBeforeRead {
    QStringList cells;         // row by row, "开" before "关"; empty before the first read
    bool tableIsRead = false;  // the table holds the running read's cells
    // Given back after the 3 s without an answer: the cells the read had
    // filled, for a module that goes on before the next operation or a close.
    QStringList unfinished;
    bool mayResume = false;
};

// What one dump named: the value cells of its records and those whose codes may be wrong.
struct DumpMarks {
    QSet<int> named;        // TableLayout::CellKey
    QVector<int> doubtful;  // the same keys, in the order they became doubtful
};

// The port number while no port is in use.
constexpr int kNoPort = -1;

struct AppState {
    QString currentFilePath;  // the table file loaded at start and saved at exit
    QString startFile;        // named on the command line: loaded at start instead of data.dat
    // N of "COM"+N while the port is open; kNoPort when no port is in use. A
    // failed open leaves the number it tried until the next open or close.
    int portNumber = kNoPort;
    bool portOpen = false;    // the port is open
    bool extracting = false;  // the module is dumping its data

    HeldBytes held;
    // The latest read: Running from its request until whoever ends it sets the outcome.
    ReadEnd readEnd = ReadEnd::None;
    // Clock when the read request went out, or the last record or known
    // answer came; the read gives up when nothing of the kind comes for 3 s.
    quint32 readAliveAt = 0;
    TableBeforeRead beforeRead;
    DumpMarks dump;
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
    // A digest of the table as it was loaded or last saved (as its file), to
    // tell at exit whether the window changed anything since.
    QByteArray currentTableDigest;
    // Where the chosen port and rates are kept between runs; empty: nowhere.
    QString settingsFile;
};

struct Program {
    AppState state;
    UiServices& ui;
    SerialLibrary& serial;
    ConfigTable& table;
    // Who hears what the module and the line did, after the window's log (Report).
    QVector<ModuleObserver*> observers = {};
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
