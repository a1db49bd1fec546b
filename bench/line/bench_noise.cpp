// Memory of the program while a line sends nothing but noise at 115200 baud
// (random bytes, at the pace of the line, outside any read): resident size,
// log lines and the longest one, every 15 s.
//   bench_noise [seconds]      (default 120; QT_QPA_PLATFORM=offscreen if unset)

#include <QApplication>
#include <QRandomGenerator>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

#include "LineRig.h"

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void PrintRow(LineRig& line, int second, double cpuSince)
{
    const QStringList lines = line.rig->Log().split(QStringLiteral("\r\n"));
    qsizetype longest = 0;
    for (const QString& l : lines) longest = qMax(longest, l.size());
    std::printf("%6d s %10.1f MB %10.1f MB %10d %12lld %9.1f %%\n", second, StatusKb("VmRSS") / 1024.0,
                StatusKb("VmHWM") / 1024.0, int(lines.size()) - 1, static_cast<long long>(longest),
                second > 0 ? 100.0 * cpuSince / second : 0.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 120;

    LineRig line;
    if (!line.rig || !line.Open(115200)) {
        std::fprintf(stderr, "cannot open the port on a pseudo-terminal\n");
        return 1;
    }
    RunEventLoopFor(500);

    // The far end: random bytes, each leaving when its time on the wire (87 us) has come.
    std::atomic<bool> stop{false};
    std::atomic<qint64> sent{0};
    std::thread noise([&] {
        QRandomGenerator random(20261207);
        const auto start = std::chrono::steady_clock::now();
        qint64 written = 0;
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const qint64 due = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count()
                * 115200 / 10 / 1000000;
            QByteArray bytes(int(due - written), '\0');
            for (char& b : bytes) b = char(random.bounded(256));
            const ssize_t n = ::write(line.master, bytes.constData(), size_t(bytes.size()));
            if (n > 0) written += n;
            sent = written;
        }
    });

    std::printf("noise at 115200 baud into an open port, outside any read, for %d s\n\n", seconds);
    std::printf("%8s %13s %13s %10s %12s %11s\n", "time", "RSS", "peak RSS", "log lines", "longest line", "CPU");
    const double cpuStart = CpuSeconds();
    PrintRow(line, 0, 0);
    for (int at = 15; at <= seconds; at += 15) {
        RunEventLoopFor(15000);
        PrintRow(line, at, CpuSeconds() - cpuStart);
    }
    if (seconds % 15) {
        RunEventLoopFor((seconds % 15) * 1000);
        PrintRow(line, seconds, CpuSeconds() - cpuStart);
    }
    stop = true;
    noise.join();
    std::printf("\n%lld noise bytes sent; held now: %d bytes\n", static_cast<long long>(sent.load()),
                int(line.rig->program.link.Reading().Held().bytes.size()));
    return 0;
}
