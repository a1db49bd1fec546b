#include "ui/Desktop.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QScreen>
#include <QSessionManager>
#include <QStyleFactory>
#include <QTimer>
#include <QWindow>
#include <cstdint>

#include "config/ConfigTable.h"
#include "ui/ConfigGridView.h"
#include "ui/MainWindow.h"
#include "ui/QtUiServices.h"
#include "ui/ThemedStyle.h"
#include "ui/Translations.h"

namespace {

// The real boxes and dialogs, once Qt's own texts are in the window's language.
class TranslatedPresenter : public DialogBoxPresenter {
public:
    explicit TranslatedPresenter(std::function<void()> translate) : translate_(std::move(translate)) {}
    QMessageBox::StandardButton ShowMessage(const MessageBoxRequest& request) override
    {
        translate_();
        return DialogBoxPresenter::ShowMessage(request);
    }
    bool ShowFileDialog(const FileDialogRequest& request, QString* chosen) override
    {
        translate_();
        return DialogBoxPresenter::ShowFileDialog(request, chosen);
    }

private:
    std::function<void()> translate_;
};

// Watches the X server's events for the destruction of one window. The two
// layouts are X11's own (xcb_generic_event_t, xcb_destroy_notify_event_t).
class DestroyWatch : public QAbstractNativeEventFilter {
public:
    DestroyWatch(std::uint32_t window, std::function<void()> then) : window_(window), then_(std::move(then)) {}
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        struct DestroyNotify {
            std::uint8_t responseType, pad;
            std::uint16_t sequence;
            std::uint32_t event, window;
        };
        constexpr std::uint8_t kDestroyNotify = 17;
        if (!then_ || eventType != "xcb_generic_event_t") return false;
        const auto* e = static_cast<const DestroyNotify*>(message);
        if ((e->responseType & 0x7F) != kDestroyNotify || e->window != window_) return false;
        // After the event: the handler saves, and must not run inside Qt's event dispatch of the X connection.
        QTimer::singleShot(0, qApp, std::exchange(then_, {}));
        return true;
    }

private:
    std::uint32_t window_;
    std::function<void()> then_;
};

}  // namespace

struct Desktop::Impl {
    Impl(int& argc, char** argv)
        : app(argc, argv), services(std::make_unique<TranslatedPresenter>([this] { InstallQtCatalogue(); }))
    {
    }
    // Qt's own texts in the window's language; standard error says when they cannot be.
    void InstallQtCatalogue()
    {
        if (!translations.InstallQtCatalogue())
            services.ReportOnConsole(QStringLiteral("velmora: Qt's Chinese translation (qtbase_zh_CN.qm) could not be "
                                                    "loaded; the boxes' standard buttons and the file dialog stay English"));
    }

    QApplication app;
    std::unique_ptr<DestroyWatch> destroyWatch;
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
    if (!d->translations.Install(language))
        d->services.ReportOnConsole(QStringLiteral("velmora: no English translation (velmora_en.qm) could be loaded from "
                                                   "the program; the window stays Chinese"));
}

bool Desktop::CreateMainWindow(ConfigTable& table, WindowHandlers handlers)
{
    if (!QGuiApplication::primaryScreen()) return false;
    d->window = std::make_unique<MainWindow>(table, std::move(handlers));
    d->services.Attach(d->window.get());
    d->window->RunCreatedHandler();
    return true;
}

namespace {

// Runs a callback once, at the first expose of the window it watches: its map.
class FirstMap : public QObject {
public:
    FirstMap(QWindow* window, std::function<void()> mapped) : QObject(window), mapped_(std::move(mapped))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Expose && mapped_ && static_cast<QWindow*>(watched)->isExposed()) {
            auto mapped = std::move(mapped_);
            mapped_ = nullptr;
            watched->removeEventFilter(this);
            mapped();
        }
        return false;
    }

private:
    std::function<void()> mapped_;
};

}  // namespace

void Desktop::ShowMainWindow(std::function<void()> firstShown, std::function<void()> firstMapped)
{
    if (!d->window) return;
    d->window->SetFirstShown(std::move(firstShown));
    d->window->show();
    if (!d->window->windowHandle()) return;
    // Qt's own texts are first needed by a box or a menu, not to show the window.
    new FirstMap(d->window->windowHandle(), [this, firstMapped = std::move(firstMapped)] {
        if (firstMapped) firstMapped();
        QTimer::singleShot(0, &d->app, [this] { d->InstallQtCatalogue(); });
    });
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

void Desktop::WhenMainWindowDestroyedElsewhere(std::function<void()> then)
{
    if (!d->window || QGuiApplication::platformName() != QLatin1String("xcb")) return;
    if (d->destroyWatch) d->app.removeNativeEventFilter(d->destroyWatch.get());
    d->destroyWatch = std::make_unique<DestroyWatch>(std::uint32_t(d->window->winId()), std::move(then));
    d->app.installNativeEventFilter(d->destroyWatch.get());
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
