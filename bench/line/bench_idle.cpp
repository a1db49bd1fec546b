// Wake-ups per second of the program when nothing happens: the port closed,
// and the port open on a line that stays silent.
//   bench_idle [seconds per case]      (default 10; QT_QPA_PLATFORM=offscreen if unset)

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
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 10;

    LineRig line;
    if (!line.rig) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    std::printf("wake-ups of the whole process (context switches of all its threads), %d s per case\n\n", seconds);
    std::printf("%-34s %10s %18s\n", "case", "per second", "receive interval");
    const auto row = [&](const char* what) {
        const double rate = WakeUpsPerSecond(seconds);
        std::printf("%-34s %10.1f %15d ms\n", what, rate, line.rig->ui.GetInterval(Control::Timer_ReceiveData));
        std::fflush(stdout);
    };
    row("port closed (after start-up)");
    if (!line.Open(115200)) {
        std::fprintf(stderr, "cannot open the port\n");
        return 1;
    }
    row("port open, line idle");
    line.rig->Click(Control::Button_TogglePort);
    row("port closed again");
    return 0;
}
