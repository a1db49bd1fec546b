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
};

// The machine's serial ports sorted by device path (numbers inside names in
// numeric order), then every path named in VELMORA_EXTRA_PORTS (":"-separated,
// empty parts skipped), in that order.
QVector<PortEntry> DiscoverSerialDevices();

class PortDirectory {
public:
    void Replace(QVector<PortEntry> entries) { entries_ = std::move(entries); }
    // The entry that "COM"+comNumber named in the last enumeration.
    std::optional<PortEntry> Find(int comNumber) const;
    const QVector<PortEntry>& Entries() const { return entries_; }

private:
    QVector<PortEntry> entries_;
};

// "device" or "device (description)": what the port box shows over an item.
QString PortToolTip(const PortEntry& entry);
