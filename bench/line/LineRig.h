#pragma once
// The real program (offscreen main window, built-in serial provider) with its
// port open on a pseudo-terminal whose far end the benchmark holds, and the
// process figures the line benchmarks print.

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

#include "ProgramRig.h"
#include "tests/support/RawPty.h"

struct LineRig {
    QTemporaryDir dir;
    int master = -1;
    QString link;
    std::unique_ptr<ProgramRig> rig;

    LineRig()
    {
        QString device;
        master = OpenRawPty(device);
        if (master < 0) return;
        link = dir.filePath(QStringLiteral("line.tty"));
        QFile::link(device, link);
        qputenv("VELMORA_EXTRA_PORTS", link.toLocal8Bit());
        rig = std::make_unique<ProgramRig>();
    }
    ~LineRig()
    {
        rig.reset();
        if (master >= 0) ::close(master);
    }

    // Opens the program's port on the line at `rate` with the port button.
    bool Open(int rate)
    {
        return rig && rig->SelectPort(link) && rig->SelectRate(Control::Combo_BaudRate, rate)
            && rig->Click(Control::Button_TogglePort) && rig->program.link.IsOpen();
    }
};

// Context switches of every thread of this process so far: each is a wake-up
// (voluntary: the thread slept and was woken; involuntary: it was preempted).
inline qint64 ContextSwitches()
{
    qint64 total = 0;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!status.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return total;
}

// A line of /proc/self/status in kB ("VmRSS", "VmHWM").
inline qint64 StatusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Runs the event loop for `ms` without waking it in between.
inline void RunEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
