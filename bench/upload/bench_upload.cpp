// Runs "写入模块" on a full table (192 codes) and "清空模块" against a
// pseudo-terminal: the real main window (offscreen) and interface services,
// the port opened with the port button's handler through the built-in serial
// provider, the 10 ms receive tick running, the buttons clicked. Prints:
//  - wall time of the upload against its pause floor (0.8 s + 50 ms per code),
//  - CPU time of the program's (main) thread during it, as a share of one core,
//  - the shortest margin of any pause over its floor (write to write, program side),
//  - whether the far end received every frame byte-exact and in order.
// Usage: bench_upload [runs]   (default 1)

#include <QAbstractButton>
#include <QApplication>
#include <QPlainTextEdit>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

#include "app/ModuleHandlers.h"
#include "app/PortHandlers.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "app/Program.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "serial/BuiltinProviders.h"
#include "serial/SerialLibrary.h"
#include "ui/MainWindow.h"
#include "ui/QtUiServices.h"
#include "tests/support/EchoModule.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ThreadCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Answers every box with OK, as a user confirming would.
class ConfirmingPresenter : public BoxPresenter {
public:
    QMessageBox::StandardButton ShowMessage(const MessageBoxRequest& request) override
    {
        boxes << request.text;
        return QMessageBox::Ok;
    }
    bool ShowFileDialog(const FileDialogRequest&, QString*) override { return false; }
    QStringList boxes;
};

// Forwards to the built-in provider and notes when every write was made.
class TimedWrites : public LibraryProvider {
public:
    explicit TimedWrites(LibraryProvider& inner) : inner_(inner) {}
    bool Offers(const QString& file, const QString& function) const override
    {
        return function == QLatin1String("sio_write") && inner_.Offers(file, function);
    }
    int sio_write(int port, const char* data, int len) override
    {
        const auto start = Clock::now();
        times.push_back(start);
        const int result = inner_.sio_write(port, data, len);
        callTime += Clock::now() - start;
        return result;
    }
    std::vector<Clock::time_point> times;
    Clock::duration callTime{};

private:
    LibraryProvider& inner_;
};

// A code for every value cell, of 1 to 8 bytes, including 0A and 0D so a line
// discipline that translates them would show.
QString CodeFor(int row, int column)
{
    QByteArray code;
    const int length = 1 + (row * 2 + column) % 8;
    for (int i = 0; i < length; ++i) code += char((row * 7 + column * 13 + i * 0x0A) & 0xFF);
    return BytesToHex(code);
}

// The bytes the upload must put on the line, in order, and the floor of the
// pause after each write.
void ExpectedUpload(const ConfigTable& table, QByteArray& bytes, std::vector<int>& pauses)
{
    auto add = [&](const QString& frame, int pause) {
        bytes += QByteArray::fromHex(RemoveBlanks(frame).toLatin1());
        pauses.push_back(pause);
    };
    add(EnterConfigFrame, 100);
    for (int block = 1; block <= 3; ++block) {
        add(BlockBeginFrame(block), 100);
        for (int k = 1; k <= 32; ++k) {
            const int row = block == 1 ? 2 * k - 1 : block == 2 ? 64 + k : 2 * k;
            add(CodeRecord(k, table.GetCellText(row, 1)), 50);
            add(CodeRecord(k + 32, table.GetCellText(row, 2)), 50);
        }
        add(BlockEndFrame(block), 100);
    }
    add(ExitConfigFrame, 100);
}

// Shortest and mean write-to-write gap over its floor, in ms (the last write
// is left out: its pause ends the operation).
std::pair<double, double> PauseMargins(const std::vector<Clock::time_point>& times, const std::vector<int>& floors)
{
    double shortest = 1e9, sum = 0;
    size_t n = 0;
    for (; n + 1 < times.size() && n < floors.size(); ++n) {
        const double margin = Seconds(times[n + 1] - times[n]) * 1000.0 - floors[n];
        shortest = std::min(shortest, margin);
        sum += margin;
    }
    return {shortest, n ? sum / double(n) : 0.0};
}

bool WaitForBytes(EchoModule& far, qsizetype count)
{
    QElapsedTimer t;
    t.start();
    while (far.Received().size() < count && t.elapsed() < 3000) QThread::msleep(5);
    return far.Received().size() >= count;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    // The module's end of the line: collects every byte and echoes the enter
    // and exit frames as the module does, so the receive tick has its usual work.
    EchoModule far;
    const QString device = far.Path();
    if (device.isEmpty()) {
        std::perror("pseudo-terminal");
        return 1;
    }
    qputenv("VELMORA_EXTRA_PORTS", device.toLocal8Bit());

    QApplication app(argc, argv);
    auto presenterOwned = std::make_unique<ConfirmingPresenter>();
    ConfirmingPresenter& presenter = *presenterOwned;
    QtUiServices ui(std::move(presenterOwned));
    auto builtin = MakeBuiltinProviders();
    TimedWrites timed(*builtin.at(0));
    QVector<LibraryProvider*> providers{&timed};
    for (auto& p : builtin) providers << p.get();
    SerialLibrary serial(FatalReportTo(ui), providers);
    ConfigTable table;
    WindowProgram windowProgram(ui, serial, table);
    Program& p = windowProgram.program;

    WindowHandlers handlers;
    handlers.created = [&] {
        RefreshPortList(p.ui, p.serial);
        FillBaudLists(p.ui);
        InitTable(table);
        DisableModuleButtons(p.ui);
    };
    handlers.togglePortClicked = [&] { TogglePort(p.Ports()); };
    handlers.writeModuleClicked = [&] { WriteModule(p.Modules()); };
    handlers.clearModuleClicked = [&] { ClearModule(p.Modules()); };
    handlers.receiveTimerTick = [&] { ReceiveTick(p.link); };
    MainWindow window(table, handlers);
    ui.Attach(&window);
    window.RunCreatedHandler();
    window.show();
    auto click = [&](Control c) { static_cast<QAbstractButton*>(window.Widget(c))->click(); };

    // The pty is the last item of the port list; 115200 in the baud box.
    ui.SetSelection(Control::Combo_Port, ui.ComboCount(Control::Combo_Port) - 1);
    ui.SetSelection(Control::Combo_BaudRate, 4);
    click(Control::Button_TogglePort);
    if (!p.link.IsOpen()) {
        std::fprintf(stderr, "could not open %s: %s\n", qPrintable(device), qPrintable(presenter.boxes.join(' ')));
        return 1;
    }

    int codes = 0;
    for (int row = 1; row <= 96; ++row)
        for (int column = 1; column <= 2; ++column, ++codes) table.SetCellText(row, column, CodeFor(row, column));
    QByteArray expected;
    std::vector<int> floors;
    ExpectedUpload(table, expected, floors);
    const double floor = 0.8 + 0.05 * codes;

    std::printf("upload of %d codes (%lld bytes) to %s, floor %.3f s\n", codes, (long long)expected.size(),
                qPrintable(device), floor);
    bool allExact = true;
    for (int run = 1; run <= runs; ++run) {
        far.Clear();
        timed.times.clear();
        timed.callTime = {};
        const qsizetype logBefore = ui.GetText(Control::Edit_Display).size();
        const double cpu0 = ThreadCpuSeconds();
        const auto t0 = Clock::now();
        click(Control::Button_WriteModule);
        const double wall = Seconds(Clock::now() - t0);
        const double cpu = ThreadCpuSeconds() - cpu0;
        const bool exact = WaitForBytes(far, expected.size()) && far.Received() == expected;
        allExact &= exact;
        const auto margins = PauseMargins(timed.times, floors);
        std::printf("run %d: wall %.3f s = %.4f x floor; cpu %.3f s = %.2f%% of one core; "
                    "writes %zu (mean call %.3f ms); pause over its floor: shortest %+.2f ms, mean %+.2f ms; "
                    "far end %s; echoes logged %lld\n",
                    run, wall, wall / floor, cpu, 100.0 * cpu / wall, timed.times.size(),
                    Seconds(timed.callTime) * 1000.0 / double(std::max<size_t>(1, timed.times.size())),
                    margins.first, margins.second, exact ? "byte-exact" : "MISMATCH",
                    (long long)ui.GetText(Control::Edit_Display).mid(logBefore).count(QStringLiteral("配置模式")));
    }

    // The clear: enter, clear request, exit, with their pauses.
    far.Clear();
    timed.times.clear();
    const auto c0 = Clock::now();
    click(Control::Button_ClearModule);
    const double clearWall = Seconds(Clock::now() - c0);
    const QByteArray clearBytes = FixedFrameBytes(EnterConfigFrame) + FixedFrameBytes(ClearRequestFrame)
        + FixedFrameBytes(ExitConfigFrame);
    const bool clearExact = WaitForBytes(far, clearBytes.size()) && far.Received() == clearBytes;
    std::printf("clear: wall %.3f s (floor 0.400 s); pauses %.2f ms (>= 100) and %.2f ms (>= 200); far end %s\n",
                clearWall, Seconds(timed.times.at(1) - timed.times.at(0)) * 1000.0,
                Seconds(timed.times.at(2) - timed.times.at(1)) * 1000.0, clearExact ? "byte-exact" : "MISMATCH");

    click(Control::Button_TogglePort);
    ui.Attach(nullptr);
    return allExact && clearExact ? 0 : 2;
}
