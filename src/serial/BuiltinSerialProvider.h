#pragma once
// The seven sio_* functions of "\DLL\PCOMM.DLL" over Qt Serial Port. Port
// number N is the device that "COM"+N named in the last enumeration of the
// port list. Several ports may be open at once. No call ever waits for
// incoming data; sio_write waits only until its bytes are handed to the system.

#include <QHash>
#include <memory>

#include "serial/PortDirectory.h"
#include "serial/SerialLibrary.h"

class QSerialPort;

// Results of the sio_* functions: 0 or a count on success, else one of these.
namespace SioResult {
constexpr int Ok = 0;
// sio_open: the number names no device of the last enumeration, or the device
// does not exist. Every other function: the port is not open.
constexpr int NoSuchPort = -1;
constexpr int AlreadyOpen = -2;   // sio_open of a port this program holds open
constexpr int Busy = -3;          // in use by another program, or no permission
constexpr int OtherFailure = -4;  // the system refused for another reason (e.g. a rate the device lacks)
constexpr int DeviceGone = -5;    // the far end hung up or the device was removed; only sio_close helps
constexpr int BadArgument = -6;   // unknown baud code or mode, missing buffer, negative count
}  // namespace SioResult

// sio_ioctl's mode word: bits 0-1 data bits minus 5, bit 2 two stop bits,
// bits 3-5 parity (0 none, 1 even, 2 odd, 3 mark, 4 space). Mode 3 is 8N1.
constexpr int kMode8N1 = 3;

class BuiltinSerialProvider : public LibraryProvider {
public:
    explicit BuiltinSerialProvider(std::shared_ptr<const PortDirectory> directory);
    ~BuiltinSerialProvider() override;

    bool Offers(const QString& libraryFile, const QString& function) const override;
    // 0 when opened (9600 8N1, no flow control, until sio_ioctl says otherwise).
    int sio_open(int port) override;
    // Applies the rate of `baudCode` (BaudRateOfCode) and the line format of `mode`.
    int sio_ioctl(int port, int baudCode, int mode) override;
    // Accepted and nothing else: reads never wait here.
    int sio_SetReadTimeouts(int port, int total, int interval) override;
    // Releases the port, also one whose device is gone; NoSuchPort when it was not open.
    int sio_close(int port) override;
    // Bytes waiting, including those the event loop has not fetched yet.
    int sio_iqueue(int port) override;
    // Copies at most `len` waiting bytes; 0 when none are waiting.
    int sio_read(int port, char* buffer, int len) override;
    // The count accepted; the bytes have left for the device when it returns
    // (bounded by a deadline sized to the rate, so a stalled line cannot freeze the caller).
    int sio_write(int port, const char* data, int len) override;

private:
    QSerialPort* Usable(int port, int& failure);
    std::shared_ptr<const PortDirectory> directory_;
    QHash<int, QSerialPort*> ports_;  // owned; deleted on sio_close and with the provider
};
