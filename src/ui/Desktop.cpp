#include "ui/Desktop.h"

#include <QApplication>
#include <QScreen>
#include <QSessionManager>
#include <QStyleFactory>

#include "config/ConfigTable.h"
#include "ui/ConfigGridView.h"
#include "ui/MainWindow.h"
#include "ui/QtUiServices.h"
#include "ui/ThemedStyle.h"
#include "ui/Translations.h"

struct Desktop::Impl {
    Impl(int& argc, char** argv) : app(argc, argv) {}
    QApplication app;
    Translations translations;
    QtUiServices services;
    std::unique_ptr<MainWindow> window;
};

Desktop::Desktop(int& argc, char** argv) : d(std::make_unique<Impl>(argc, argv))
{
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    // Ties the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));
    // The themed look's style goes in place before any control exists, still
    // drawing like the platform's style; switching the look on then only
    // recolours frames instead of re-polishing the whole window.
    QApplication::setStyle(new ThemedStyle(QStyleFactory::create(QApplication::style()->name()), QColor(), QColor()));

    SetLanguage(Language::Chinese);

    // The end of the desktop session closes the window like the user would,
    // so the table is saved; so does a quit that comes from anywhere else.
    QObject::connect(&d->app, &QGuiApplication::commitDataRequest, &d->app,
                     [this](QSessionManager&) { CloseMainWindow(); });
    QObject::connect(&d->app, &QCoreApplication::aboutToQuit, &d->app, [this] {
        d->services.SetUnattended(true);
        if (d->window && !d->window->DestroyedHandlerRan()) d->window->close();
    });
}

Desktop::~Desktop()
{
    d->services.Attach(nullptr);
    d->window.reset();
}

UiServices& Desktop::Ui() { return d->services; }

void Desktop::SetLanguage(Language language)
{
    const QStringList folders = TranslationFolders(QCoreApplication::applicationDirPath());
    if (!d->translations.Install(language, folders))
        d->services.ReportOnConsole(QStringLiteral("velmora: no English translation (velmora_en.qm) in %1; the window stays Chinese")
                                        .arg(folders.join(QStringLiteral(", "))));
}

bool Desktop::CreateMainWindow(ConfigTable& table, WindowHandlers handlers)
{
    if (!QGuiApplication::primaryScreen()) return false;
    d->window = std::make_unique<MainWindow>(table, std::move(handlers));
    d->services.Attach(d->window.get());
    d->window->RunCreatedHandler();
    return true;
}

void Desktop::ShowMainWindow(std::function<void()> firstShown)
{
    if (!d->window) return;
    d->window->SetFirstShown(std::move(firstShown));
    d->window->show();
}

void Desktop::CloseMainWindow()
{
    d->services.SetUnattended(true);
    if (d->window) d->window->close();
    QCoreApplication::exit(0);
}

void Desktop::DisplayLost()
{
    d->services.SetUnattended(true);
    if (!d->window) return;
    d->window->SetHandlersBlocked(true);
    // The grid would redraw and close its editor on the table's signals.
    d->window->Grid()->Table().blockSignals(true);
}

int Desktop::Exec()
{
    int result = 0;
    if (d->window && !d->window->DestroyedHandlerRan()) result = QApplication::exec();
    // The window goes while everything it shows still exists.
    d->services.Attach(nullptr);
    d->window.reset();
    return result;
}
