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

void OnMainWindowCreated(UiServices& ui, SerialLibrary& serial, ConfigTable& table, const FileParts& files,
                         const QString& startFile, QString& settingsFile)
{
    ui.ApplyTheme(ThemeVariant::Green);
    RefreshPortList(ui, serial);
    FillBaudLists(ui);
    RestoreChoices(ui, serial, settingsFile);
    InitTable(table);
    // The link starts with no port in use.
    ui.SetCaption(Control::Button_TogglePort, Texts::tr("开启"));
    // A missing or unreadable file leaves the laid-out table; nobody is told.
    LoadStartTable(files, startFile, QCoreApplication::applicationDirPath());
    ShowCurrentFileInTitle(files);
    DisableModuleButtons(ui);
}

void OnMainWindowDestroyed(const PortParts& ports, const FileParts& files, bool& shuttingDown,
                           const QString& settingsFile)
{
    // First, so an operation pausing underneath stops sending at once.
    shuttingDown = true;
    // The module does not stay in configuration mode, and a read that has not
    // completed leaves the table as it found it, on disk too.
    ports.link.LetGoAtExit();
    SaveAtExit(files);
    KeepChoices(ports, settingsFile);
    ports.link.ReleasePortAtExit();
}

void ClearDisplay(UiServices& ui) { ui.SetText(Control::Edit_Display, QString()); }

void SaveBeforeFatal(const FileParts& files)
{
    // Before the start-up load has named the file there is nothing of the
    // user's to keep, and saving would overwrite a file not yet read.
    if (!files.document.Path().isEmpty()) SaveAtExit(files);
}

WindowHandlers MakeWindowHandlers(Program& p)
{
    WindowHandlers h;
    h.created = [&p] { OnMainWindowCreated(p.ui, p.serial, p.table, p.Files(), p.state.startFile, p.state.settingsFile); };
    h.destroyed = [&p] { OnMainWindowDestroyed(p.Ports(), p.Files(), p.state.shuttingDown, p.state.settingsFile); };
    h.setBaudRateClicked = [&p] { SetModuleBaudRate(p.Modules()); };
    h.learnClicked = [&p] { LearnReport(p.Modules()); };
    h.clearModuleClicked = [&p] { ClearModule(p.Modules()); };
    h.readModuleClicked = [&p] { ReadModule(p.Modules()); };
    h.writeModuleClicked = [&p] { WriteModule(p.Modules()); };
    h.compareRequested = [&p] { CompareWithModule(p.Modules(), p.Hold(), p.state.comparing); };
    // A read given back before takes nothing more into a table opened since.
    h.openFileClicked = [&p] {
        if (OpenFile(p.Files())) p.link.TableReplaced();
    };
    h.saveFileClicked = [&p] { SaveFile(p.Files()); };
    h.saveAsClicked = [&p] { SaveAs(p.Files()); };
    h.togglePortClicked = [&p] { TogglePort(p.Ports()); };
    h.clearDisplayClicked = [&p] { ClearDisplay(p.ui); };
    h.portListAboutToDropDown = [&p] { RefreshPortList(p.ui, p.serial); };
    h.receiveTimerTick = [&p] { ReceiveTick(p.link); };
    h.readCannotBringBack = [](QStringView codeText) { return ReadCannotBringBack(codeText); };
    return h;
}
