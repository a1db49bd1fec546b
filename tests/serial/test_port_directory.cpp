// The machine's port list read straight from the device tree: against the
// list Qt's own enumeration gives on this machine, and against a fake tree
// holding every kind of terminal device the reading must tell apart.

#include <QtTest>

#include <QSerialPortInfo>
#include <algorithm>

#include "serial/PortDirectory.h"

namespace {

QStringList Described(QVector<PortEntry> ports)
{
    QStringList out;
    for (const PortEntry& p : ports) out << p.device + QLatin1Char('|') + p.description;
    out.sort();
    return out;
}

// A directory tree laid out like /sys, /run/udev/data and /dev.
struct FakeTree {
    QTemporaryDir dir;
    DeviceTreeRoots roots;

    FakeTree()
    {
        roots.sys = dir.filePath(QStringLiteral("sys"));
        roots.udevData = dir.filePath(QStringLiteral("run/udev/data"));
        roots.dev = dir.filePath(QStringLiteral("dev"));
        QDir().mkpath(roots.sys + QStringLiteral("/class/tty"));
        QDir().mkpath(roots.udevData);
        QDir().mkpath(roots.dev);
    }

    static void Write(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    // A device directory under sys/devices, with an event file unless `uevent` is null.
    QString Device(const QString& path, const QByteArray& uevent = QByteArray(""), const QString& driver = QString())
    {
        const QString full = roots.sys + QStringLiteral("/devices/") + path;
        QDir().mkpath(full);
        if (!uevent.isNull()) Write(full + QStringLiteral("/uevent"), uevent);
        if (!driver.isEmpty()) {
            const QString drv = roots.sys + QStringLiteral("/bus/x/drivers/") + driver;
            QDir().mkpath(drv);
            QFile::link(QDir(full).relativeFilePath(drv), full + QStringLiteral("/driver"));
        }
        return full;
    }

    // A terminal device at `path` with the node `name`, listed in the tty class as the kernel does.
    void Terminal(const QString& path, const QString& name, int major, int minor, bool withEvent = true)
    {
        const QByteArray uevent = withEvent ? QStringLiteral("MAJOR=%1\nMINOR=%2\nDEVNAME=%3\n").arg(major).arg(minor).arg(name).toLatin1()
                                            : QByteArray();
        const QString full = Device(path, uevent);
        const QString classDir = roots.sys + QStringLiteral("/class/tty");
        QVERIFY(QFile::link(QDir(classDir).relativeFilePath(full), classDir + QLatin1Char('/') + name));
        Write(roots.dev + QLatin1Char('/') + name, QByteArray());
    }

    void Record(int major, int minor, const QByteArray& lines)
    {
        Write(roots.udevData + QStringLiteral("/c%1:%2").arg(major).arg(minor), lines);
    }

    QString Dev(const char* name) const { return roots.dev + QLatin1Char('/') + QLatin1String(name); }
};

}  // namespace

class PortDirectoryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void machinePortsAreTheOnesQtListsWithTheSameDescriptions()
    {
        const std::optional<QVector<PortEntry>> read = ReadSerialDevices();
        if (!read) QSKIP("this machine has no device tree to read");
        QVector<PortEntry> qt;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            qt.push_back({info.systemLocation(), info.description()});
        QCOMPARE(Described(*read), Described(qt));
    }

    void devicePortsAreListedAndConsolesAndAbsentUartsAreNot()
    {
        FakeTree t;
        // Virtual consoles hang off nothing and are no ports.
        t.Terminal(QStringLiteral("virtual/tty/tty0"), QStringLiteral("tty0"), 4, 0);
        t.Terminal(QStringLiteral("virtual/tty/console"), QStringLiteral("console"), 5, 1);
        // A USB adapter: the device manager's model name, underscores as blanks.
        t.Device(QStringLiteral("pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0"), "DEVTYPE=port\n", QStringLiteral("ftdi_sio"));
        t.Terminal(QStringLiteral("pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0"), QStringLiteral("ttyUSB0"), 188, 0);
        t.Record(188, 0, "S:serial/by-id/x\nE:ID_VENDOR=FTDI\nE:ID_VENDOR_ID=0403\nE:ID_MODEL=FT232R_USB_UART\n"
                         "E:ID_MODEL_ID=6001\nE:ID_SERIAL_SHORT=A50285BI\n");
        // A modem without a record: listed; the USB device's own attributes name it.
        const QString modem = t.Device(QStringLiteral("pci0000:00/usb1/1-2"));
        for (const auto& [name, value] : {std::pair{"idVendor", "2341"}, {"idProduct", "0043"},
                                          {"manufacturer", "Arduino (www.arduino.cc)"}, {"serial", "7543530323"}})
            FakeTree::Write(modem + QLatin1Char('/') + QLatin1String(name), QByteArray(value) + '\n');
        t.Device(QStringLiteral("pci0000:00/usb1/1-2/1-2:1.0"), "", QStringLiteral("cdc_acm"));
        t.Terminal(QStringLiteral("pci0000:00/usb1/1-2/1-2:1.0/tty/ttyACM0"), QStringLiteral("ttyACM0"), 166, 0);
        // An on-board port behind a bus port device.
        t.Device(QStringLiteral("pnp0/00:00/00:00:0/00:00:0.0"), "DEVTYPE=port\n", QStringLiteral("port"));
        t.Terminal(QStringLiteral("pnp0/00:00/00:00:0/00:00:0.0/tty/ttyS0"), QStringLiteral("ttyS0"), 4, 64);
        // A UART the 8250 driver registered just in case: its node does not answer as a serial port.
        t.Device(QStringLiteral("platform/serial8250"), "", QStringLiteral("serial8250"));
        t.Terminal(QStringLiteral("platform/serial8250/tty/ttyS1"), QStringLiteral("ttyS1"), 4, 65);
        // Ports that live without a device: Bluetooth (0 to 255), null-modem pairs, USB gadget.
        t.Terminal(QStringLiteral("virtual/tty/rfcomm0"), QStringLiteral("rfcomm0"), 216, 0);
        t.Terminal(QStringLiteral("virtual/tty/rfcomm256"), QStringLiteral("rfcomm256"), 216, 256);
        t.Terminal(QStringLiteral("virtual/tty/tnt0"), QStringLiteral("tnt0"), 240, 0);
        t.Terminal(QStringLiteral("virtual/tty/ttyGS0"), QStringLiteral("ttyGS0"), 241, 0);
        // A class entry whose directory is no device (no event file) is skipped.
        t.Device(QStringLiteral("pci0000:00/0000:00:16.3"), "", QStringLiteral("serial"));
        t.Terminal(QStringLiteral("pci0000:00/0000:00:16.3/tty/ttyS4"), QStringLiteral("ttyS4"), 4, 68, false);

        const std::optional<QVector<PortEntry>> read = ReadSerialDevices(t.roots);
        QVERIFY(read);
        QCOMPARE(Described(*read), Described({{t.Dev("ttyUSB0"), QStringLiteral("FT232R USB UART")},
                                              {t.Dev("ttyACM0"), QString()},
                                              {t.Dev("ttyS0"), QString()},
                                              {t.Dev("rfcomm0"), QString()},
                                              {t.Dev("tnt0"), QString()},
                                              {t.Dev("ttyGS0"), QString()}}));
        auto tipOf = [&](const char* name) {
            return PortToolTip(*std::find_if(read->begin(), read->end(), [&](const PortEntry& p) { return p.device == t.Dev(name); }));
        };
        QCOMPARE(tipOf("ttyUSB0"),
                 t.Dev("ttyUSB0") + QStringLiteral("\n厂商: FTDI (0403)\n产品: FT232R USB UART (6001)\n序列号: A50285BI"));
        QCOMPARE(tipOf("ttyACM0"),
                 t.Dev("ttyACM0") + QStringLiteral("\n厂商: Arduino (www.arduino.cc) (2341)\n产品: 0043\n序列号: 7543530323"));
        QCOMPARE(tipOf("ttyS0"), t.Dev("ttyS0"));
        PortEntry extra{QStringLiteral("/tmp/module"), QStringLiteral("VELMORA_EXTRA_PORTS")};
        QCOMPARE(PortToolTip(extra), QStringLiteral("/tmp/module (VELMORA_EXTRA_PORTS)"));
        // In the open list, one line: the device and its product.
        QCOMPARE(PortSummary(*std::find_if(read->begin(), read->end(), [&](const PortEntry& p) { return p.device == t.Dev("ttyUSB0"); })),
                 t.Dev("ttyUSB0") + QStringLiteral(" (FT232R USB UART)"));
        QCOMPARE(PortSummary(extra), QStringLiteral("/tmp/module (VELMORA_EXTRA_PORTS)"));
        QCOMPARE(PortSummary(PortEntry{QStringLiteral("/dev/ttyS0"), QString()}), QStringLiteral("/dev/ttyS0"));
    }

    void aTreeWithoutTerminalsGivesNoAnswer()
    {
        FakeTree t;
        QVERIFY(!ReadSerialDevices(t.roots));  // the class directory is empty
        t.roots.sys = t.dir.filePath(QStringLiteral("nowhere"));
        QVERIFY(!ReadSerialDevices(t.roots));
    }
};

QTEST_GUILESS_MAIN(PortDirectoryTest)
#include "test_port_directory.moc"
