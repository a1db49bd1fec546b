#include "serial/PortConnection.h"

#include "core/PortChoice.h"

namespace {

constexpr int kValueBufferSize = 512;
const char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

}  // namespace

PortConnection::PortConnection(SerialLibrary& serial, Reporter report) : serial_(serial), report_(std::move(report)) {}

int PortConnection::Open(int port, int rate, const QString& name)
{
    number_ = port;
    const int r = serial_.sio_open(port);
    if (r != 0) {
        report_({.kind = ModuleEvent::Kind::OpenRefused, .port = port, .result = r, .refusal = OpenRefusalOf(r)});
        return r;
    }
    serial_.sio_ioctl(port, BaudCode(rate), kMode8N1);
    serial_.sio_SetReadTimeouts(port, 1000, 0);
    open_ = true;
    report_({.kind = ModuleEvent::Kind::PortOpened, .port = port, .portName = name, .rate = rate});
    return r;
}

void PortConnection::Close()
{
    if (!open_) return;
    serial_.sio_close(number_);
    open_ = false;
    number_ = kNoPort;
    report_({.kind = ModuleEvent::Kind::PortClosed});
}

void PortConnection::Lose()
{
    if (!open_) return;
    report_({.kind = ModuleEvent::Kind::PortLost, .port = number_});
    Close();
}

void PortConnection::ReleaseAtExit()
{
    if (open_) serial_.sio_close(number_);
}

int PortConnection::Write(const QByteArray& bytes)
{
    const int result = serial_.sio_write(number_, bytes.constData(), int(bytes.size()));
    if (PortWasLost(result)) Lose();
    return result;
}

int PortConnection::ReadArrivals(const std::function<quint32()>& now, QVector<ArrivedBytes>& runs)
{
    return serial_.ReadArrivals(number_, now, runs);
}

int EnumerateComPorts(SerialLibrary& serial, QVector<int>& list)
{
    list.clear();
    quint32 key = 0;
    if (serial.RegOpenKeyA(kHkeyLocalMachine, kSerialCommKey, &key) != 0) return 0;

    for (int index = 0;; ++index) {
        char name[kValueBufferSize];
        unsigned char data[kValueBufferSize + 1] = {};  // one spare zero: the text always ends
        std::fill(std::begin(name), std::end(name), ' ');
        quint32 nameLen = kValueBufferSize;
        quint32 dataLen = kValueBufferSize;
        quint32 type = 0;
        if (serial.RegEnumValueA(key, index, name, &nameLen, 0, &type, data, &dataLen) != 0) break;

        // Only the data counts ("COM3"); the value's name is the device and is ignored here.
        const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data));
        if (const std::optional<int> n = ComNumber(text)) list.push_back(*n);
    }
    serial.RegCloseKey(key);
    return 1;
}

OpenRefusal OpenRefusalOf(int result)
{
    switch (result) {
    case SioResult::NoSuchPort: return OpenRefusal::NoSuchDevice;
    case SioResult::AlreadyOpen:
    case SioResult::Busy: return OpenRefusal::InUse;
    case SioResult::NoPermission: return OpenRefusal::NoPermission;
    case SioResult::DeviceGone: return OpenRefusal::DeviceGone;
    case SioResult::OtherFailure: return OpenRefusal::Other;
    }
    return OpenRefusal::Unknown;
}
