// velmora-cli against hostile inputs: CSVs of blank lines, of commas, of one
// huge code or title, an unclosed quote, a table file of the largest size the
// window takes, and the same under a memory limit. Each file is made in a
// temporary folder; each run is one process, measured on its own: wall time,
// peak resident memory, exit status and the first line it said.
//
//   bench_csv [MB]   (the size of the "large" cases; default 60)

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "config/ConfigTable.h"
#include "config/TableCsv.h"
#include "config/TableFile.h"

namespace {

struct Outcome {
    int status = -1;
    double ms = 0;
    double peakMb = 0;
    QByteArray said;
};

// Runs velmora-cli with `args`; standard output goes nowhere, standard error
// into `errFile`. `limitBytes` > 0 sets a limit on the address space.
Outcome RunCli(const QStringList& args, const QString& errFile, rlim_t limitBytes = 0)
{
    std::vector<QByteArray> owned{QByteArray(VELMORA_CLI)};
    for (const QString& a : args) owned.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : owned) argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray err = QFile::encodeName(errFile);

    std::fflush(stdout);  // or the child writes out what is still buffered
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (limitBytes > 0) {
            rlimit limit{limitBytes, limitBytes};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (!freopen("/dev/null", "w", stdout) || !freopen(err.constData(), "w", stderr)) _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Outcome o;
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return o;
    o.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    o.peakMb = usage.ru_maxrss / 1024.0;
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    QFile said(errFile);
    if (said.open(QIODevice::ReadOnly)) o.said = said.readLine().trimmed();
    return o;
}

bool WriteFile(const QString& path, const std::function<void(QFile&)>& fill)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    fill(f);
    return f.error() == QFile::NoError;
}

// `bytes` bytes of `unit` repeated, written a megabyte at a time.
void Repeat(QFile& f, const QByteArray& unit, qint64 bytes)
{
    const QByteArray block = unit.repeated(qMax<qsizetype>(1, (1 << 20) / unit.size()));
    for (qint64 left = bytes; left > 0; left -= block.size()) f.write(block.left(qMin<qint64>(left, block.size())));
}

// The rows from `first` to 96, without codes.
QByteArray RowsFrom(int first)
{
    QByteArray rows;
    for (int r = first; r <= 96; ++r) rows += QByteArray::number(r) + ",,,\n";
    return rows;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 large = (argc > 1 ? std::atoll(argv[1]) : 60) << 20;
    const qint64 cap = TableCsvLimits::LargestText - 4096;  // just under the CSV bound
    QTemporaryDir dir;
    auto path = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
    const QByteArray header = "row,title,on,off\n";

    struct Case {
        const char* name;
        const char* file;
        std::function<void(QFile&)> fill;
    };
    const std::vector<Case> cases = {
        {"blank lines, large", "blank.csv", [&](QFile& f) { Repeat(f, "\n", large); }},
        {"commas, large", "commas.csv", [&](QFile& f) { Repeat(f, ",", large); }},
        {"blank lines, under the bound", "blank-bound.csv", [&](QFile& f) { f.write(header); Repeat(f, "\r\n", cap); }},
        {"commas on one line, under the bound", "commas-bound.csv", [&](QFile& f) { f.write(header + "1"); Repeat(f, ",", cap); }},
        {"one code, under the bound, rows complete", "code-bound.csv",
         [&](QFile& f) { f.write(header + "1,,"); Repeat(f, "AB", cap - 2048); f.write(",\n" + RowsFrom(2)); }},
        {"one title, under the bound", "title-bound.csv", [&](QFile& f) { f.write(header + "1,"); Repeat(f, "x", cap); }},
        {"a quote never closed", "quote-bound.csv", [&](QFile& f) { f.write(header + "1,\""); Repeat(f, "a,\n", cap); }},
        {"192 codes of 40 KB, rows complete", "codes.csv", [&](QFile& f) {
             f.write(header);
             const QByteArray code = QByteArray("0A1B").repeated(10000);
             for (int r = 1; r <= 96; ++r) f.write(QByteArray::number(r) + ",," + code + ',' + code + '\n');
         }},
    };

    std::printf("%-42s %9s  %-8s %6s %9s %9s  %s\n", "input", "MB", "command", "exit", "ms", "peak MB", "first line said");
    for (const Case& c : cases) {
        if (!WriteFile(path(c.file), c.fill)) return 1;
        const double mb = QFile(path(c.file)).size() / 1048576.0;
        for (const char* command : {"import", "write"}) {
            const QStringList args = QLatin1String(command) == QLatin1String("import")
                ? QStringList{QStringLiteral("import"), path(c.file), QStringLiteral("-o"), path("out.dat")}
                : QStringList{QStringLiteral("write"), QStringLiteral("/dev/velmora-no-such-port"), path(c.file)};
            const Outcome o = RunCli(args, path("err.txt"));
            std::printf("%-42s %9.1f  %-8s %6d %9.0f %9.1f  %s\n", c.name, mb, command, o.status, o.ms, o.peakMb,
                        o.said.left(110).constData());
            std::fflush(stdout);
        }
        QFile::remove(path(c.file));
    }

    // A table file as large as the window takes (one huge code), read for a
    // write; then the same with too little memory to hold it.
    ConfigTable table;
    InitTable(table);
    QString code = QStringLiteral("AB ").repeated((TableFileFormat::LargestFileSize - (1 << 20)) / 3);
    code.chop(1);
    table.SetCellText(1, 1, code);
    code = QString();
    const QByteArray file = WriteTableFile(table.Content());
    table.SetCellText(1, 1, QString());
    if (!WriteFile(path("huge.dat"), [&](QFile& f) { f.write(file); })) return 1;
    for (rlim_t limit : {rlim_t(0), rlim_t(512) << 20}) {
        const Outcome o = RunCli({QStringLiteral("write"), QStringLiteral("/dev/velmora-no-such-port"), path("huge.dat")}, path("err.txt"), limit);
        const QString name = limit ? QStringLiteral("table file, 512 MB address space") : QStringLiteral("table file, no limit");
        std::printf("%-42s %9.1f  %-8s %6d %9.0f %9.1f  %s\n", qPrintable(name), file.size() / 1048576.0, "write", o.status, o.ms,
                    o.peakMb, o.said.left(110).constData());
    }
    return 0;
}
