#include "serial/SerialLibrary.h"

#include "core/Texts.h"

namespace {

struct RowInfo {
    const char* function;
    const char* libraryFile;
};

// In LibraryRow order.
constexpr RowInfo kRows[] = {
    {"sio_write", "\\DLL\\PCOMM.DLL"},
    {"RegOpenKeyA", ""},
    {"RegEnumValueA", "Advapi32"},
    {"RegCloseKey", "advapi32.dll"},
    {"sio_open", "\\DLL\\PCOMM.DLL"},
    {"sio_ioctl", "\\DLL\\PCOMM.DLL"},
    {"sio_SetReadTimeouts", "\\DLL\\PCOMM.DLL"},
    {"sio_close", "\\DLL\\PCOMM.DLL"},
    {"sio_iqueue", "\\DLL\\PCOMM.DLL"},
    {"sio_read", "\\DLL\\PCOMM.DLL"},
};
constexpr int kRowCount = int(std::size(kRows));
static_assert(kRowCount == int(LibraryRow::Read) + 1);

// A row with no library file is looked for among the system libraries.
const char* const kSystemLibraries[] = {"Kernel32.dll", "Gdi32.dll", "User32.dll",
                                        "Advapi32.dll", "Mpr.dll", "Shell32.dll"};

}  // namespace

SerialLibrary::SerialLibrary(FatalReport fatal, QVector<LibraryProvider*> providers)
    : fatal_(std::move(fatal)), providers_(std::move(providers)), bound_(kRowCount, nullptr)
{
}


void SerialLibrary::SetBeforeFatal(std::function<void()> hook) { beforeFatal_ = std::move(hook); }

QString SerialLibrary::DescribePort(int comNumber) const
{
    const LibraryProvider* p = PortLister();
    return p ? p->DescribePort(comNumber) : QString();
}

QString SerialLibrary::PortDevice(int comNumber) const
{
    const LibraryProvider* p = PortLister();
    return p ? p->PortDevice(comNumber) : QString();
}

QString SerialLibrary::PortSummary(int comNumber) const
{
    const LibraryProvider* p = PortLister();
    return p ? p->PortSummary(comNumber) : QString();
}

const LibraryProvider* SerialLibrary::PortLister() const
{
    // Whoever listed the registry values knows the devices behind them.
    return bound_.at(int(LibraryRow::RegEnumValue));
}

LibraryProvider* SerialLibrary::Bind(LibraryRow row)
{
    const int index = int(row);
    if (LibraryProvider* p = bound_.at(index)) return p;

    const QString function = QString::fromLatin1(kRows[index].function);
    const QString libraryFile = QString::fromLatin1(kRows[index].libraryFile);

    auto offeredBy = [&](const QString& file) -> LibraryProvider* {
        for (LibraryProvider* p : providers_)
            if (p->Offers(file, function)) return p;
        return nullptr;
    };

    LibraryProvider* found = nullptr;
    if (libraryFile.isEmpty()) {
        for (const char* system : kSystemLibraries)
            if ((found = offeredBy(QString::fromLatin1(system)))) break;
    } else {
        found = offeredBy(libraryFile);
    }

    if (!found) {
        if (beforeFatal_) beforeFatal_();
        const QString message = libraryFile.isEmpty()
            ? Texts::tr("无法找到指定DLL库文件中的输出命令“%1”").arg(function)
            : Texts::tr("无法找到指定DLL库文件“%1”中的输出命令“%2”").arg(libraryFile, function);
        fatal_(-1, message, QStringLiteral("SerialLibrary::Bind(%1 %2)").arg(index).arg(function));
        return nullptr;  // only reached when the report returns (it does not in the program)
    }
    bound_[index] = found;
    return found;
}

// Each wrapper binds its row on first use and passes everything through unchanged.
int SerialLibrary::sio_write(int port, const char* data, int len)
{
    LibraryProvider* p = Bind(LibraryRow::Write);
    return p ? p->sio_write(port, data, len) : -1;
}
int SerialLibrary::RegOpenKeyA(quint32 root, const char* subKey, quint32* key)
{
    LibraryProvider* p = Bind(LibraryRow::RegOpenKey);
    return p ? p->RegOpenKeyA(root, subKey, key) : 2;
}
int SerialLibrary::RegEnumValueA(quint32 key, int index, char* name, quint32* nameLen, quint32 reserved,
                                 quint32* type, unsigned char* data, quint32* dataLen)
{
    LibraryProvider* p = Bind(LibraryRow::RegEnumValue);
    return p ? p->RegEnumValueA(key, index, name, nameLen, reserved, type, data, dataLen) : 259;
}
int SerialLibrary::RegCloseKey(quint32 key)
{
    LibraryProvider* p = Bind(LibraryRow::RegCloseKey);
    return p ? p->RegCloseKey(key) : 0;
}
int SerialLibrary::sio_open(int port)
{
    LibraryProvider* p = Bind(LibraryRow::Open);
    return p ? p->sio_open(port) : -1;
}
int SerialLibrary::sio_ioctl(int port, int baudCode, int mode)
{
    LibraryProvider* p = Bind(LibraryRow::Ioctl);
    return p ? p->sio_ioctl(port, baudCode, mode) : -1;
}
int SerialLibrary::sio_SetReadTimeouts(int port, int total, int interval)
{
    LibraryProvider* p = Bind(LibraryRow::SetReadTimeouts);
    return p ? p->sio_SetReadTimeouts(port, total, interval) : -1;
}
int SerialLibrary::sio_close(int port)
{
    LibraryProvider* p = Bind(LibraryRow::Close);
    return p ? p->sio_close(port) : -1;
}
int SerialLibrary::sio_iqueue(int port)
{
    LibraryProvider* p = Bind(LibraryRow::InputQueue);
    return p ? p->sio_iqueue(port) : -1;
}
int SerialLibrary::sio_read(int port, char* buffer, int len)
{
    LibraryProvider* p = Bind(LibraryRow::Read);
    return p ? p->sio_read(port, buffer, len) : -1;
}

int SerialLibrary::ReadArrivals(int port, const std::function<quint32()>& now, QVector<ArrivedBytes>& runs)
{
    LibraryProvider* p = Bind(LibraryRow::Read);
    if (!p) return SioResult::NoSuchPort;
    QVector<ArrivalRun> timed;
    const int result = p->ReadArrivals(port, timed);
    if (result != LibraryProvider::kArrivalsUnknown) {
        // Ages become times on the caller's clock, read after they were measured.
        const quint32 at = now();
        for (ArrivalRun& run : timed)
            runs.push_back(ArrivedBytes{std::move(run.bytes), at - quint32(qMax(0, run.firstAgeMs)), at - quint32(qMax(0, run.lastAgeMs))});
        return result;
    }
    const int waiting = sio_iqueue(port);
    if (waiting <= 0) return waiting;
    QByteArray buffer(waiting, '\0');
    const int read = sio_read(port, buffer.data(), waiting);
    if (read <= 0) return read;
    buffer.truncate(qMin(read, waiting));
    const quint32 at = now();
    runs.push_back(ArrivedBytes{buffer, at, at});
    return int(buffer.size());
}

void SerialLibrary::SetActivityHandler(const std::function<void()>& handler)
{
    for (LibraryProvider* p : providers_) p->SetActivityHandler(handler);
}

namespace {
// Index = the library's baud code.
constexpr int kRates[] = {50,   75,   110,  134,   150,   300,   600,    1200,   1800,   2400,
                          4800, 7200, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
}  // namespace

int BaudCode(int rate)
{
    for (int code = 0; code < int(std::size(kRates)); ++code)
        if (kRates[code] == rate) return code;
    return 0;
}

int BaudRateOfCode(int code)
{
    return (code >= 0 && code < int(std::size(kRates))) ? kRates[code] : 0;
}
