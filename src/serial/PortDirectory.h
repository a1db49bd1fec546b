#pragma once
// The serial devices the port list shows, and the COM numbers they were
// given. Numbering is positional: the device of entry i is "COM"+(i+1).
// The registry provider replaces the entries at every enumeration and the
// serial provider resolves port numbers through the same directory, so a
// number keeps naming the device the user saw in the list.

#include <QString>
#include <QVector>
#include <optional>

struct PortEntry {
    QString device;       // system path, e.g. "/dev/ttyUSB0"
    QString description;  // what the system says about it; may be empty
    // What a USB adapter says of itself; empty for other ports.
    QString vendor = {};        // maker's name, e.g. "FTDI"
    QString vendorId = {};      // four hex digits, e.g. "0403"
    QString product = {};       // e.g. "FT232R USB UART"
    QString productId = {};     // e.g. "6001"
    QString serialNumber = {};  // e.g. "A50285BI"
};

// The machine's serial ports sorted by device path (numbers inside names in
// numeric order), then every path named in VELMORA_EXTRA_PORTS (":"-separated,
// empty parts skipped), in that order.
QVector<PortEntry> DiscoverSerialDevices();

// Where the kernel's device tree, the device manager's records and the device
// nodes are; the machine's own by default, a fake tree in tests.
struct DeviceTreeRoots {
    QString sys = QStringLiteral("/sys");
    QString udevData = QStringLiteral("/run/udev/data");
    QString dev = QStringLiteral("/dev");
};

// The serial ports the device manager (udev) would list, in no particular
// order, read straight from the device tree: every terminal device that hangs
// off a real device (an 8250 UART only when it answers as present), plus the
// Bluetooth, null-modem and gadget ports that have none. The description is
// the device manager's model name. nullopt when the tree lists no terminal
// devices at all; the caller then has to ask elsewhere.
std::optional<QVector<PortEntry>> ReadSerialDevices(const DeviceTreeRoots& roots = {});

class PortDirectory {
public:
    void Replace(QVector<PortEntry> entries) { entries_ = std::move(entries); }
    // The entry that "COM"+comNumber named in the last enumeration.
    std::optional<PortEntry> Find(int comNumber) const;
    const QVector<PortEntry>& Entries() const { return entries_; }

private:
    QVector<PortEntry> entries_;
};

// What the port box shows over an item: the device path, then a line each for
// the vendor, the product and the serial number that are known; "device" or
// "device (description)" when none is.
QString PortToolTip(const PortEntry& entry);
// The same in one line for the open port list: "device (product)", the
// description standing in for a product that is not known; "device" alone
// when neither is.
QString PortSummary(const PortEntry& entry);
