// Three tables about reading a full module of 192 codes from velmora-sim:
//   pace:    how long the program takes to have the table complete once the
//            module's dump end has left the simulator, and how many records it
//            lost, per offered line rate and pacing of the module's answers
//            (0 = the whole dump back to back, no quiet anywhere);
//   manners: codes wrong after one read in the window and after a read by
//            velmora-cli, with the tool's exit status, for a module that pauses
//            inside its records or leaves line noise behind them;
//   cli:     how long a velmora-cli read takes, confirmed and of one dump (--once).
//   bench_dump [rounds] [pace|manners|cli]...   (all tables when none is named;
//                                                QT_QPA_PLATFORM=offscreen is set if unset)

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "ProgramRig.h"
#include "config/TableCsv.h"

namespace {

qint64 NowUs() { return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs() / 1000; }

struct Outcome {
    bool finished = false;
    double afterEndMs = 0;  // dump end sent by the simulator → table complete
    double wholeMs = 0;     // click → table complete
    int lost = 0;
};

Outcome OneDump(ProgramRig& rig, SimProcess& sim, const QString& link, const QString& memory, int rate, int pace)
{
    Outcome out;
    if (rig.program.state.portOpen) rig.Click(Control::Button_TogglePort);
    QStringList args{QStringLiteral("--link"), link, QStringLiteral("--memory"), memory, QStringLiteral("--baud"),
                     QString::number(rate), QStringLiteral("--pace"), QString::number(pace)};
    if (pace == 0) args << QStringLiteral("--back-to-back");
    if (!sim.Start(args)) return out;
    if (!rig.SelectPort(link) || !rig.SelectRate(Control::Combo_BaudRate, rate) || !rig.Click(Control::Button_TogglePort))
        return out;

    qint64 completeUs = 0;
    const auto connection = QObject::connect(rig.ProgressBar(), &QProgressBar::valueChanged, [&](int v) {
        if (v == 0 && completeUs == 0 && !rig.program.state.extracting) completeUs = NowUs();
    });
    rig.EmptyTable();
    const qint64 clickUs = NowUs();
    rig.Click(Control::Button_ReadModule);
    QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired() && (completeUs == 0 || sim.Count(QStringLiteral("sent dump-end")) == 0))
        QTest::qWait(5);
    QObject::disconnect(connection);
    if (completeUs == 0) return out;

    qint64 sentUs = 0;
    for (const QString& line : sim.lines)
        if (line.startsWith(QStringLiteral("sent dump-end t="))) sentUs = line.mid(16).toLongLong();
    out.finished = sentUs > 0;
    out.afterEndMs = (completeUs - sentUs) / 1000.0;
    out.wholeMs = (completeUs - clickUs) / 1000.0;
    out.lost = int(rig.Mismatches(AllCells()).size());
    return out;
}

void PrintLoad()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (f.open(QIODevice::ReadOnly)) std::printf("load average %s\n", f.readLine().trimmed().constData());
}

QStringList SimArgs(const QString& link, const QString& memory, int rate, const QStringList& manners)
{
    return QStringList{QStringLiteral("--link"), link, QStringLiteral("--memory"), memory, QStringLiteral("--baud"),
                       QString::number(rate)} + manners;
}

// Codes of a window read that are not their module's: wrong bytes, and missing.
struct Wrong {
    int bytes = 0;
    int missing = 0;
};

Wrong WindowRead(ProgramRig& rig, SimProcess& sim, const QString& link, const QStringList& args, int rate)
{
    Wrong out{-1, -1};
    if (rig.program.state.portOpen) rig.Click(Control::Button_TogglePort);
    if (!sim.Start(args) || !rig.SelectPort(link) || !rig.SelectRate(Control::Combo_BaudRate, rate)
        || !rig.Click(Control::Button_TogglePort))
        return out;
    rig.EmptyTable();
    rig.Click(Control::Button_ReadModule);
    // Over when the buttons are back: dump end, or the program gave up waiting.
    QDeadlineTimer deadline(300000);
    while (!deadline.hasExpired() && !rig.ModuleButtonsEnabled()) QTest::qWait(20);
    out = {};
    for (int row = 1; row <= 96; ++row)
        for (int column = 1; column <= 2; ++column) {
            const QString cell = rig.table.GetCellText(row, column);
            if (cell.isEmpty()) ++out.missing;
            else if (cell != CellTextFor(row, column)) ++out.bytes;
        }
    rig.Click(Control::Button_TogglePort);
    return out;
}

struct CliRun {
    int status = -1;
    double ms = 0;
    int wrong = -1;  // codes of the CSV it printed that are not the module's; -1: no CSV
};

CliRun CliRead(const QString& link, int rate, const QStringList& extra)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(qEnvironmentVariable("VELMORA_BINARY_DIR") + QStringLiteral("/velmora-cli"),
            QStringList{QStringLiteral("read"), link, QStringLiteral("--baud"), QString::number(rate), QStringLiteral("-q")} + extra);
    CliRun run;
    if (!p.waitForFinished(600000)) {
        p.kill();
        p.waitForFinished(5000);
        return run;
    }
    run.ms = double(clock.elapsed());
    run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    TableCodes codes;
    CsvProblem problem;
    const QByteArray csv = p.readAllStandardOutput();
    if (csv.isEmpty() || !ReadTableCsv(csv, codes, &problem)) return run;
    run.wrong = 0;
    for (int row = 1; row <= 96; ++row)
        for (int column = 1; column <= 2; ++column)
            if (codes.code[row][column] != CellTextFor(row, column).trimmed()) ++run.wrong;
    return run;
}

// Whether this velmora-cli knows a read of one dump.
bool CliHasOnce()
{
    QProcess p;
    p.start(qEnvironmentVariable("VELMORA_BINARY_DIR") + QStringLiteral("/velmora-cli"), {QStringLiteral("read"), QStringLiteral("--help")});
    p.waitForFinished(10000);
    return p.readAllStandardOutput().contains("--once");
}

QString Number(int n) { return n < 0 ? QStringLiteral("-") : QString::number(n); }

void MannersTable(ProgramRig& rig, SimProcess& sim, const QString& link, const QString& memory)
{
    struct Row {
        const char* name;
        QStringList manners;
    };
    const auto words = [](const char* text) { return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts); };
    const QList<Row> rows{
        {"plain", {}},
        {"pause 40 ms in marker", words("--pause-in marker --pause-for 40")},
        {"pause 40 ms in marker, every 3rd", words("--pause-in marker --pause-for 40 --every 3")},
        {"pause 40 ms before address", words("--pause-in address --pause-for 40")},
        {"pause 40 ms mid-address", words("--pause-in mid-address --pause-for 40")},
        {"pause 40 ms in code", words("--pause-in code --pause-for 40")},
        {"pause 40 ms in code, every 3rd", words("--pause-in code --pause-for 40 --every 3")},
        {"pause 3.5 s in marker, every 64th", words("--pause-in marker --pause-for 3500 --every 64")},
        {"noise 0 ms behind, every 5th", words("--noise-behind 0 --every 5")},
        {"noise 10 ms behind", words("--noise-behind 10")},
        {"noise 30 ms behind", words("--noise-behind 30")},
        {"noise 50 ms behind", words("--noise-behind 50")},
        {"same noise 40 ms behind", words("--noise-behind 40 --same-noise")},
    };
    const int rate = 115200;
    std::printf("\nmanners: 192 codes at %d baud, answers 30 ms apart; codes wrong (bytes/missing) after one read\n"
                "in the window; velmora-cli read: its exit status, codes wrong in what it printed, time\n\n", rate);
    PrintLoad();
    std::printf("%-36s  %14s  %8s  %9s  %9s\n", "module", "window wrong", "cli exit", "cli wrong", "cli time");
    for (const Row& row : rows) {
        const QStringList args = SimArgs(link, memory, rate, QStringList{QStringLiteral("--pace"), QStringLiteral("30")} + row.manners);
        const Wrong window = WindowRead(rig, sim, link, args, rate);
        CliRun cli;
        if (sim.Start(args)) cli = CliRead(link, rate, {});
        std::printf("%-36s  %8s/%-5s  %8s  %9s  %7.1f s\n", row.name, qPrintable(Number(window.bytes)),
                    qPrintable(Number(window.missing)), qPrintable(Number(cli.status)), qPrintable(Number(cli.wrong)), cli.ms / 1000);
        std::fflush(stdout);
    }
    PrintLoad();
}

void PaceTable(ProgramRig& rig, SimProcess& sim, const QString& link, const QString& memory, int rounds)
{
    std::printf("\npace: full dump of 192 codes (1-12 bytes each) from velmora-sim over a pseudo-terminal,\n"
                "bytes paced at the line rate; %d rounds each; median shown\n\n", rounds);
    PrintLoad();
    std::printf("%8s %6s  %22s  %14s  %12s\n", "baud", "pace", "dump end -> complete", "whole dump", "records lost");
    for (int pace : {0, 5, 12, 20, 30}) {
        for (int rate : {9600, 19200, 38400, 57600, 115200}) {
            QList<double> after, whole;
            int lostMax = 0, failed = 0;
            for (int r = 0; r < rounds; ++r) {
                const Outcome o = OneDump(rig, sim, link, memory, rate, pace);
                if (!o.finished) {
                    ++failed;
                    continue;
                }
                after << o.afterEndMs;
                whole << o.wholeMs;
                lostMax = qMax(lostMax, o.lost);
            }
            std::sort(after.begin(), after.end());
            std::sort(whole.begin(), whole.end());
            if (after.isEmpty()) {
                std::printf("%8d %4dms  %22s\n", rate, pace, "never finished");
                continue;
            }
            std::printf("%8d %4dms  %19.1f ms  %11.0f ms  %12d%s\n", rate, pace, after.at(after.size() / 2),
                        whole.at(whole.size() / 2), lostMax, failed ? "  (some rounds never finished)" : "");
            std::fflush(stdout);
        }
    }
    PrintLoad();
}

void CliTable(SimProcess& sim, const QString& link, const QString& memory, int rounds)
{
    const bool once = CliHasOnce();
    std::printf("\ncli: velmora-cli read of 192 codes, answers 30 ms apart; median of %d rounds\n\n", rounds);
    PrintLoad();
    std::printf("%8s  %-22s  %9s  %6s\n", "baud", "read", "time", "exit");
    for (int rate : {9600, 115200}) {
        QList<std::pair<QString, QStringList>> kinds{{once ? QStringLiteral("confirmed") : QStringLiteral("(one dump, before)"), {}}};
        if (once) kinds.append({QStringLiteral("one dump (--once)"), {QStringLiteral("--once")}});
        for (const auto& [kind, extra] : kinds) {
            QList<double> times;
            int status = -1;
            for (int r = 0; r < rounds; ++r) {
                if (!sim.Start(SimArgs(link, memory, rate, {QStringLiteral("--pace"), QStringLiteral("30")}))) continue;
                const CliRun run = CliRead(link, rate, extra);
                times << run.ms;
                status = qMax(status, run.status);
            }
            std::sort(times.begin(), times.end());
            std::printf("%8d  %-22s  %7.1f s  %6d\n", rate, qPrintable(kind), times.isEmpty() ? 0.0 : times.at(times.size() / 2) / 1000, status);
            std::fflush(stdout);
        }
    }
    PrintLoad();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VELMORA_BINARY_DIR")) qputenv("VELMORA_BINARY_DIR", VELMORA_BINARY_DIR);
    QApplication app(argc, argv);
    int rounds = 1;
    QStringList tables;
    for (const QString& arg : app.arguments().mid(1)) {
        if (arg.toInt() > 0) rounds = arg.toInt();
        else tables << arg;
    }
    if (tables.isEmpty()) tables = QStringList{QStringLiteral("pace"), QStringLiteral("manners"), QStringLiteral("cli")};

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("module.tty"));
    const QString memory = dir.filePath(QStringLiteral("module.mem"));
    qputenv("VELMORA_EXTRA_PORTS", link.toLocal8Bit());
    if (!WriteMemory(memory, AllCells())) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(memory));
        return 1;
    }
    ProgramRig rig;
    SimProcess sim;

    if (tables.contains(QStringLiteral("pace"))) PaceTable(rig, sim, link, memory, rounds);
    if (tables.contains(QStringLiteral("manners"))) MannersTable(rig, sim, link, memory);
    if (tables.contains(QStringLiteral("cli"))) CliTable(sim, link, memory, rounds);
    sim.Stop();
    return 0;
}
