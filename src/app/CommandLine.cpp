#include "app/CommandLine.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <cstdlib>
#include <unistd.h>

namespace {

// Options QGuiApplication and QApplication take out of the arguments
// themselves; the session manager restarts the program with -session.
constexpr const char* kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "style", "stylesheet", "display", "geometry", "name", "title",
};
constexpr const char* kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// "-style", "--style" and "-style=fusion" name the same option "style".
QByteArray OptionName(const QByteArray& arg)
{
    QByteArray name = arg.startsWith("--") ? arg.mid(2) : arg.mid(1);
    const qsizetype equals = name.indexOf('=');
    return equals < 0 ? name : name.left(equals);
}

bool Among(const QByteArray& name, const auto& names)
{
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

struct HeldMessage {
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};

// The message handler in force before the report took over, and what Qt said meanwhile.
QtMessageHandler previousHandler = nullptr;
QList<HeldMessage>* heldMessages = nullptr;

void ReportMissingDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        if (heldMessages)
            heldMessages->push_back({type, context.file, context.function, context.category, context.line, text});
        return;
    }
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    QByteArray which;
    if (display.isEmpty() && wayland.isEmpty()) which = "no display is set (DISPLAY and WAYLAND_DISPLAY are empty)";
    else if (!display.isEmpty()) which = "cannot open display '" + display + "'";
    else which = "cannot open Wayland display '" + wayland + "'";
    const QByteArray line = "velmora: " + which
        + "; start it from a desktop session, or set QT_QPA_PLATFORM=offscreen to run without a visible window\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.constData(), size_t(line.size()));
    std::_Exit(1);
}

}  // namespace

const char* UsageText()
{
    return "Usage: velmora [--language en|zh] [FILE]\n"
           "       velmora --help | --version\n"
           "Configure a switch-controller module over a serial port.\n"
           "\n"
           "  FILE              open this table file instead of data.dat, and save to it at exit\n"
           "  --language en|zh  show the window in English or Chinese, also at later starts\n"
           "                    (without it: the language chosen last, else the desktop's;\n"
           "                    Chinese for zh_* and the C locale, English for any other)\n"
           "  -h, --help        print this help and exit\n"
           "  -v, --version     print the version and exit\n"
           "\n"
           "Qt's window-system options (-platform, -style, -session, ...) are passed on to Qt.\n"
           "See velmora(1).\n";
}

std::optional<int> ExitBeforeWindow(int argc, char** argv, std::FILE* out, std::FILE* err, QString* language,
                                    QString* file)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "-h" || arg == "--help") {
            std::fputs(UsageText(), out);
            return 0;
        }
        if (arg == "-v" || arg == "--version") {
            std::fprintf(out, "velmora %s\n", VELMORA_VERSION);
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        const QByteArray name = arg.startsWith('-') ? OptionName(arg) : QByteArray();
        if (arg == "--language" || arg.startsWith("--language=")) {
            const bool joined = arg.contains('=');
            if (!joined && i + 1 == argc) {
                std::fprintf(err, "velmora: option '%s' needs a value\n", arg.constData());
                std::fputs(UsageText(), err);
                return 2;
            }
            const QByteArray value = joined ? arg.mid(arg.indexOf('=') + 1) : QByteArray(argv[++i]);
            if (value != "en" && value != "zh") {
                std::fprintf(err, "velmora: unknown language '%s' (en or zh)\n", value.constData());
                std::fputs(UsageText(), err);
                return 2;
            }
            if (language) *language = QString::fromLatin1(value);
            continue;
        }
        if (file && !arg.isEmpty() && !arg.startsWith('-')) {
            if (file->isEmpty()) {
                *file = QFile::decodeName(arg);
                continue;
            }
            std::fprintf(err, "velmora: only one file can be opened, not '%s' as well\n", arg.constData());
            std::fputs(UsageText(), err);
            return 2;
        }
        if (Among(name, kQtFlags) && !arg.contains('=')) continue;
        if (Among(name, kQtOptionsWithValue)) {
            if (arg.contains('=')) continue;
            if (i + 1 < argc) {
                ++i;
                continue;
            }
            std::fprintf(err, "velmora: option '%s' needs a value\n", arg.constData());
        } else {
            std::fprintf(err, "velmora: unknown argument '%s'\n", arg.constData());
        }
        std::fputs(UsageText(), err);
        return 2;
    }
    return std::nullopt;
}

NoDisplayReport::NoDisplayReport()
{
    heldMessages = new QList<HeldMessage>;
    previousHandler = qInstallMessageHandler(ReportMissingDisplay);
}

NoDisplayReport::~NoDisplayReport()
{
    qInstallMessageHandler(previousHandler);
    QList<HeldMessage>* held = heldMessages;
    heldMessages = nullptr;
    for (const HeldMessage& m : *held) {
        const QMessageLogContext context(m.file.constData(), m.line, m.function.constData(), m.category.constData());
        qt_message_output(m.type, context, m.text);
    }
    delete held;
}
