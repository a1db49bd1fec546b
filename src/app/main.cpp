// Velmora: start-up, the message loop, and the program's end.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/CommandLine.h"
#include "app/LanguageChoice.h"
#include "app/RememberedChoices.h"
#include "app/SettingsFile.h"
#include "app/Shell.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "core/ExitHook.h"
#include "app/Program.h"
#include "core/TerminationSignals.h"
#include "core/Texts.h"
#include "serial/BuiltinProviders.h"
#include "serial/SerialLibrary.h"
#include "ui/Desktop.h"

int main(int argc, char** argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    // A write that hits the file-size limit fails instead of killing us mid-save.
    IgnoreWriteFailureSignals();

    QString languageAsked, fileAsked;
    if (const std::optional<int> exitCode = ExitBeforeWindow(argc, argv, stdout, stderr, &languageAsked, &fileAsked))
        return *exitCode;
    auto noDisplay = std::make_unique<NoDisplayReport>();
    Desktop desktop(argc, argv);
    noDisplay.reset();
    // The settings are read once, for the language and the remembered choices.
    QString settingsFile = DefaultSettingsFile();
    Remembered remembered;
    {
        SettingsFile settings(settingsFile, desktop.Ui());
        // Said once, here; nothing is read from it or kept in it later either.
        if (!settings.Usable()) settingsFile.clear();
        else remembered = ReadRemembered(settings.Settings());
        desktop.SetLanguage(ChooseLanguage(languageAsked, settings, DesktopLocaleName()));
    }

    std::vector<std::unique_ptr<LibraryProvider>> providers = MakeBuiltinProviders();
    QVector<LibraryProvider*> providerList;
    for (const auto& provider : providers) providerList << provider.get();
    SerialLibrary serial(FatalReportTo(desktop.Ui()), providerList);
    ConfigTable table;
    WindowProgram window(desktop.Ui(), serial, table);
    Program& program = window.program;
    program.state.startFile = fileAsked;
    serial.SetBeforeFatal([&program] { SaveBeforeFatal(program.Files()); });

    // Every way out that lets the program run code saves the table first: a
    // signal or the session's end closes the window the normal way. Besides
    // the usual three: SIGQUIT (Ctrl+\), SIGUSR1, SIGUSR2 and SIGALRM, whose
    // default is to end the process, and SIGPWR, a UPS's warning.
    TerminationSignals terminate({SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPWR},
                                 [&desktop](int) { desktop.CloseMainWindow(); });

    if (!desktop.CreateMainWindow(table, MakeWindowHandlers(program)))
        desktop.Ui().FatalReport(-1, Texts::tr("载入启动窗口失败"), QStringLiteral("main: CreateMainWindow"));
    // The created handler found no settings file to read again: the choices
    // read above are made now, still before the window shows, and the file is
    // where they are kept at exit.
    if (!settingsFile.isEmpty()) ChooseRemembered(program.ui, program.serial, remembered);
    program.state.settingsFile = settingsFile;

    // For the start-up benchmark and scripted runs: say when the window is
    // first mapped, and optionally close it the normal way once it is drawn.
    std::function<void()> firstMapped, firstShown;
    if (qEnvironmentVariableIntValue("VELMORA_ANNOUNCE_SHOWN") == 1
        || qEnvironmentVariableIntValue("VELMORA_EXIT_AFTER_SHOW") == 1) {
        firstMapped = [&sinceStart, &desktop] {
            std::printf("velmora: shown after %lld ms: %s\n", static_cast<long long>(sinceStart.elapsed()),
                        desktop.Ui().GetTitle().toLocal8Bit().constData());
            std::fflush(stdout);
        };
    }
    if (qEnvironmentVariableIntValue("VELMORA_EXIT_AFTER_SHOW") == 1) firstShown = [&desktop] { desktop.CloseMainWindow(); };
    desktop.ShowMainWindow(firstShown, firstMapped);

    // Losing the display makes Qt exit() from inside the event loop.
    ExitHook displayLost([&] {
        if (program.state.shuttingDown) return;
        desktop.DisplayLost();
        OnMainWindowDestroyed(program.Ports(), program.Files(), program.state.shuttingDown, program.state.settingsFile);
    });
    // Another program of the display destroyed the window: the display is
    // lost to it all the same, and the table saved as then.
    desktop.WhenMainWindowDestroyedElsewhere([&] {
        if (program.state.shuttingDown) return;
        desktop.DisplayLost();
        OnMainWindowDestroyed(program.Ports(), program.Files(), program.state.shuttingDown, program.state.settingsFile);
        QCoreApplication::exit(0);
    });
    desktop.Exec();
    return 0;
}
