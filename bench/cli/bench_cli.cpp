// velmora-cli write of a full table (192 codes) to one pseudo-terminal and to
// four at once. Each far end plays the module: it keeps every byte with the
// time it came and echoes the enter and exit frames. Prints, per run:
//  - the upload's time on the line (first frame to the exit frame, plus the
//    exit frame's 100 ms pause) against its pause floor (0.8 s + 50 ms per code),
//    for the slowest port;
//  - the process's whole wall time (start, port list, opening, closing included);
//  - CPU time of the process per port, as a share of one core over the upload;
//  - whether every far end received the upload byte-exact and in order.
// Usage: bench_cli [runs]   (default 1 of each)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
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
    return allExact ? 0 : 2;
}
