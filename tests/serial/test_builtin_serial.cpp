// The built-in providers against real pseudo-terminals: the test holds the
// master side and plays the module; the program opens the slave through the
// port list (VELMORA_EXTRA_PORTS) and the port button.

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "app/PortHandlers.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "app/Program.h"
#include "serial/BuiltinProviders.h"
#include "serial/BuiltinRegistryProvider.h"
#include "serial/BuiltinSerialProvider.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeUiServices.h"

namespace {

struct Pty {
    int master = -1;
    QString slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { HangUp(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    void HangUp()
    {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void Send(const QByteArray& bytes) const { QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), bytes.size()); }
    // What the program wrote, waiting up to ten seconds for `count` bytes
    // without letting the program's event loop run.
    QByteArray Receive(int count) const
    {
        QByteArray got;
        QDeadlineTimer deadline(10000);
        while (got.size() < count && !deadline.hasExpired()) {
            pollfd pfd{master, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) continue;
            char buf[256];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) got.append(buf, int(n));
        }
        return got;
    }
};

// Calls `probe` until it returns `want` or ten seconds pass, sleeping instead
// of delivering events: the provider must see the bytes on its own.
template <typename F>
int PollUntil(F probe, int want)
{
    int last = probe();
    for (QDeadlineTimer deadline(10000); last != want && !deadline.hasExpired(); last = probe()) QThread::msleep(5);
    return last;
}

struct Rig {
    FakeUiServices ui;
    std::vector<std::unique_ptr<LibraryProvider>> owned = MakeBuiltinProviders();
    SerialLibrary serial{FatalReportTo(ui), [this] {
                             QVector<LibraryProvider*> v;
                             for (auto& provider : owned) v << provider.get();
                             return v;
                         }()};
    ConfigTable table;
    WindowProgram window{ui, serial, table};
    Program& p = window.program;

    Rig()
    {
        RefreshPortList(p.ui, p.serial);
        FillBaudLists(p.ui);
    }
    // Index in the port box of the item whose tool tip names `device`.
    int ItemFor(const QString& device)
    {
        const QStringList& tips = ui.combos[Control::Combo_Port].toolTips;
        for (int i = 0; i < tips.size(); ++i)
            if (tips.at(i).startsWith(device + QLatin1Char(' ')) || tips.at(i) == device) return i;
        return -1;
    }
    // Opens `device` with the port button at the rate of baud-box item `rateIndex`.
    int Open(const QString& device, int rateIndex)
    {
        const int item = ItemFor(device);
        ui.SetSelection(Control::Combo_Port, item);
        ui.SetSelection(Control::Combo_BaudRate, rateIndex);
        TogglePort(p.Ports());
        return item;
    }
};

}  // namespace

class BuiltinSerialTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Pty> pa, pb;  // fresh for every test
private slots:
    void init()
    {
        pa = std::make_unique<Pty>();
        pb = std::make_unique<Pty>();
        Pty &a = *pa, &b = *pb;
        QVERIFY(!a.slave.isEmpty() && !b.slave.isEmpty());
        qputenv("VELMORA_EXTRA_PORTS", (a.slave + QLatin1Char(':') + b.slave).toLocal8Bit());
    }

    void extraPortsAreListedAsComItems()
    {
        Pty &a = *pa, &b = *pb;
        Rig r;
        const auto& box = r.ui.combos[Control::Combo_Port];
        const int ia = r.ItemFor(a.slave), ib = r.ItemFor(b.slave);
        QVERIFY2(ia >= 0 && ib == ia + 1, qPrintable(box.toolTips.join(", ")));
        QCOMPARE(ib, box.texts.size() - 1);  // after the machine's own ports
        for (int i = 0; i < box.texts.size(); ++i) QCOMPARE(box.texts.at(i), QStringLiteral("COM%1").arg(i + 1));
        QCOMPARE(box.selection, -1);
    }

    void openingSetsRateAnd8N1OnTheLine()
    {
        Pty& a = *pa;
        Rig r;
        const int item = r.Open(a.slave, 4);
        QCOMPARE(r.ui.BoxTexts(), QStringList{});
        QCOMPARE(r.ui.Log(), QStringLiteral("打开端口: COM%1 115200\r\n").arg(item + 1));
        termios t{};
        QCOMPARE(tcgetattr(a.master, &t), 0);  // a pty master reports its slave's settings
        QCOMPARE(cfgetospeed(&t), speed_t(B115200));
        QCOMPARE(cfgetispeed(&t), speed_t(B115200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB), tcflag_t(0));

        TogglePort(r.p.Ports());
        QVERIFY(r.ui.Log().endsWith(QStringLiteral("端口已关闭\r\n")));
        QCOMPARE(r.serial.sio_iqueue(item + 1), SioResult::NoSuchPort);
    }

    void bytesTravelBothWaysWithoutTheEventLoop()
    {
        Pty& a = *pa;
        Rig r;
        const int port = r.Open(a.slave, 0) + 1;
        const QByteArray frame = QByteArray::fromHex("FD6666666666AAAABF");

        QCOMPARE(r.serial.sio_write(port, frame.constData(), int(frame.size())), 9);
        QCOMPARE(a.Receive(9), frame);

        char buf[16] = {};
        QCOMPARE(r.serial.sio_iqueue(port), 0);
        QCOMPARE(r.serial.sio_read(port, buf, 16), 0);  // nothing waiting: returns at once
        a.Send(frame);
        QCOMPARE(PollUntil([&] { return r.serial.sio_iqueue(port); }, 9), 9);
        QCOMPARE(r.serial.sio_read(port, buf, 4), 4);
        QCOMPARE(r.serial.sio_iqueue(port), 5);
        QCOMPARE(r.serial.sio_read(port, buf + 4, 16), 5);
        QCOMPARE(QByteArray(buf, 9), frame);
        QCOMPARE(r.serial.sio_iqueue(port), 0);

        // More than one chunk of the system's buffer still arrives complete.
        QByteArray big(3000, '\0');
        for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7);
        QCOMPARE(r.serial.sio_write(port, big.constData(), int(big.size())), 3000);
        QCOMPARE(a.Receive(3000), big);
    }

    void twoPortsOpenAtOnce()
    {
        Pty &a = *pa, &b = *pb;
        Rig r;
        const int portA = r.Open(a.slave, 0) + 1;
        const int portB = r.ItemFor(b.slave) + 1;
        QCOMPARE(r.serial.sio_open(portB), SioResult::Ok);
        QCOMPARE(r.serial.sio_open(portA), SioResult::AlreadyOpen);
        QCOMPARE(r.serial.sio_open(portB + 1), SioResult::NoSuchPort);  // past the last enumeration

        QCOMPARE(r.serial.sio_write(portA, "A", 1), 1);
        QCOMPARE(r.serial.sio_write(portB, "B", 1), 1);
        QCOMPARE(a.Receive(1), QByteArray("A"));
        QCOMPARE(b.Receive(1), QByteArray("B"));
        b.Send("xy");
        QCOMPARE(PollUntil([&] { return r.serial.sio_iqueue(portB); }, 2), 2);
        QCOMPARE(r.serial.sio_iqueue(portA), 0);
        QCOMPARE(r.serial.sio_close(portB), 0);
        QCOMPARE(r.serial.sio_close(portB), SioResult::NoSuchPort);
        QCOMPARE(r.serial.sio_write(portA, "C", 1), 1);
    }

    void farEndHangingUpGivesErrorsNotACrash()
    {
        Pty& a = *pa;
        Rig r;
        const int port = r.Open(a.slave, 0) + 1;
        QVERIFY(r.p.link.IsOpen());
        int wakes = 0;
        r.serial.SetActivityHandler([&] { ++wakes; });
        a.HangUp();
        QTRY_VERIFY(wakes > 0);  // the event loop met the hang-up too
        QVERIFY(PollUntil([&] { return r.serial.sio_iqueue(port) < 0 ? 1 : 0; }, 1) == 1);
        char buf[4];
        QVERIFY(r.serial.sio_read(port, buf, 4) < 0);
        QVERIFY(r.serial.sio_write(port, "A", 1) < 0);
        QVERIFY(r.serial.sio_ioctl(port, 12, 3) < 0);
        QCoreApplication::processEvents();  // whatever those failures queued

        // The port button still closes it.
        TogglePort(r.p.Ports());
        QVERIFY(!r.p.link.IsOpen());
        QVERIFY(r.ui.Log().endsWith(QStringLiteral("端口已关闭\r\n")));
    }

    // The provider takes bytes as the event loop sees them come, so a late
    // reader still learns where the line went quiet; what the device sent
    // before it went away is handed over before the loss is reported.
    void arrivalsComeInRunsAndOutliveTheDevice()
    {
        Pty& a = *pa;
        Rig r;
        const int port = r.Open(a.slave, 0) + 1;
        int wakes = 0;
        r.serial.SetActivityHandler([&] { ++wakes; });

        a.Send("AB");
        QTRY_VERIFY(wakes > 0);
        // The event loop finds the line quiet for longer than bytes of one
        // run are apart (any longer is as good) before the next bytes come.
        QEventLoop quiet;
        QTimer::singleShot(5 * BuiltinSerialProvider::kJoinMs, &quiet, &QEventLoop::quit);
        quiet.exec();
        const int tookFirst = wakes;
        a.Send("CDEF");
        QTRY_VERIFY(wakes > tookFirst);
        QVector<ArrivedBytes> runs;
        QCOMPARE(r.serial.ReadArrivals(port, [&] { return r.ui.clock; }, runs), 6);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs.at(0).bytes, QByteArray("AB"));
        QCOMPARE(runs.at(1).bytes, QByteArray("CDEF"));
        QVERIFY(qint32(runs.at(1).firstAt - runs.at(0).lastAt) >= BuiltinSerialProvider::kJoinMs);
        QVERIFY(qint32(r.ui.clock - runs.at(1).lastAt) >= 0);
        QCOMPARE(r.serial.sio_iqueue(port), 0);

        a.Send("XY");
        QTRY_COMPARE(r.serial.sio_iqueue(port), 2);
        const int before = wakes;
        a.HangUp();
        QTRY_VERIFY(wakes > before);  // the loss wakes the reader too
        runs.clear();
        QCOMPARE(r.serial.ReadArrivals(port, [&] { return r.ui.clock; }, runs), 2);
        QCOMPARE(runs.at(0).bytes, QByteArray("XY"));
        QCOMPARE(r.serial.ReadArrivals(port, [&] { return r.ui.clock; }, runs), SioResult::DeviceGone);
        QCOMPARE(r.serial.sio_close(port), SioResult::Ok);
    }

    void portListKeyAndBufferLimits()
    {
        auto directory = std::make_shared<PortDirectory>();
        BuiltinRegistryProvider reg(directory, [] {
            return QVector<PortEntry>{{"/dev/ttyA", ""}, {"/dev/" + QString(600, 'x'), ""}, {"/dev/ttyC", ""}};
        });
        quint32 key = 0;
        QCOMPARE(reg.RegOpenKeyA(kHkeyLocalMachine, "HARDWARE\\DEVICEMAP\\OTHER", &key), RegResult::FileNotFound);
        QCOMPARE(reg.RegOpenKeyA(0x80000001u, "HARDWARE\\DEVICEMAP\\SERIALCOMM", &key), RegResult::FileNotFound);
        QCOMPARE(reg.RegOpenKeyA(kHkeyLocalMachine, "hardware\\devicemap\\serialcomm", &key), RegResult::Success);

        char name[512];
        unsigned char data[512];
        quint32 nameLen = 512, dataLen = 512, type = 0;
        QCOMPARE(reg.RegEnumValueA(key, 0, name, &nameLen, 0, &type, data, &dataLen), RegResult::Success);
        QCOMPARE(QByteArray(name), QByteArray("/dev/ttyA"));
        QCOMPARE(nameLen, 9u);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(data)), QByteArray("COM1"));
        QCOMPARE(dataLen, 5u);
        QCOMPARE(type, kRegSz);
        nameLen = dataLen = 512;
        QCOMPARE(reg.RegEnumValueA(key, 1, name, &nameLen, 0, &type, data, &dataLen), RegResult::MoreData);
        nameLen = 512, dataLen = 4;  // "COM3" needs five with its zero
        QCOMPARE(reg.RegEnumValueA(key, 2, name, &nameLen, 0, &type, data, &dataLen), RegResult::MoreData);
        nameLen = dataLen = 512;
        QCOMPARE(reg.RegEnumValueA(key, 3, name, &nameLen, 0, &type, data, &dataLen), RegResult::NoMoreItems);
        QCOMPARE(reg.RegCloseKey(key), RegResult::Success);
        QCOMPARE(reg.RegEnumValueA(key, 0, name, &nameLen, 0, &type, data, &dataLen), RegResult::InvalidHandle);
        QCOMPARE(directory->Find(3)->device, QStringLiteral("/dev/ttyC"));
    }

    void portNumbersFollowTheLastEnumeration()
    {
        Pty &a = *pa, &b = *pb;
        // The box listed a as COMk; then a new listing puts b in that place.
        Rig r;
        const int port = r.ItemFor(a.slave) + 1;
        qputenv("VELMORA_EXTRA_PORTS", b.slave.toLocal8Bit());
        RefreshPortList(r.p.ui, r.p.serial);
        QCOMPARE(r.ItemFor(b.slave) + 1, port);
        QCOMPARE(r.serial.sio_open(port), 0);
        QCOMPARE(r.serial.sio_write(port, "Q", 1), 1);
        QCOMPARE(b.Receive(1), QByteArray("Q"));
        QCOMPARE(r.serial.sio_close(port), 0);
    }
};

QTEST_GUILESS_MAIN(BuiltinSerialTest)
#include "test_builtin_serial.moc"
