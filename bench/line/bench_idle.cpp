// Wake-ups per second of the program when nothing happens: the port closed,
// and the port open on a line that stays silent. Measured twice: with the
// caret blinking in the focused box of the active window (Qt's blink, which
// stops while the window is in the background), and with the blink off, which
// leaves the program's own wake-ups. One of the counted wake-ups per case is
// the benchmark's own timer that ends the case.
//   bench_idle [seconds per case]      (default 5; QT_QPA_PLATFORM=offscreen if unset)

#include <QApplication>
#include <cstdio>

#include "LineRig.h"

namespace {

// Wake-ups per second while the event loop runs for `seconds`.
double WakeUpsPerSecond(int seconds)
{
    RunEventLoopFor(500);  // let what the last step started settle
    const qint64 before = ContextSwitches();
    RunEventLoopFor(seconds * 1000);
    return double(ContextSwitches() - before) / seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 5;

    LineRig line;
    if (!line.rig) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    std::printf("wake-ups of the whole process (context switches of all its threads), %d s per case\n\n", seconds);
    std::printf("%-44s %10s %18s\n", "case", "per second", "receive interval");
    const auto row = [&](const QString& what) {
        const double rate = WakeUpsPerSecond(seconds);
        std::printf("%-44s %10.1f %15d ms\n", qPrintable(what), rate, line.rig->ui.GetInterval(Control::Timer_ReceiveData));
        std::fflush(stdout);
    };
    const int blink = QApplication::cursorFlashTime();
    for (bool caret : {true, false}) {
        QApplication::setCursorFlashTime(caret ? blink : 0);
        const QString suffix = caret ? QStringLiteral(", caret blinking") : QStringLiteral(", no caret blink");
        row(QStringLiteral("port closed") + suffix);
        if (!line.Open(115200)) {
            std::fprintf(stderr, "cannot open the port\n");
            return 1;
        }
        row(QStringLiteral("port open, line idle") + suffix);
        line.rig->Click(Control::Button_TogglePort);
    }
    return 0;
}
