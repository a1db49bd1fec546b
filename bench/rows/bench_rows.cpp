// Start-up time against the number of rows in data.dat. For each size a
// table file is made (the laid-out table's titles, every further row at the
// default height, no codes), the program is copied into a folder beside it
// and started until its window first shows (VELMORA_EXIT_AFTER_SHOW), and the
// time is set against the time to read and parse the same file in-process.
// Then a grid of the largest size scrolls page by page, drawn each time.
// Last, the laid-out table with one code of `code MB` hex digits in its first
// cell (as an import of such a CSV wrote it, spaced: 1.5 times as many
// characters) goes the same way.
//
//   bench_rows [rounds] [rows …] [code=MB]   (default 3 rounds; 97 100000 1000000 code=40)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <functional>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>

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
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM"))) env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("VELMORA_EXIT_AFTER_SHOW"), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), folder + QStringLiteral("/share"));
    env.remove(QStringLiteral("VELMORA_EXTRA_PORTS"));
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(folder + QStringLiteral("/velmora"), {});
    if (!p.waitForFinished(600000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.wallMs = clock.nsecsElapsed() / 1e6;
    const QByteArray out = p.readAllStandardOutput();
    const qsizetype at = out.indexOf("shown after ");
    if (at >= 0) run.shownMs = out.mid(at + 12).split(' ').value(0).toDouble();
    rusage usage = {};
    getrusage(RUSAGE_CHILDREN, &usage);  // the largest child so far
    run.peakRssMb = usage.ru_maxrss / 1024.0;
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
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<int> sizes;
    int codeMegabytes = 0;
    for (int i = 2; i < argc; ++i) {
        if (std::strncmp(argv[i], "code=", 5) == 0) codeMegabytes = std::atoi(argv[i] + 5);
        else sizes.push_back(std::atoi(argv[i]));
    }
    if (argc <= 2) {
        sizes = {97, 100000, 1000000};
        codeMegabytes = 40;
    }

    // Each case: how the line names it, and how its file is made (only when
    // its turn comes: a child forked from a larger benchmark counts as larger).
    std::vector<std::pair<QString, std::function<QByteArray()>>> cases;
    for (int rows : sizes) cases.emplace_back(QStringLiteral("%1 rows").arg(rows, 8), [rows] { return TableFileOfRows(rows); });
    if (codeMegabytes > 0)
        cases.emplace_back(QStringLiteral("%1 MB code").arg(codeMegabytes, 5), [=] { return TableFileWithLongCode(codeMegabytes); });

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
    if (!sizes.empty()) Scroll(sizes.back());
    return 0;
}
