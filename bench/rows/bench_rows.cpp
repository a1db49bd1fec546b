// Start-up time against the number of rows in data.dat. For each size a
// table file is made (the laid-out table's titles, every further row at the
// default height, no codes), the program is copied into a folder beside it
// and started until its window first shows (VELMORA_EXIT_AFTER_SHOW), and the
// time is set against the time to read and parse the same file in-process.
// Then a grid of the largest size scrolls page by page, drawn each time.
// Last, the laid-out table with one code of `code MB` hex digits in its first
// cell (as an import of such a CSV wrote it, spaced: 1.5 times as many
// characters) goes the same way, and so does a file of `attrs MB` of small
// attribute records, each on a cell of its own (a table of 32 columns and as
// many rows as it takes); for these two, `velmora-cli export` of the file is
// measured as well, and `velmora-cli import` of the CSV it wrote. Peak RSS is
// each process's own.
//
//   bench_rows [rounds] [rows …] [code=MB …] [attrs=MB …]
//   (default 3 rounds; 97 100000 1000000 code=40)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <functional>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtEndian>

#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "ui/ConfigGridView.h"

namespace {

double Median(std::vector<double> v)
{
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// The laid-out table stretched to `rows` rows of the default height.
QByteArray TableFileOfRows(int rows)
{
    ConfigTable laidOut;
    InitTable(laidOut);
    TableContent t = laidOut.Content();
    t.rows = rows;
    t.rowHeights.resize(rows);
    std::fill(t.rowHeights.begin() + qMin(rows, 97), t.rowHeights.end(), TableFileFormat::NewDefaultRowHeight);
    return WriteTableFile(t);
}

// The laid-out table whose first "开" cell holds a code of `megabytes` MB
// (2^20 bytes) of hex digits, spaced in pairs.
QByteArray TableFileWithLongCode(int megabytes)
{
    ConfigTable table;
    InitTable(table);
    QString code = QStringLiteral("AB ").repeated((qsizetype(megabytes) << 20) / 2);
    code.chop(1);
    table.SetCellText(1, 1, code);
    return WriteTableFile(table.Content());
}

// A table of 32 columns with one text-format record (12 bytes) for each of
// its cells, `megabytes` MB of them, written straight as bytes.
QByteArray TableFileOfAttributeRecords(int megabytes)
{
    constexpr int kColumns = 32;
    const qint64 records = (qint64(megabytes) << 20) / TableFileFormat::AttributeRecordSize;
    TableContent t = NewTableContent(int((records + kColumns - 1) / kColumns) + 1, kColumns);
    t.cells.clear();
    QByteArray file = WriteTableFile(t);
    file.truncate(TableFileFormat::HeaderSize + TableFileFormat::PropertiesSize + 4 * (qint64(t.rows) + t.columns));
    constexpr qsizetype kTextFormatCountAt = TableFileFormat::HeaderSize + 108;
    qToLittleEndian<quint32>(quint32(records), file.data() + kTextFormatCountAt);
    const qsizetype at = file.size();
    file.resize(at + records * TableFileFormat::AttributeRecordSize);
    char* p = file.data() + at;
    for (qint64 i = 0; i < records; ++i, p += 12) {
        qToLittleEndian<quint32>(quint32(1 + i / kColumns), p);
        qToLittleEndian<quint32>(quint32(i % kColumns), p + 4);
        qToLittleEndian<quint32>(0x825, p + 8);
    }
    return file;
}

// Runs `program` with `args` to its end, standard output into `out`; its
// own peak RSS in MB (-1 when it did not run), its exit status in `status`.
// A process starts with the peak of the one it was forked from, so the
// program is started by a fresh, small copy of this benchmark (MeasureMain)
// rather than by this large process.
double PeakRssMb(const QString& program, const QStringList& args, const QString& out, int* status)
{
    const QString result = out + QStringLiteral(".peak");
    std::vector<QByteArray> bytes{QByteArray("/proc/self/exe"), QByteArray("--measure"), out.toLocal8Bit(), result.toLocal8Bit(),
                                  program.toLocal8Bit()};
    for (const QString& a : args) bytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes) argv.push_back(b.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0 || waitpid(pid, nullptr, 0) != pid) return -1;
    QFile f(result);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QList<QByteArray> words = f.readAll().split(' ');
    *status = words.value(1).toInt();
    return words.value(0).toDouble() / 1024.0;
}

// bench_rows --measure OUT RESULT PROGRAM ARGS…: runs PROGRAM, its standard
// output into OUT, and writes "peak-KB wait-status" into RESULT.
int MeasureMain(char** argv)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::execv(argv[4], argv + 4);
        _exit(127);
    }
    int status = 0;
    rusage usage = {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 1;
    FILE* result = std::fopen(argv[3], "w");
    if (!result) return 1;
    std::fprintf(result, "%ld %d", usage.ru_maxrss, status);
    return std::fclose(result) == 0 ? 0 : 1;
}

double ParseMs(const QByteArray& file)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        TableContent t;
        if (!ParseTableFile(file, t)) return -1;
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    return Median(times);
}

// The table's whole load of the file, without a view: read, parse, the check
// that a save writes it back whole, the model's reset.
double LoadMs(const QString& path)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        ConfigTable table;
        QElapsedTimer clock;
        clock.start();
        if (!table.LoadTable(path)) return -1;
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    return Median(times);
}

struct Run {
    double shownMs = -1;     // the program's own count from its start to the window's first map
    double wallMs = -1;      // from start to exit, exit save included
    double peakRssMb = -1;
};

Run StartOnce(const QString& folder)
{
    Run run;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VELMORA_EXIT_AFTER_SHOW", "1");
    qputenv("XDG_DATA_HOME", (folder + QStringLiteral("/share")).toLocal8Bit());
    qunsetenv("VELMORA_EXTRA_PORTS");
    QElapsedTimer clock;
    clock.start();
    const QString outFile = folder + QStringLiteral("/out.txt");
    int status = 0;
    run.peakRssMb = PeakRssMb(folder + QStringLiteral("/velmora"), {}, outFile, &status);
    if (run.peakRssMb < 0) return run;
    run.wallMs = clock.nsecsElapsed() / 1e6;
    QFile f(outFile);
    const QByteArray out = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    const qsizetype at = out.indexOf("shown after ");
    if (at >= 0) run.shownMs = out.mid(at + 12).split(' ').value(0).toDouble();
    return run;
}

// Page-downs through a grid of `rows` rows, each drawn before the next.
void Scroll(int rows)
{
    ConfigTable table;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.dat"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(TableFileOfRows(rows)) < 0) return;
    f.close();
    QElapsedTimer clock;
    clock.start();
    ConfigGridView grid(table);
    grid.resize(735, 599);
    grid.show();
    table.LoadTable(path);
    grid.grab();
    const double loadMs = clock.nsecsElapsed() / 1e6;

    QScrollBar* bar = grid.verticalScrollBar();
    std::vector<double> steps;
    for (int i = 0; i < 200; ++i) {
        clock.restart();
        bar->setValue(i % 2 ? bar->value() + bar->pageStep() : bar->maximum() / 200 * i);
        grid.grab();  // draws the grid and its headers into a picture, as a screen update would
        steps.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("scroll   %8d rows: grid loaded and drawn in %.1f ms; 200 jumps and page-downs, each drawn: "
                "median %.2f ms, worst %.2f ms\n",
                rows, loadMs, Median(steps), *std::max_element(steps.begin(), steps.end()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 4 && std::strcmp(argv[1], "--measure") == 0) return MeasureMain(argv);
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<int> sizes, codeMegabytes, attributeMegabytes;
    for (int i = 2; i < argc; ++i) {
        if (std::strncmp(argv[i], "code=", 5) == 0) codeMegabytes.push_back(std::atoi(argv[i] + 5));
        else if (std::strncmp(argv[i], "attrs=", 6) == 0) attributeMegabytes.push_back(std::atoi(argv[i] + 6));
        else sizes.push_back(std::atoi(argv[i]));
    }
    if (argc <= 2) {
        sizes = {97, 100000, 1000000};
        codeMegabytes = {40};
    }

    // Each case: how the line names it, and how its file is made (only when
    // its turn comes: a child forked from a larger benchmark counts as larger).
    std::vector<std::pair<QString, std::function<QByteArray()>>> cases;
    for (int rows : sizes) cases.emplace_back(QStringLiteral("%1 rows").arg(rows, 8), [rows] { return TableFileOfRows(rows); });
    for (int mb : codeMegabytes)
        cases.emplace_back(QStringLiteral("%1 MB code").arg(mb, 5), [mb] { return TableFileWithLongCode(mb); });
    for (int mb : attributeMegabytes)
        cases.emplace_back(QStringLiteral("%1 MB attrs").arg(mb, 4), [mb] { return TableFileOfAttributeRecords(mb); });

    for (const auto& [label, make] : cases) {
        QTemporaryDir dir;
        const QByteArray file = make();
        QFile data(dir.filePath(QStringLiteral("data.dat")));
        const QString copy = dir.filePath(QStringLiteral("velmora"));
        if (!data.open(QIODevice::WriteOnly) || data.write(file) != file.size() || !QFile::copy(VELMORA_PROGRAM, copy)) {
            std::printf("%s: could not set up %s\n", qPrintable(label), qPrintable(dir.path()));
            return 1;
        }
        data.close();
        if (!label.endsWith(QLatin1String("rows"))) {
            int status = 0;
            const double peak = PeakRssMb(QStringLiteral(VELMORA_CLI_PROGRAM), {QStringLiteral("export"), data.fileName()},
                                          dir.filePath(QStringLiteral("export.csv")), &status);
            std::printf("export   %s (%6.2f MB file): exit status %d, peak RSS %7.1f MB\n", qPrintable(label),
                        file.size() / 1048576.0, WIFEXITED(status) ? WEXITSTATUS(status) : -1, peak);
            // And back: the CSV just written made into a table file again (refused beyond 8 MB).
            const QString csv = dir.filePath(QStringLiteral("export.csv"));
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                const double back = PeakRssMb(QStringLiteral(VELMORA_CLI_PROGRAM),
                                              {QStringLiteral("import"), csv, QStringLiteral("-o"),
                                               dir.filePath(QStringLiteral("imported.dat"))},
                                              dir.filePath(QStringLiteral("import.out")), &status);
                std::printf("import   %s (%6.2f MB CSV): exit status %d, peak RSS %7.1f MB\n", qPrintable(label),
                            QFileInfo(csv).size() / 1048576.0, WIFEXITED(status) ? WEXITSTATUS(status) : -1, back);
            }
            QFile::remove(csv);
            std::fflush(stdout);
        }
        const double parse = ParseMs(file);
        const double load = LoadMs(data.fileName());
        std::vector<double> shown, wall, rss;
        for (int i = 0; i < rounds; ++i) {
            // Every run starts from the same file (the exit save rewrites it).
            QFile::remove(data.fileName());
            QFile again(data.fileName());
            if (!again.open(QIODevice::WriteOnly) || again.write(file) != file.size()) return 1;
            again.close();
            const Run r = StartOnce(dir.path());
            if (r.shownMs < 0) {
                std::printf("%s: a run failed\n", qPrintable(label));
                continue;
            }
            shown.push_back(r.shownMs);
            wall.push_back(r.wallMs);
            rss.push_back(r.peakRssMb);
        }
        std::printf("start-up %s (%5.2f MB file): parse %7.2f ms, table load %7.2f ms, window shown after %8.1f ms "
                    "(median of %zu; %.1fx the load), start to exit %8.1f ms, peak RSS %6.1f MB\n",
                    qPrintable(label), file.size() / 1048576.0, parse, load, Median(shown), shown.size(),
                    load > 0 ? Median(shown) / load : 0.0, Median(wall), rss.empty() ? -1 : rss.back());
        std::fflush(stdout);
    }
    if (!sizes.empty() && sizes.back() >= 97) Scroll(sizes.back());
    return 0;
}
