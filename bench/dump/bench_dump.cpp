// Three tables about reading a full module of 192 codes from velmora-sim:
//   pace:    how long the program takes to have the table complete once the
//            module's dump end has left the simulator, and how many records it
//            lost, per offered line rate and pacing of the module's answers
//            (0 = the whole dump back to back, no quiet anywhere);
//   manners: for a module that pauses inside its records or leaves line noise
//            behind them: codes wrong after one read in the window and those
//            of them it did not call doubtful; velmora-cli read's exit status
//            and the codes wrong in what it printed;
//   cli:     how long a velmora-cli read takes, confirmed and of one dump (--once);
//   compare: how long the window's F7 takes against one 读取模块.
//   bench_dump [rounds] [pace|manners|cli|compare]... ["manners row name"]...
//   (all tables when none is named, all their rows when none is; QT_QPA_PLATFORM=offscreen is set if unset)

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "ProgramRig.h"
#include "ui/MainWindow.h"
#include "config/TableCsv.h"
#include "core/ModuleEvents.h"

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
    if (rig.program.link.IsOpen()) rig.Click(Control::Button_TogglePort);
    QStringList args{QStringLiteral("--link"), link, QStringLiteral("--memory"), memory, QStringLiteral("--baud"),
                     QString::number(rate), QStringLiteral("--pace"), QString::number(pace)};
    if (pace == 0) args << QStringLiteral("--back-to-back");
    if (!sim.Start(args)) return out;
    if (!rig.SelectPort(link) || !rig.SelectRate(Control::Combo_BaudRate, rate) || !rig.Click(Control::Button_TogglePort))
        return out;

    qint64 completeUs = 0;
    const auto connection = QObject::connect(rig.ProgressBar(), &QProgressBar::valueChanged, [&](int v) {
        if (v == 0 && completeUs == 0 && !rig.program.link.Reading().Dumping()) completeUs = NowUs();
    });
    rig.EmptyTable();
    const qint64 clickUs = NowUs();
    rig.Click(Control::Button_ReadModule);
    RunUntil([&] { return completeUs != 0 && sim.Count(QStringLiteral("sent dump-end")) > 0; }, 120000);
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

// A window read of one dump: its codes that are not their module's (wrong
// bytes, missing), how it ended, and how many of those codes it did not tell
// as doubtful. A completed read may hold wrong codes only where its dump end
// said so; a read given back holds the table from before, which the bench
// empties, so it is wrong nowhere it did not say.
struct Wrong {
    int bytes = -1;
    int missing = -1;
    QString said;     // "done", "N doubtful", "given back", "no end"
    int untold = -1;  // wrong or missing codes of a completed read that no doubt covers
};

// Keeps the cells the dump end marked doubtful.
struct DumpWatch : ModuleObserver {
    QVector<CellPosition> doubtful;
    void OnModuleEvent(const ModuleEvent& e) override
    {
        if (e.kind != ModuleEvent::Kind::DumpEnded) return;
        doubtful = e.doubtful;
        whole = e.whole;
    }
    bool whole = true;
};

Wrong WindowRead(ProgramRig& rig, SimProcess& sim, const QString& link, const QStringList& args, int rate)
{
    Wrong out;
    if (rig.program.link.IsOpen()) rig.Click(Control::Button_TogglePort);
    if (!sim.Start(args) || !rig.SelectPort(link) || !rig.SelectRate(Control::Combo_BaudRate, rate)
        || !rig.Click(Control::Button_TogglePort))
        return out;
    DumpWatch watch;
    rig.program.link.Listen(&watch);
    rig.EmptyTable();
    rig.Click(Control::Button_ReadModule);
    // Over when the read is: dump end, or given back with the buttons once
    // no answer came (a given-back read may still resume, so wait for the end).
    const auto over = [&] {
        const ReadEnd end = rig.program.link.Reading().End();
        // A module that sends no dump at all (a loopback, one that only echoes) has nothing more to say.
        const bool sentAll = sim.Count(QStringLiteral("sent dump-")) > 0 || sim.Count(QStringLiteral("dump ")) == 0;
        return end == ReadEnd::Complete || end == ReadEnd::NoDump || end == ReadEnd::PortLost || (end == ReadEnd::NoAnswer && sentAll);
    };
    RunUntil(over, 300000);
    RunUntil([] { return false; }, 200);  // a dump end just sent is judged on the next ticks
    rig.program.link.StopListening(&watch);
    out = {0, 0, QString(), 0};
    const bool complete = rig.program.link.Reading().End() == ReadEnd::Complete;
    for (int row = 1; row <= 96; ++row)
        for (int column = 1; column <= 2; ++column) {
            const QString cell = rig.table.GetCellText(row, column);
            const bool wrong = cell != CellTextFor(row, column);
            if (cell.isEmpty()) ++out.missing;
            else if (wrong) ++out.bytes;
            // An empty cell is told when the dump end said empty cells may have missed their codes.
            const bool told = watch.doubtful.contains(CellPosition{row, column}) || (cell.isEmpty() && !watch.whole);
            if (wrong && complete && !told) ++out.untold;
        }
    out.said = !complete ? (rig.program.link.Reading().End() == ReadEnd::PortLost ? QStringLiteral("port lost") : QStringLiteral("given back"))
        : watch.doubtful.isEmpty() && watch.whole ? QStringLiteral("done")
                                                  : QStringLiteral("%1 doubtful%2").arg(watch.doubtful.size()).arg(watch.whole ? "" : ", gaps");
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

void MannersTable(ProgramRig& rig, SimProcess& sim, const QString& link, const QString& memory, const QStringList& only)
{
    struct Row {
        const char* name;
        QStringList manners;
        // Noise that comes within the quiet time after a code is, in one
        // dump, more of the code: only a second dump can tell.
        bool oneDumpCanTell = true;
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
        {"noise 0 ms behind, every 5th", words("--noise-behind 0 --every 5"), false},
        {"noise 10 ms behind", words("--noise-behind 10"), false},
        {"noise 10 ms behind, every 3rd", words("--noise-behind 10 --every 3"), false},
        {"noise 30 ms behind", words("--noise-behind 30"), false},
        {"noise 30 ms behind, every 3rd", words("--noise-behind 30 --every 3"), false},
        {"noise 50 ms behind", words("--noise-behind 50")},
        {"noise 50 ms behind, every 3rd", words("--noise-behind 50 --every 3")},
        {"same noise 40 ms behind", words("--noise-behind 40 --same-noise")},
        // A record whose marker went wrong is bytes that are no record: 30 ms
        // behind the code before it, it may be taken as more of that code, as noise may.
        {"corrupted marker, every 5th", words("--corrupt-marker --every 5"), false},
        {"corrupted marker, same records", words("--corrupt-marker --every 5 --same-noise"), false},
        {"the same, answers 50 ms apart", words("--corrupt-marker --every 5 --same-noise --pace 50")},
        // The window's one dump has ended when the record comes: it shows it, but cannot call the dump doubtful.
        {"late record 20 ms after the end", words("--late-record 20"), false},
        {"record of no cell behind every 4th", words("--foreign-record --every 4")},
        {"enter echo again every 2 s", words("--repeat-echo 2000")},
        {"records again and again", words("--repeat-records")},
        // A noisy line: a few bytes 0-50 ms behind two records of each dump, other records each time.
        {"noise 3 bytes 5 ms behind 2", words("--noise-behind 5 --noise-bytes 3 --every 96"), false},
        {"noise 5 bytes 25 ms behind 2", words("--noise-behind 25 --noise-bytes 5 --every 96"), false},
        {"noise 6 bytes 45 ms behind 2", words("--noise-behind 45 --noise-bytes 6 --every 96")},
        // The module at another rate than the line: its answers are garbage there.
        {"module at 19200, line at 115200", words("--baud 19200")},
        {"loopback, no module", words("--loopback")},
        {"adapter hearing its own sending", words("--hear-own")},
    };
    const int rate = 115200;
    std::printf("\nmanners: 192 codes at %d baud, answers 30 ms apart. window: one read, codes wrong\n"
                "(bytes/missing), what it said, and wrong codes of a completed read it did not call doubtful\n"
                "(untold: must be 0, but where noise comes within the 30 ms quiet, marked *, which one dump\n"
                "cannot tell from code); velmora-cli read: exit status, codes wrong in what it printed (must\n"
                "be 0; - when it printed nothing), time\n\n", rate);
    PrintLoad();
    std::printf("%-34s  %12s  %-18s  %6s  %4s  %5s  %8s\n", "module", "window wrong", "window said", "untold", "exit", "wrong", "cli time");
    int untold = 0, cliWrong = 0;
    for (const Row& row : rows) {
        if (!only.isEmpty() && !only.contains(QString::fromLatin1(row.name))) continue;
        const QStringList args = SimArgs(link, memory, rate, QStringList{QStringLiteral("--pace"), QStringLiteral("30")} + row.manners);
        const Wrong window = WindowRead(rig, sim, link, args, rate);
        CliRun cli;
        if (sim.Start(args)) cli = CliRead(link, rate, {});
        if (row.oneDumpCanTell) untold += qMax(0, window.untold);
        cliWrong += qMax(0, cli.wrong);
        std::printf("%-34s  %6s/%-5s  %-18s  %5s%s  %4s  %5s  %6.1f s\n", row.name, qPrintable(Number(window.bytes)),
                    qPrintable(Number(window.missing)), qPrintable(window.said), qPrintable(Number(window.untold)),
                    row.oneDumpCanTell ? " " : "*",
                    qPrintable(Number(cli.status)), qPrintable(Number(cli.wrong)), cli.ms / 1000);
        std::fflush(stdout);
    }
    std::printf("\nuntold wrong codes in the window (rows without *): %d; wrong codes the tool printed: %d%s\n", untold, cliWrong,
                untold + cliWrong ? "  <-- A READ THAT LOOKS GOOD AND IS NOT" : "");
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
        QList<double> medians;
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
            medians << (times.isEmpty() ? 0.0 : times.at(times.size() / 2) / 1000);
            std::printf("%8d  %-22s  %7.2f s  %6d\n", rate, qPrintable(kind), medians.last(), status);
            std::fflush(stdout);
        }
        if (medians.size() == 2 && medians.last() > 0)
            std::printf("%8d  confirmed / one dump: %.2fx\n", rate, medians.first() / medians.last());
    }
    PrintLoad();
}

// The window's comparison (F7: confirmed dumps, as velmora-cli verify reads)
// against one read of 读取模块, on the table that read brought.
void CompareTable(ProgramRig& rig, SimProcess& sim, const QString& link, const QString& memory, int rounds)
{
    std::printf("\ncompare: F7 against one 读取模块 of 192 codes, answers 30 ms apart; median of %d rounds\n\n", rounds);
    PrintLoad();
    std::printf("%8s  %9s  %9s  %6s  %s\n", "baud", "read", "compare", "ratio", "the log's last line");
    for (int rate : {9600, 115200}) {
        QList<double> reads, compares;
        QString said;
        for (int r = 0; r < rounds; ++r) {
            if (rig.program.link.IsOpen()) rig.Click(Control::Button_TogglePort);
            if (!sim.Start(SimArgs(link, memory, rate, {QStringLiteral("--pace"), QStringLiteral("30")})) || !rig.SelectPort(link)
                || !rig.SelectRate(Control::Combo_BaudRate, rate) || !rig.Click(Control::Button_TogglePort))
                continue;
            rig.EmptyTable();
            QElapsedTimer clock;
            clock.start();
            rig.Click(Control::Button_ReadModule);
            RunUntil([&] { return !rig.program.link.Reading().Running(); }, 120000);
            reads << double(clock.elapsed());
            RunUntil([] { return false; }, 300);
            clock.restart();
            rig.window->CompareAction()->trigger();
            compares << double(clock.elapsed());
            said = rig.Log().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).constLast();
        }
        std::sort(reads.begin(), reads.end());
        std::sort(compares.begin(), compares.end());
        const double read = reads.isEmpty() ? 0 : reads.at(reads.size() / 2) / 1000;
        const double compare = compares.isEmpty() ? 0 : compares.at(compares.size() / 2) / 1000;
        std::printf("%8d  %7.2f s  %7.2f s  %5.2fx  %s\n", rate, read, compare, read > 0 ? compare / read : 0, qPrintable(said));
        std::fflush(stdout);
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
    QStringList tables, only;
    const QStringList names{QStringLiteral("pace"), QStringLiteral("manners"), QStringLiteral("cli"), QStringLiteral("compare")};
    for (const QString& arg : app.arguments().mid(1)) {
        if (arg.toInt() > 0) rounds = arg.toInt();
        else if (names.contains(arg)) tables << arg;
        else only << arg;  // a row of the manners table by its name
    }
    if (tables.isEmpty()) tables = names;

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
    if (tables.contains(QStringLiteral("manners"))) MannersTable(rig, sim, link, memory, only);
    if (tables.contains(QStringLiteral("cli"))) CliTable(sim, link, memory, rounds);
    if (tables.contains(QStringLiteral("compare"))) CompareTable(rig, sim, link, memory, rounds);
    sim.Stop();
    return 0;
}
