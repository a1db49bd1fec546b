// Prints what the port box's drop-down and the 10 ms receive tick cost in the
// serial room: the port-list refresh (run on every drop-down), sio_iqueue on an
// idle port (every tick), a frame's way in and out of a pseudo-terminal.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "app/PortHandlers.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "app/Program.h"
#include "serial/BuiltinProviders.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeUiServices.h"

namespace {

struct Figures {
    QVector<double> us;
    void Add(qint64 ns) { us << ns / 1000.0; }
    void Print(const char* what) const
    {
        QVector<double> s = us;
        std::sort(s.begin(), s.end());
        double sum = 0;
        for (double v : s) sum += v;
        std::printf("%-44s n=%-6d mean %9.1f us  median %9.1f us  max %9.1f us\n", what, int(s.size()),
                    sum / s.size(), s.at(s.size() / 2), s.last());
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    const QString slave = QString::fromLocal8Bit(ptsname(master));
    qputenv("VELMORA_EXTRA_PORTS", slave.toLocal8Bit());

    FakeUiServices ui;
    auto owned = MakeBuiltinProviders();
    QVector<LibraryProvider*> providers;
    for (auto& p : owned) providers << p.get();
    SerialLibrary serial(FatalReportTo(ui), providers);
    ConfigTable table;
    WindowProgram windowProgram(ui, serial, table);
    Program& p = windowProgram.program;

    Figures refresh;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        RefreshPortList(p.ui, p.serial);
        refresh.Add(t.nsecsElapsed());
    }
    std::printf("ports listed: %d (the last is %s)\n", ui.ComboCount(Control::Combo_Port), qPrintable(slave));
    refresh.Print("RefreshPortList");

    const int port = ui.ComboCount(Control::Combo_Port);
    if (serial.sio_open(port) != 0) return 2;
    serial.sio_ioctl(port, BaudCode(115200), 3);

    Figures idle;
    for (int i = 0; i < 10000; ++i) {
        QElapsedTimer t;
        t.start();
        serial.sio_iqueue(port);
        idle.Add(t.nsecsElapsed());
    }
    idle.Print("sio_iqueue, nothing waiting");

    const QByteArray frame = QByteArray::fromHex("FD6666666666AAAABF");
    Figures inbound, outbound;
    char buf[64];
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer t;
        t.start();
        if (::write(master, frame.constData(), size_t(frame.size())) != frame.size()) return 3;
        while (serial.sio_iqueue(port) < 9) {}
        inbound.Add(t.nsecsElapsed());
        serial.sio_read(port, buf, 9);

        t.restart();
        serial.sio_write(port, frame.constData(), int(frame.size()));
        outbound.Add(t.nsecsElapsed());
        for (int got = 0; got < 9;) {
            pollfd pfd{master, POLLIN, 0};
            ::poll(&pfd, 1, 100);
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) got += int(n);
        }
    }
    inbound.Print("9 bytes from far end until sio_iqueue sees 9");
    outbound.Print("sio_write of 9 bytes (flushed)");
    serial.sio_close(port);
    ::close(master);
    return 0;
}
