// velmora-cli write of a full table (192 codes) to one pseudo-terminal and to
// four at once. Each far end plays the module: it keeps every byte with the
// time it came and echoes the enter and exit frames. Prints, per run:
//  - the upload's time on the line (first frame to the exit frame, plus the
//    exit frame's 100 ms pause) against its pause floor (0.8 s + 50 ms per code),
//    for the slowest port;
//  - the process's whole wall time (start, port list, opening, closing included);
//  - CPU time of the process per port, as a share of one core over the upload;
//  - whether every far end received the upload byte-exact and in order.
// Then a station: velmora-cli provision with 16 simulated modules plugged in
// 0.5 s apart, each written and read back; per module the time from being
// plugged in to its line against its pause floor, and the station's CPU.
// Usage: bench_cli [runs]   (default 1 of each)
//        bench_cli station  (the station only)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <vector>

#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "core/TableLayout.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "tests/support/EchoModule.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ChildrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A code for every value cell, 1 to 8 bytes, 0A and 0D among them.
QString CodeFor(int row, int column)
{
    QByteArray code;
    const int length = 1 + (row * 2 + column) % 8;
    for (int i = 0; i < length; ++i) code += char((row * 7 + column * 13 + i * 0x0A) & 0xFF);
    return BytesToHex(code);
}

// What the upload must put on the line, in order.
QByteArray ExpectedUpload(const ConfigTable& table)
{
    using namespace TableLayout;
    auto bytes = [](const QString& frame) { return QByteArray::fromHex(RemoveBlanks(frame).toLatin1()); };
    QByteArray out = bytes(EnterConfigFrame);
    for (int block = 1; block <= kBlocks; ++block) {
        out += bytes(BlockBeginFrame(block));
        for (int k = 1; k <= kSlotsPerBlock; ++k) {
            out += bytes(CodeRecord(k, RemoveBlanks(table.GetCellText(BlockRow(block, k), kOnColumn))));
            out += bytes(CodeRecord(k + kSlotsPerBlock, RemoveBlanks(table.GetCellText(BlockRow(block, k), kOffColumn))));
        }
        out += bytes(BlockEndFrame(block));
    }
    return out + bytes(ExitConfigFrame);
}

// The station case. Every module is velmora-sim on a pseudo-terminal, named
// by a link in the watched folder, answering a dump with `pace` ms of quiet
// before each answer and the bytes timed at 115200 baud.
bool StationCase(const QString& cli, const QString& dir, const QString& file, const ConfigTable& table, int codes)
{
    constexpr int kModules = 16;
    constexpr int kPaceMs = 10;
    const QString sim = QCoreApplication::applicationDirPath() + QStringLiteral("/../../velmora-sim");
    const QString watch = dir + QStringLiteral("/watch");
    QDir().mkpath(watch);

    // The floor of one dump: the enter frame's pause, then each answer's
    // quiet time and its bytes on the line (10 bits a byte).
    qsizetype dumpBytes = 2 * 9;
    for (int row = 1; row <= 96; ++row)
        for (int column = 1; column <= 2; ++column) dumpBytes += 4 + RemoveBlanks(table.GetCellText(row, column)).size() / 2;
    const double dumpFloor = 0.1 + (codes + 2) * kPaceMs / 1000.0 + double(dumpBytes) * 10 / 115200;
    const double writeFloor = 0.8 + 0.05 * codes;

    QProcess station;
    station.start(cli, {QStringLiteral("provision"), file, QStringLiteral("--watch-dir"), watch, QStringLiteral("--count"),
                        QString::number(kModules), QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--json")});
    // Its first line on standard error: it is watching.
    station.setReadChannel(QProcess::StandardError);
    if (!station.waitForStarted(10000) || !station.waitForReadyRead(10000)) {
        std::fprintf(stderr, "the station did not start\n");
        return false;
    }
    station.setReadChannel(QProcess::StandardOutput);
    const double cpu0 = ChildrenCpuSeconds();
    const auto t0 = Clock::now();

    std::vector<std::unique_ptr<QProcess>> sims;
    std::vector<Clock::time_point> plugged(kModules), lined(kModules);
    std::vector<double> seconds(kModules, 0);
    std::vector<bool> passed(kModules, false);
    QEventLoop loop;
    QTimer plug;
    plug.setInterval(500);
    auto plugIn = [&] {
        const int i = int(sims.size());
        auto p = std::make_unique<QProcess>();
        p->start(sim, {QStringLiteral("--link"), watch + QStringLiteral("/module%1").arg(i, 2, 10, QLatin1Char('0')),
                       QStringLiteral("--memory"), dir + QStringLiteral("/module%1.mem").arg(i), QStringLiteral("--pace"),
                       QString::number(kPaceMs), QStringLiteral("--baud"), QStringLiteral("115200")});
        p->waitForReadyRead(5000);  // its first line: the link is in place
        plugged[size_t(i)] = Clock::now();
        sims.push_back(std::move(p));
        if (int(sims.size()) == kModules) plug.stop();
    };
    QObject::connect(&plug, &QTimer::timeout, plugIn);
    QObject::connect(&station, &QProcess::readyReadStandardOutput, [&] {
        while (station.canReadLine()) {
            const QJsonObject o = QJsonDocument::fromJson(station.readLine()).object();
            const int i = QFileInfo(o.value(QStringLiteral("port")).toString()).fileName().mid(6).toInt();
            if (i < 0 || i >= kModules) continue;
            lined[size_t(i)] = Clock::now();
            seconds[size_t(i)] = o.value(QStringLiteral("seconds")).toDouble();
            passed[size_t(i)] = o.value(QStringLiteral("ok")).toBool();
        }
    });
    QObject::connect(&station, &QProcess::finished, &loop, &QEventLoop::quit);
    plugIn();
    plug.start();
    loop.exec();
    const double wall = Seconds(Clock::now() - t0);
    const double cpu = ChildrenCpuSeconds() - cpu0;

    std::printf("\nstation: %d modules plugged in 0.5 s apart, %d codes each written and read back, "
                "write floor %.3f s, dump floor %.3f s (pace %d ms)\n",
                kModules, codes, writeFloor, dumpFloor, kPaceMs);
    std::vector<double> ratios;
    bool allPassed = station.exitCode() == 0;
    for (int i = 0; i < kModules; ++i) {
        const QByteArray log = i < int(sims.size()) ? sims[size_t(i)]->readAllStandardOutput() : QByteArray();
        const int dumps = int(log.count("recv read "));
        const double floor = writeFloor + dumps * dumpFloor;
        const double plugToLine = Seconds(lined[size_t(i)] - plugged[size_t(i)]);
        ratios.push_back(plugToLine / floor);
        allPassed &= passed[size_t(i)];
        std::printf("  module %2d: plugged in to its line %.3f s (its run %.3f s), %d dump%s, floor %.3f s = %.4f x floor; %s\n", i,
                    plugToLine, seconds[size_t(i)], dumps, dumps == 1 ? "" : "s", floor, plugToLine / floor,
                    passed[size_t(i)] ? "passed" : "FAILED");
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("station: %.3f s from the first module plugged in to the end; x floor per module: min %.4f, median %.4f, max %.4f;\n"
                "         cpu %.3f s = %.2f%% of one core over the run, %.3f s per module; exit status %d\n",
                wall, ratios.front(), ratios[ratios.size() / 2], ratios.back(), cpu, 100.0 * cpu / wall, cpu / kModules,
                station.exitCode());
    for (auto& p : sims) {
        p->terminate();
        p->waitForFinished(5000);
    }
    return allPassed;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool stationOnly = argc > 1 && std::strcmp(argv[1], "station") == 0;
    const int runs = argc > 1 && !stationOnly ? std::max(1, std::atoi(argv[1])) : 1;
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../../velmora-cli");

    QTemporaryDir dir;
    ConfigTable table;
    InitTable(table);
    int codes = 0;
    for (int row = 1; row <= 96; ++row)
        for (int column = 1; column <= 2; ++column, ++codes) table.SetCellText(row, column, CodeFor(row, column));
    const QString file = dir.filePath(QStringLiteral("full.dat"));
    if (!table.SaveTable(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }
    if (stationOnly) return StationCase(cli, dir.path(), file, table, codes) ? 0 : 2;
    const QByteArray expected = ExpectedUpload(table);
    const double floor = 0.8 + 0.05 * codes;
    std::printf("velmora-cli write of %d codes (%lld bytes per port), pause floor %.3f s\n", codes,
                static_cast<long long>(expected.size()), floor);

    std::vector<std::unique_ptr<EchoModule>> ends;
    for (int i = 0; i < 4; ++i) ends.push_back(std::make_unique<EchoModule>());

    bool allExact = true;
    for (int ports : {1, 4}) {
        for (int run = 1; run <= runs; ++run) {
            QStringList paths;
            for (int i = 0; i < ports; ++i) {
                ends[size_t(i)]->Clear();
                paths << ends[size_t(i)]->Path();
            }
            QProcess p;
            const double cpu0 = ChildrenCpuSeconds();
            const auto t0 = Clock::now();
            p.start(cli, {QStringLiteral("write"), paths.join(QLatin1Char(',')), file, QStringLiteral("--baud"),
                          QStringLiteral("115200"), QStringLiteral("-q")});
            if (!p.waitForFinished(120000) || p.exitCode() != 0) {
                std::fprintf(stderr, "velmora-cli failed (%d): %s\n", p.exitCode(), p.readAllStandardError().constData());
                return 1;
            }
            const double wall = Seconds(Clock::now() - t0);
            const double cpu = ChildrenCpuSeconds() - cpu0;

            double slowest = 0, fastest = 1e9;
            bool exact = true;
            for (int i = 0; i < ports; ++i) {
                const auto [first, last] = ends[size_t(i)]->Span();
                // The exit frame's own pause belongs to the upload as the window times it.
                const double upload = Seconds(last - first) + 0.1;
                slowest = std::max(slowest, upload);
                fastest = std::min(fastest, upload);
                exact &= ends[size_t(i)]->Received() == expected;
            }
            allExact &= exact;
            std::printf("%d port%s, run %d: upload on the line %.3f s = %.4f x floor (fastest port %.4f x); "
                        "process %.3f s; cpu %.3f s = %.2f%% of one core per port; far ends %s\n",
                        ports, ports > 1 ? "s" : "", run, slowest, slowest / floor, fastest / floor, wall, cpu,
                        100.0 * cpu / ports / slowest, exact ? "byte-exact" : "MISMATCH");
            std::fflush(stdout);
        }
    }
    const bool stationPassed = StationCase(cli, dir.path(), file, table, codes);
    return allExact && stationPassed ? 0 : 2;
}
