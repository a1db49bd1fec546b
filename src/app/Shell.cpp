#include "app/Shell.h"

#include <QCoreApplication>

#include "app/RememberedChoices.h"
#include "core/Program.h"
#include "core/Texts.h"
#include "config/ConfigTable.h"
#include "config/FileHandlers.h"
#include "protocol/ReceiveTick.h"
#include "protocol/ModuleOperations.h"
#include "protocol/TableBeforeRead.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"

void OnMainWindowCreated(Program& p)
{
    p.ui.ApplyTheme(ThemeVariant::Green);
    RefreshPortList(p);
    FillBaudLists(p);
    RestoreChoices(p);
    InitTable(p.table);
    p.state.portOpen = false;
    p.ui.SetCaption(Control::Button_TogglePort, Texts::tr("开启"));
    p.state.portNumber = kNoPort;
    // A missing or unreadable file leaves the laid-out table; nobody is told.
    LoadStartTable(p, QCoreApplication::applicationDirPath());
    ShowCurrentFileInTitle(p);
    DisableModuleButtons(p);
}

void OnMainWindowDestroyed(Program& p)
{
    // First, so an operation pausing underneath stops sending at once.
    p.state.shuttingDown = true;
    // While the operation is still seen as under way (a write bounded to well
    // under a second): the module does not stay in configuration mode.
    LeaveConfigurationModeAtExit(p);
    // A read that has not completed leaves the table as it found it, on disk too.
    if (p.state.readEnd == ReadEnd::Running) p.state.readEnd = ReadEnd::PortClosed;
    GiveBackUnfinishedRead(p);
    SaveAtExit(p);
    KeepChoices(p);
    if (p.state.portOpen) p.serial.sio_close(p.state.portNumber);
}

void ClearDisplay(Program& p) { p.ui.SetText(Control::Edit_Display, QString()); }

void SaveBeforeFatal(Program& p)
{
    // Before the start-up load has named the file there is nothing of the
    // user's to keep, and saving would overwrite a file not yet read.
    if (!p.state.currentFilePath.isEmpty()) SaveAtExit(p);
}

WindowHandlers MakeWindowHandlers(Program& p)
{
    WindowHandlers h;
    h.created = [&p] { OnMainWindowCreated(p); };
    h.destroyed = [&p] { OnMainWindowDestroyed(p); };
    h.setBaudRateClicked = [&p] { SetModuleBaudRate(p); };
    h.learnClicked = [&p] { LearnReport(p); };
    h.clearModuleClicked = [&p] { ClearModule(p); };
    h.readModuleClicked = [&p] { ReadModule(p); };
    h.writeModuleClicked = [&p] { WriteModule(p); };
    h.openFileClicked = [&p] { OpenFile(p); };
    h.saveFileClicked = [&p] { SaveFile(p); };
    h.saveAsClicked = [&p] { SaveAs(p); };
    h.togglePortClicked = [&p] {
        TogglePort(p);
        // A read the close cut off gives the table back.
        GiveBackUnfinishedRead(p);
    };
    h.clearDisplayClicked = [&p] { ClearDisplay(p); };
    h.portListAboutToDropDown = [&p] { RefreshPortList(p); };
    h.receiveTimerTick = [&p] { ReceiveTick(p); };
    return h;
}
