// velmora-sim: plays the switch-controller module on the far end of a serial
// line, so the program can be tried and tested without hardware.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sched.h>

#include "ModuleMemory.h"
#include "ModuleSim.h"
#include "SimLine.h"
#include "core/TerminationSignals.h"

namespace {

int IntOption(const QCommandLineParser& parser, const QString& name, int fallback, bool* ok)
{
    if (!parser.isSet(name)) return fallback;
    bool good = false;
    const int value = parser.value(name).toInt(&good);
    if (!good || value < 0) *ok = false;
    return value;
}

// Real-time priority where the system allows it, so a busy machine does not
// stretch the module's timing (the writer thread asks for its own, higher one).
bool TryRealTime()
{
    sched_param param{};
    param.sched_priority = 5;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the switch-controller module on a pseudo-terminal (its path is the first line "
        "printed) or on a real serial port. Prints one line per frame it receives."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Use this real serial port instead of a pseudo-terminal."), QStringLiteral("device")},
        {QStringLiteral("link"), QStringLiteral("Name the pseudo-terminal by a symbolic link here (kept across hang-ups)."), QStringLiteral("path")},
        {QStringLiteral("memory"), QStringLiteral("The module's memory lives in this file (created when missing)."), QStringLiteral("file")},
        {QStringLiteral("demo"), QStringLiteral("Start with a few demo codes when the memory file does not exist yet.")},
        {QStringLiteral("baud"), QStringLiteral("The module's line rate at start (default 9600)."), QStringLiteral("rate")},
        {QStringLiteral("pace"), QStringLiteral("Quiet time before each answer of a dump (default 30)."), QStringLiteral("ms")},
        {QStringLiteral("pieces"), QStringLiteral("Write every answer in this many pieces (default 1)."), QStringLiteral("n")},
        {QStringLiteral("piece-gap"), QStringLiteral("Time between the pieces of an answer (default 3)."), QStringLiteral("ms")},
        {QStringLiteral("back-to-back"), QStringLiteral("Send a whole dump in one write, with no quiet between answers.")},
        {QStringLiteral("noise"), QStringLiteral("Send this many noise bytes ahead of every answer."), QStringLiteral("n")},
        {QStringLiteral("hang-up-after"), QStringLiteral("In the first dump, drop the line after this many records."), QStringLiteral("n")},
        {QStringLiteral("hang-up-at-frame"), QStringLiteral("Drop the line instead of acting on the n-th frame received (1 = the first)."), QStringLiteral("n")},
        {QStringLiteral("hang-up-for"), QStringLiteral("How long the line stays down (default 1000)."), QStringLiteral("ms")},
        {QStringLiteral("no-wire-time"), QStringLiteral("On a pseudo-terminal, write bytes at once instead of at the line rate.")},
    });
    parser.process(app);

    bool ok = true;
    SimOptions options;
    options.paceMs = IntOption(parser, QStringLiteral("pace"), options.paceMs, &ok);
    options.pieces = IntOption(parser, QStringLiteral("pieces"), options.pieces, &ok);
    options.pieceGapMs = IntOption(parser, QStringLiteral("piece-gap"), options.pieceGapMs, &ok);
    options.noise = IntOption(parser, QStringLiteral("noise"), options.noise, &ok);
    options.hangUpAfter = IntOption(parser, QStringLiteral("hang-up-after"), options.hangUpAfter, &ok);
    options.hangUpAtFrame = IntOption(parser, QStringLiteral("hang-up-at-frame"), options.hangUpAtFrame, &ok);
    options.backToBack = parser.isSet(QStringLiteral("back-to-back"));
    const int rate = IntOption(parser, QStringLiteral("baud"), 9600, &ok);
    const int hangUpFor = IntOption(parser, QStringLiteral("hang-up-for"), 1000, &ok);
    if (!ok || rate <= 0) {
        err << "velmora-sim: numbers must be whole and not negative (see --help)\n";
        return 2;
    }

    ModuleMemory memory;
    QString error;
    const QString memoryFile = parser.value(QStringLiteral("memory"));
    if (!memoryFile.isEmpty() && !memory.Load(memoryFile, &error)) {
        err << "velmora-sim: " << error << '\n';
        return 1;
    }
    if (parser.isSet(QStringLiteral("demo")) && memory.Count() == 0
        && (memoryFile.isEmpty() || !QFile::exists(memoryFile))) {
        memory.FillDemo();
        if (!memory.Save(&error)) err << "velmora-sim: " << error << '\n';
    }

    const bool realTime = TryRealTime();
    SimLine line;
    line.SetRate(rate);
    line.SetHangUpTime(hangUpFor);
    const bool opened = parser.isSet(QStringLiteral("port"))
        ? line.OpenPort(parser.value(QStringLiteral("port")), &error)
        : line.OpenPty(parser.value(QStringLiteral("link")), &error);
    if (!opened) {
        err << "velmora-sim: " << error << '\n';
        return 1;
    }
    if (parser.isSet(QStringLiteral("no-wire-time"))) line.SetWireTime(false);

    out << line.Path() << '\n';
    out << "module at " << rate << " baud, " << memory.Count() << " codes in memory";
    if (line.Path() != line.DevicePath()) out << ", device " << line.DevicePath();
    if (!realTime || !line.RealTime()) out << ", timing may stretch when the machine is busy";
    out << '\n';
    out.flush();

    ModuleSim sim(line, memory, options, out);
    // The event loop does the quitting, so the link to the pseudo-terminal is
    // removed on the way out.
    TerminationSignals quit({SIGTERM, SIGINT}, [](int) { QCoreApplication::quit(); });
    return app.exec();
}
