#include "app/Shell.h"

#include <QCoreApplication>

#include "app/CompareHandlers.h"
#include "app/ModuleHandlers.h"
#include "app/PortHandlers.h"
#include "app/RememberedChoices.h"
#include "config/ConfigTable.h"
#include "app/FileHandlers.h"
#include "app/Program.h"
#include "core/Texts.h"
#include "protocol/AnswerFraming.h"
#include "protocol/ModuleLink.h"
#include "session/TableDocument.h"

void OnMainWindowCreated(Program& p)
{
    p.ui.ApplyTheme(ThemeVariant::Green);
    RefreshPortList(p);
    FillBaudLists(p);
    RestoreChoices(p);
    InitTable(p.table);
    // The link starts with no port in use.
    p.ui.SetCaption(Control::Button_TogglePort, Texts::tr("开启"));
    // A missing or unreadable file leaves the laid-out table; nobody is told.
    LoadStartTable(p, QCoreApplication::applicationDirPath());
    ShowCurrentFileInTitle(p);
    DisableModuleButtons(p);
}

void OnMainWindowDestroyed(Program& p)
{
    // First, so an operation pausing underneath stops sending at once.
    p.state.shuttingDown = true;
    // The module does not stay in configuration mode, and a read that has not
    // completed leaves the table as it found it, on disk too.
    p.link.LetGoAtExit();
    SaveAtExit(p);
    KeepChoices(p);
    p.link.ReleasePortAtExit();
}

void ClearDisplay(Program& p) { p.ui.SetText(Control::Edit_Display, QString()); }

void SaveBeforeFatal(Program& p)
{
    // Before the start-up load has named the file there is nothing of the
    // user's to keep, and saving would overwrite a file not yet read.
    if (!p.document.Path().isEmpty()) SaveAtExit(p);
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
    h.compareRequested = [&p] { CompareWithModule(p); };
    // A read given back before takes nothing more into a table opened since.
    h.openFileClicked = [&p] {
        if (OpenFile(p)) p.link.TableReplaced();
    };
    h.saveFileClicked = [&p] { SaveFile(p); };
    h.saveAsClicked = [&p] { SaveAs(p); };
    h.togglePortClicked = [&p] { TogglePort(p); };
    h.clearDisplayClicked = [&p] { ClearDisplay(p); };
    h.portListAboutToDropDown = [&p] { RefreshPortList(p); };
    h.receiveTimerTick = [&p] { ReceiveTick(p); };
    h.readCannotBringBack = [](QStringView codeText) { return ReadCannotBringBack(codeText); };
    return h;
}
