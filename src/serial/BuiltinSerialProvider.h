#pragma once
// The seven sio_* functions of "\DLL\PCOMM.DLL" over Qt Serial Port. Port
// number N is the device that "COM"+N named in the last enumeration of the
// port list. Several ports may be open at once. No call ever waits for
// incoming data; sio_write waits only until its bytes are handed to the system.
//
// Incoming bytes are taken from the device as the event loop sees them come,
// and kept with the time they came, so a reader can tell where the line went
// quiet however late it asks. A run's first time is the earliest its bytes
// can have arrived: when the event loop was waiting on the port, that is when
// it woke for them; when it was busy, the last moment the port was seen
// empty. A busy moment of the program thus never looks like a quiet line.

#include <QMetaObject>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>

#include "serial/PortDirectory.h"
#include "serial/SerialLibrary.h"

class QSerialPort;

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
    // DeviceGone once the device went away and every byte it sent was read.
    int sio_iqueue(int port) override;
    // Copies at most `len` waiting bytes; 0 when none are waiting.
    int sio_read(int port, char* buffer, int len) override;
    // Every waiting byte, in the runs it arrived in (bytes less than
    // kJoinMs apart form one run); DeviceGone as sio_iqueue.
    int ReadArrivals(int port, QVector<ArrivalRun>& runs) override;
    void SetActivityHandler(std::function<void()> handler) override;
    // The count accepted; the bytes have left for the device when it returns
    // (bounded by a deadline sized to the rate, so a stalled line cannot freeze the caller).
    int sio_write(int port, const char* data, int len) override;

    // Bytes that arrive closer together than this belong to one run.
    static constexpr int kJoinMs = 2;

private:
    struct Port;
    Port* Find(int port);
    QSerialPort* Usable(int port, int& failure);
    void Take(Port& port);
    void Fetch(Port& port);
    void Notify();
    void WatchEventLoop();

    std::shared_ptr<const PortDirectory> directory_;
    std::unordered_map<int, std::unique_ptr<Port>> ports_;
    std::function<void()> activity_;
    // When the event loop last went to sleep waiting (on the ports among
    // others) and last woke; Take tells from them whether it was waiting.
    qint64 lastBlockNs_ = 0;
    qint64 lastAwakeNs_ = 0;
    QMetaObject::Connection blockWatch_, awakeWatch_;
};
