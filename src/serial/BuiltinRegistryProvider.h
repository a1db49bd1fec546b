#pragma once
// RegOpenKeyA, RegEnumValueA and RegCloseKey of advapi32, presenting one key:
// HKEY_LOCAL_MACHINE "HARDWARE\DEVICEMAP\SERIALCOMM", with one value per
// serial device (name: the device path, type REG_SZ, data: "COM"+N and a
// terminating zero). Opening the key takes a fresh look at the devices and
// renumbers the shared directory; the open key keeps that snapshot.

#include <QHash>
#include <functional>
#include <memory>

#include "serial/PortDirectory.h"
#include "serial/SerialLibrary.h"

// Result codes as the registry gives them.
namespace RegResult {
constexpr int Success = 0;
constexpr int FileNotFound = 2;       // no such key under that root
constexpr int InvalidHandle = 6;      // key handle not open
constexpr int InvalidParameter = 87;  // a required pointer is missing
constexpr int MoreData = 234;         // name or data does not fit the caller's buffer
constexpr int NoMoreItems = 259;      // index past the last value
}  // namespace RegResult

constexpr quint32 kRegSz = 1;

class BuiltinRegistryProvider : public LibraryProvider {
public:
    using Discover = std::function<QVector<PortEntry>()>;
    // `discover` lists the devices at each key opening (DiscoverSerialDevices by default).
    explicit BuiltinRegistryProvider(std::shared_ptr<PortDirectory> directory, Discover discover = {});

    bool Offers(const QString& libraryFile, const QString& function) const override;
    int RegOpenKeyA(quint32 root, const char* subKey, quint32* key) override;
    int RegEnumValueA(quint32 key, int index, char* name, quint32* nameLen, quint32 reserved,
                      quint32* type, unsigned char* data, quint32* dataLen) override;
    int RegCloseKey(quint32 key) override;
    QString DescribePort(int comNumber) const override;
    QString PortDevice(int comNumber) const override;
    QString PortSummary(int comNumber) const override;

private:
    std::shared_ptr<PortDirectory> directory_;
    Discover discover_;
    QHash<quint32, QVector<PortEntry>> openKeys_;
    quint32 nextKey_ = 0x100;
};
