// Velmora: start-up, the message loop, and the program's end.

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
#include "core/Program.h"
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

    QString languageAsked;
    if (const std::optional<int> exitCode = ExitBeforeWindow(argc, argv, stdout, stderr, &languageAsked))
        return *exitCode;
    auto noDisplay = std::make_unique<NoDisplayReport>();
    Desktop desktop(argc, argv);
    noDisplay.reset();
    QString settingsFile = DefaultSettingsFile();
    {
        SettingsFile settings(settingsFile, desktop.Ui());
        // Said once, here; nothing is read from it or kept in it later either.
        if (!settings.Usable()) settingsFile.clear();
        desktop.SetLanguage(ChooseLanguage(languageAsked, settings, DesktopLocaleName()));
    }

    std::vector<std::unique_ptr<LibraryProvider>> providers = MakeBuiltinProviders();
    QVector<LibraryProvider*> providerList;
    for (const auto& provider : providers) providerList << provider.get();
    SerialLibrary serial(desktop.Ui(), providerList);
    ConfigTable table;
    WindowProgram window(desktop.Ui(), serial, table);
    Program& program = window.program;
    program.state.settingsFile = settingsFile;
    serial.SetBeforeFatal([&program] { SaveBeforeFatal(program); });

    // Every way out that lets the program run code saves the table first: a
    // signal or the session's end closes the window the normal way.
    TerminationSignals terminate({SIGTERM, SIGINT, SIGHUP}, [&desktop](int) { desktop.CloseMainWindow(); });

    if (!desktop.CreateMainWindow(table, MakeWindowHandlers(program)))
        desktop.Ui().FatalReport(-1, Texts::tr("载入启动窗口失败"), QStringLiteral("main: CreateMainWindow"));

    // For the start-up benchmark and scripted runs: say when the window first
    // shows, and optionally close it right away the normal way.
    const bool announce = qEnvironmentVariableIntValue("VELMORA_ANNOUNCE_SHOWN") == 1;
    const bool exitAfterShow = qEnvironmentVariableIntValue("VELMORA_EXIT_AFTER_SHOW") == 1;
    std::function<void()> firstShown;
    if (announce || exitAfterShow) {
        firstShown = [&] {
            std::printf("velmora: shown after %lld ms\n", static_cast<long long>(sinceStart.elapsed()));
            std::fflush(stdout);
            if (exitAfterShow) desktop.CloseMainWindow();
        };
    }
    desktop.ShowMainWindow(firstShown);

    // Losing the display makes Qt exit() from inside the event loop.
    ExitHook displayLost([&] {
        if (program.state.shuttingDown) return;
        desktop.DisplayLost();
        OnMainWindowDestroyed(program);
    });
    desktop.Exec();
    return 0;
}
