#include "serial/BuiltinRegistryProvider.h"

#include <cstring>

#include "core/PortChoice.h"

namespace {

const char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

}  // namespace

BuiltinRegistryProvider::BuiltinRegistryProvider(std::shared_ptr<PortDirectory> directory, Discover discover)
    : directory_(std::move(directory)), discover_(discover ? std::move(discover) : Discover(DiscoverSerialDevices))
{
}

bool BuiltinRegistryProvider::Offers(const QString& libraryFile, const QString& function) const
{
    // Library names are case-blind and may leave out ".dll", as the loader allows.
    const bool advapi = libraryFile.compare(QLatin1String("advapi32"), Qt::CaseInsensitive) == 0
        || libraryFile.compare(QLatin1String("advapi32.dll"), Qt::CaseInsensitive) == 0;
    return advapi
        && (function == QLatin1String("RegOpenKeyA") || function == QLatin1String("RegEnumValueA")
            || function == QLatin1String("RegCloseKey"));
}

int BuiltinRegistryProvider::RegOpenKeyA(quint32 root, const char* subKey, quint32* key)
{
    if (!key) return RegResult::InvalidParameter;
    // Key names are case-blind in the registry.
    if (root != kHkeyLocalMachine || !subKey || qstricmp(subKey, kSerialCommKey) != 0)
        return RegResult::FileNotFound;

    QVector<PortEntry> devices = discover_();
    directory_->Replace(devices);
    // Handles are never reused while the process lives, so a stale one is always refused.
    const quint32 handle = nextKey_++;
    openKeys_.insert(handle, std::move(devices));
    *key = handle;
    return RegResult::Success;
}

int BuiltinRegistryProvider::RegEnumValueA(quint32 key, int index, char* name, quint32* nameLen,
                                           quint32 reserved, quint32* type, unsigned char* data,
                                           quint32* dataLen)
{
    const auto it = openKeys_.constFind(key);
    if (it == openKeys_.constEnd()) return RegResult::InvalidHandle;
    if (!name || !nameLen || reserved != 0 || (data && !dataLen)) return RegResult::InvalidParameter;
    if (index < 0 || index >= it->size()) return RegResult::NoMoreItems;

    const QByteArray valueName = it->at(index).device.toLocal8Bit();
    const QByteArray valueData = ComName(index + 1).toLatin1();
    const quint32 dataNeeded = quint32(valueData.size()) + 1;

    // The name length counts characters without the zero on return, with it on entry.
    if (quint32(valueName.size()) + 1 > *nameLen) return RegResult::MoreData;
    if (data && dataNeeded > *dataLen) {
        *dataLen = dataNeeded;
        return RegResult::MoreData;
    }
    std::memcpy(name, valueName.constData(), size_t(valueName.size()) + 1);
    *nameLen = quint32(valueName.size());
    if (type) *type = kRegSz;
    if (data) std::memcpy(data, valueData.constData(), dataNeeded);
    if (dataLen) *dataLen = dataNeeded;
    return RegResult::Success;
}

int BuiltinRegistryProvider::RegCloseKey(quint32 key)
{
    return openKeys_.remove(key) ? RegResult::Success : RegResult::InvalidHandle;
}

QString BuiltinRegistryProvider::DescribePort(int comNumber) const
{
    const std::optional<PortEntry> entry = directory_->Find(comNumber);
    return entry ? PortToolTip(*entry) : QString();
}

QString BuiltinRegistryProvider::PortDevice(int comNumber) const
{
    const std::optional<PortEntry> entry = directory_->Find(comNumber);
    return entry ? entry->device : QString();
}

QString BuiltinRegistryProvider::PortSummary(int comNumber) const
{
    const std::optional<PortEntry> entry = directory_->Find(comNumber);
    return entry ? ::PortSummary(*entry) : QString();
}
