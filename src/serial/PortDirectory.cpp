#include "serial/PortDirectory.h"

#include <QByteArray>
#include <QHash>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/Texts.h"

namespace {

// "/dev/ttyS2" before "/dev/ttyS10": a plain string order would put ten first.
bool NaturalLess(const QString& a, const QString& b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            int ie = i, je = j;
            while (ie < a.size() && a.at(ie).isDigit()) ++ie;
            while (je < b.size() && b.at(je).isDigit()) ++je;
            // Compare digit runs by value without overflow: strip zeros, then length, then text.
            QStringView da = QStringView(a).mid(i, ie - i), db = QStringView(b).mid(j, je - j);
            while (da.size() > 1 && da.front() == u'0') da = da.mid(1);
            while (db.size() > 1 && db.front() == u'0') db = db.mid(1);
            if (da.size() != db.size()) return da.size() < db.size();
            if (const int c = da.compare(db); c != 0) return c < 0;
            i = ie;
            j = je;
            continue;
        }
        if (a.at(i) != b.at(j)) return a.at(i) < b.at(j);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

#ifdef Q_OS_LINUX

// The device tree is read with plain system calls: asking the device manager's
// library for the same list costs some milliseconds at every refresh, most of
// them spent on devices that are no serial port at all.

QByteArray ReadSmallFile(const QByteArray& path)
{
    QByteArray content;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return content;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 && content.size() < (1 << 20)) content.append(buffer, got);
    ::close(fd);
    return content;
}

// The value of "KEY=value" (or "prefixKEY=value") on a line of `text`.
QByteArray LineValue(const QByteArray& text, const QByteArray& prefix, const QByteArray& key)
{
    const QByteArray head = prefix + key + '=';
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(head)) return line.mid(head.size());
    return QByteArray();
}

QByteArray LinkTarget(const QByteArray& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n > 0 && size_t(n) < sizeof buffer ? QByteArray(buffer, n) : QByteArray();
}

// `target` read from a link inside `dir`, as a path without "." and "..".
QByteArray ResolveAgainst(const QByteArray& dir, const QByteArray& target)
{
    const QByteArray joined = target.startsWith('/') ? target : dir + '/' + target;
    QList<QByteArray> parts;
    for (const QByteArray& part : joined.split('/')) {
        if (part.isEmpty() || part == ".") continue;
        if (part == "..") {
            if (!parts.isEmpty()) parts.removeLast();
        } else {
            parts.push_back(part);
        }
    }
    return '/' + parts.join('/');
}

QByteArray LastComponent(const QByteArray& path) { return path.mid(path.lastIndexOf('/') + 1); }

class DeviceTree {
public:
    explicit DeviceTree(const DeviceTreeRoots& roots)
        : sys_(roots.sys.toLocal8Bit()), devices_(sys_ + "/devices"), udevData_(roots.udevData.toLocal8Bit()),
          dev_(roots.dev.toLocal8Bit())
    {
    }

    std::optional<QVector<PortEntry>> SerialPorts()
    {
        const QByteArray classDir = sys_ + "/class/tty";
        const QList<QByteArray> names = Entries(classDir);
        if (names.isEmpty()) return std::nullopt;
        // Most terminals are virtual consoles; a class entry of that name can
        // only lead to the virtual device, which spares following every link.
        const QByteArray virtualDir = devices_ + "/virtual/tty";
        const QList<QByteArray> virtualNames = Entries(virtualDir);

        QVector<PortEntry> ports;
        for (const QByteArray& name : names) {
            QByteArray device;
            if (virtualNames.contains(name)) {
                device = virtualDir + '/' + name;
            } else {
                const QByteArray link = classDir + '/' + name;
                const QByteArray target = LinkTarget(link);
                device = target.isEmpty() ? link : ResolveAgainst(classDir, target);
            }
            if (std::optional<PortEntry> port = Examine(device)) ports.push_back(*port);
        }
        return ports;
    }

private:
    // The names in `path` but "." and "..", in no particular order.
    static QList<QByteArray> Entries(const QByteArray& path)
    {
        QList<QByteArray> names;
        DIR* dir = ::opendir(path.constData());
        if (!dir) return names;
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(QByteArray(entry->d_name));
        ::closedir(dir);
        return names;
    }

    // What the device manager makes of the terminal device at `syspath`.
    std::optional<PortEntry> Examine(const QByteArray& syspath)
    {
        // Virtual consoles and the like hang off nothing; only these kinds of
        // port live without a device underneath.
        const std::optional<QByteArray> parent = Parent(syspath);
        if (!parent) {
            const QString sysName = QString::fromLocal8Bit(LastComponent(syspath)).replace(QLatin1Char('!'), QLatin1Char('/'));
            if (!IsPortWithoutDevice(sysName)) return std::nullopt;
        }
        if (!IsDevice(syspath)) return std::nullopt;

        const QByteArray uevent = ReadSmallFile(syspath + "/uevent");
        const QByteArray devName = LineValue(uevent, QByteArray(), "DEVNAME");
        // A terminal without a node cannot be opened; none exists in practice.
        if (devName.isEmpty()) return std::nullopt;
        PortEntry port;
        port.device = QString::fromLocal8Bit(dev_ + '/' + devName);
        if (!parent) return port;

        // The 8250 driver registers every UART it might drive; only those that
        // answer as present are ports.
        if (LastComponent(LinkTarget(*parent + "/driver")) == "serial8250" && !Is8250Present(port.device))
            return std::nullopt;

        const QByteArray record = ReadSmallFile(udevData_ + "/c" + LineValue(uevent, QByteArray(), "MAJOR") + ':'
                                                + LineValue(uevent, QByteArray(), "MINOR"));
        QByteArray model = LineValue(record, "E:", "ID_MODEL");
        if (model.isEmpty()) model = LineValue(uevent, QByteArray(), "ID_MODEL");
        port.description = Readable(model);
        DescribeAdapter(record, *parent, &port);
        return port;
    }

    // Underscores stand for blanks in the device manager's names.
    static QString Readable(const QByteArray& name) { return QString::fromUtf8(name).replace(QLatin1Char('_'), QLatin1Char(' ')); }

    // Vendor, product and serial number from the device manager's record; a
    // machine without one still has them in the USB device's attributes.
    void DescribeAdapter(const QByteArray& record, const QByteArray& parent, PortEntry* port)
    {
        // The database's name where the adapter gives only a number ("1a86").
        port->vendor = Readable(LineValue(record, "E:", "ID_VENDOR_FROM_DATABASE"));
        if (port->vendor.isEmpty()) port->vendor = Readable(LineValue(record, "E:", "ID_VENDOR"));
        port->vendorId = QString::fromLatin1(LineValue(record, "E:", "ID_VENDOR_ID"));
        port->product = Readable(LineValue(record, "E:", "ID_MODEL"));
        port->productId = QString::fromLatin1(LineValue(record, "E:", "ID_MODEL_ID"));
        port->serialNumber = Readable(LineValue(record, "E:", "ID_SERIAL_SHORT"));
        if (!port->vendorId.isEmpty()) return;
        // The USB device is the nearest directory above that names its vendor.
        for (QByteArray dir = parent; dir.size() > devices_.size(); dir.truncate(dir.lastIndexOf('/'))) {
            if (::access((dir + "/idVendor").constData(), F_OK) != 0) continue;
            auto attribute = [&dir](const char* name) { return QString::fromUtf8(ReadSmallFile(dir + '/' + name).trimmed()); };
            port->vendor = attribute("manufacturer");
            port->vendorId = attribute("idVendor");
            port->product = attribute("product");
            port->productId = attribute("idProduct");
            port->serialNumber = attribute("serial");
            return;
        }
    }

    // The device manager takes a directory of the device tree for a device
    // when it carries an event file; elsewhere any directory will do.
    bool IsDevice(const QByteArray& path)
    {
        const auto known = isDevice_.constFind(path);
        if (known != isDevice_.constEnd()) return *known;
        struct stat st {};
        const bool underDevices = path == devices_ || path.startsWith(devices_ + '/');
        const bool result = underDevices ? ::access((path + "/uevent").constData(), F_OK) == 0
                                         : ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
        isDevice_.insert(path, result);
        return result;
    }

    // The nearest directory above `syspath` that is a device; none at the top.
    std::optional<QByteArray> Parent(QByteArray path)
    {
        for (;;) {
            const qsizetype slash = path.lastIndexOf('/');
            if (slash <= 0) return std::nullopt;
            path.truncate(slash);
            if (path.size() <= sys_.size()) return std::nullopt;
            if (IsDevice(path)) return path;
        }
    }

    static bool IsPortWithoutDevice(const QString& name)
    {
        if (name.startsWith(QLatin1String("rfcomm"))) {  // Bluetooth, numbered 0 to 255
            bool ok = false;
            const int n = QStringView(name).mid(6).toInt(&ok);
            return ok && n >= 0 && n <= 255;
        }
        return name.startsWith(QLatin1String("tnt"))      // null-modem pairs
            || name.startsWith(QLatin1String("ttyGS"));  // USB gadget
    }

    static bool Is8250Present(const QString& node)
    {
        const int fd = ::open(node.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return false;
        serial_struct info {};
        const bool present = ::ioctl(fd, TIOCGSERIAL, &info) != -1 && info.type != PORT_UNKNOWN;
        ::close(fd);
        return present;
    }

    QByteArray sys_, devices_, udevData_, dev_;
    QHash<QByteArray, bool> isDevice_;
};

#endif  // Q_OS_LINUX

}  // namespace

std::optional<QVector<PortEntry>> ReadSerialDevices(const DeviceTreeRoots& roots)
{
#ifdef Q_OS_LINUX
    return DeviceTree(roots).SerialPorts();
#else
    Q_UNUSED(roots);
    return std::nullopt;
#endif
}

QVector<PortEntry> DiscoverSerialDevices()
{
    std::optional<QVector<PortEntry>> found = ReadSerialDevices();
    QVector<PortEntry> machine;
    if (found) {
        machine = std::move(*found);
    } else {
        // No device tree to read: Qt knows other ways, such as the names in /dev.
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            PortEntry port{info.systemLocation(), info.description()};
            port.vendor = info.manufacturer();
            if (info.hasVendorIdentifier()) port.vendorId = QStringLiteral("%1").arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'));
            port.product = info.description();
            if (info.hasProductIdentifier()) port.productId = QStringLiteral("%1").arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
            port.serialNumber = info.serialNumber();
            machine.push_back(port);
        }
    }
    std::stable_sort(machine.begin(), machine.end(),
                     [](const PortEntry& x, const PortEntry& y) { return NaturalLess(x.device, y.device); });

    const QString extra = qEnvironmentVariable("VELMORA_EXTRA_PORTS");
    for (const QString& path : extra.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        machine.push_back({path, QStringLiteral("VELMORA_EXTRA_PORTS")});
    return machine;
}

std::optional<PortEntry> PortDirectory::Find(int comNumber) const
{
    if (comNumber < 1 || comNumber > entries_.size()) return std::nullopt;
    return entries_.at(comNumber - 1);
}

QString PortToolTip(const PortEntry& entry)
{
    if (entry.vendor.isEmpty() && entry.vendorId.isEmpty() && entry.product.isEmpty() && entry.productId.isEmpty()
        && entry.serialNumber.isEmpty()) {
        if (entry.description.isEmpty()) return entry.device;
        return entry.device + QStringLiteral(" (") + entry.description + QLatin1Char(')');
    }
    auto withId = [](const QString& name, const QString& id) {
        if (id.isEmpty() || name.compare(id, Qt::CaseInsensitive) == 0) return name.isEmpty() ? id : name;
        return name.isEmpty() ? id : name + QStringLiteral(" (") + id + QLatin1Char(')');
    };
    QString tip = entry.device;
    const QString vendor = withId(entry.vendor, entry.vendorId);
    const QString product = withId(entry.product.isEmpty() ? entry.description : entry.product, entry.productId);
    if (!vendor.isEmpty()) tip += QLatin1Char('\n') + Texts::tr("厂商: %1").arg(vendor);
    if (!product.isEmpty()) tip += QLatin1Char('\n') + Texts::tr("产品: %1").arg(product);
    if (!entry.serialNumber.isEmpty()) tip += QLatin1Char('\n') + Texts::tr("序列号: %1").arg(entry.serialNumber);
    return tip;
}

QString PortSummary(const PortEntry& entry)
{
    const QString product = entry.product.isEmpty() ? entry.description : entry.product;
    return product.isEmpty() ? entry.device : entry.device + QStringLiteral(" (") + product + QLatin1Char(')');
}
