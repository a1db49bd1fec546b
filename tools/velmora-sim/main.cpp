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
        {QStringLiteral("baud"), QStringLiteral("The module's line rate at start (default: the rate its memory file keeps, else 9600)."), QStringLiteral("rate")},
        {QStringLiteral("hang-up-for"), QStringLiteral("How long the line stays down (default 1000)."), QStringLiteral("ms")},
        {QStringLiteral("no-wire-time"), QStringLiteral("On a pseudo-terminal, write bytes at once instead of at the line rate.")},
    });
    AddSimOptions(parser);
    parser.process(app);

    bool ok = true;
    SimOptions options;
    QString error;
    if (!ReadSimOptions(parser, &options, &error)) {
        err << "velmora-sim: " << error << " (see --help)\n";
        return 2;
    }
    int rate = IntOption(parser, QStringLiteral("baud"), 9600, &ok);
    const int hangUpFor = IntOption(parser, QStringLiteral("hang-up-for"), 1000, &ok);
    if (!ok || rate <= 0) {
        err << "velmora-sim: numbers must be whole and not negative, the rate at least 1 (see --help)\n";
        return 2;
    }

    ModuleMemory memory;
    const QString memoryFile = parser.value(QStringLiteral("memory"));
    if (!memoryFile.isEmpty() && !memory.Load(memoryFile, &error)) {
        err << "velmora-sim: " << error << '\n';
        return 1;
    }
    // The rate the module was last set to, unless told otherwise.
    if (!parser.isSet(QStringLiteral("baud")) && memory.rate > 0) rate = memory.rate;
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
