#pragma once
// The serial port the module is reached through: which one and whether it is
// open, changed here only. Opened by the library's port number at a rate and
// closed again; a device found gone closes it. What happens to it is told as
// events (PortOpened, OpenRefused, PortLost, PortClosed); it never touches
// anything of what was being said on it.

#include <QVector>
#include <functional>

#include "core/ModuleEvents.h"
#include "serial/SerialLibrary.h"

// The port number while no port is in use.
constexpr int kNoPort = -1;

class PortConnection {
public:
    using Reporter = std::function<void(const ModuleEvent&)>;
    PortConnection(SerialLibrary& serial, Reporter report);

    bool IsOpen() const { return open_; }
    // N of "COM"+N while the port is open; kNoPort when no port is in use. A
    // failed open leaves the number it tried until the next open or close.
    int Number() const { return number_; }

    // sio_open(port), then its rate (BaudCode(rate), 8 data bits, no parity,
    // one stop bit) and the read time-outs: PortOpened, with `name` and the
    // rate. Refused: OpenRefused with the library's code and its reason.
    // Gives sio_open's result.
    int Open(int port, int rate, const QString& name);
    // sio_close; PortClosed. Nothing while no port is open.
    void Close();
    // The device went away: PortLost, then closed as Close does.
    void Lose();
    // The program ends: sio_close, and the state left as it is.
    void ReleaseAtExit();

    // One sio_write on the open port; a device found gone closes it (Lose).
    // Gives the write's result.
    int Write(const QByteArray& bytes);
    // Every byte waiting, as it arrived (SerialLibrary::ReadArrivals); the
    // caller judges what came before it calls Lose on a device gone.
    int ReadArrivals(const std::function<quint32()>& now, QVector<ArrivedBytes>& runs);

private:
    SerialLibrary& serial_;
    Reporter report_;
    int number_ = kNoPort;
    bool open_ = false;
};

// Replaces `list` with the port numbers the port list names; 1 when the key
// opened (even with no port), 0 when it did not (list empty).
int EnumerateComPorts(SerialLibrary& serial, QVector<int>& list);
// Why sio_open refused, from the code it answered.
OpenRefusal OpenRefusalOf(int sioResult);
// True when a library result says the port's device has gone away.
inline bool PortWasLost(int sioResult) { return sioResult == SioResult::DeviceGone; }
