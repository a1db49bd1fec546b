// How long the program takes to have the table complete once the module's
// dump end has left the simulator, and how many of 192 records it lost, per
// offered line rate and pacing of the module's answers (0 = the whole dump
// back to back, no quiet anywhere).
//   bench_dump [rounds]      (QT_QPA_PLATFORM=offscreen is set if unset)

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "ProgramRig.h"

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

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VELMORA_BINARY_DIR")) qputenv("VELMORA_BINARY_DIR", VELMORA_BINARY_DIR);
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 1;

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

    std::printf("full dump of 192 codes (1-12 bytes each) from velmora-sim over a pseudo-terminal,\n"
                "bytes paced at the line rate; %d rounds each; median shown\n\n", rounds);
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
    sim.Stop();
    return 0;
}
