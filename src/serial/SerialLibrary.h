#pragma once
// The table of the ten library functions. Each row is bound on its first call
// to the first provider that offers its name; a row nobody offers ends the
// program through the fatal report. The rest of the program calls the typed
// wrappers below and nothing else.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>


// Registry handle and root values as the program passes them.
constexpr quint32 kHkeyLocalMachine = 0x80000002u;

// sio_ioctl's mode word: bits 0-1 data bits minus 5, bit 2 two stop bits,
// bits 3-5 parity (0 none, 1 even, 2 odd, 3 mark, 4 space). Mode 3 is 8N1.
constexpr int kMode8N1 = 3;

// Results of the sio_* functions: 0 or a count on success, else one of these.
namespace SioResult {
constexpr int Ok = 0;
// sio_open: the number names no device of the last enumeration, or the device
// does not exist. Every other function: the port is not open.
constexpr int NoSuchPort = -1;
constexpr int AlreadyOpen = -2;   // sio_open of a port this program holds open
constexpr int Busy = -3;          // sio_open: another program holds the device
constexpr int OtherFailure = -4;  // the system refused for another reason (e.g. a rate the device lacks)
constexpr int DeviceGone = -5;    // the far end hung up or the device was removed; only sio_close helps
constexpr int BadArgument = -6;   // unknown baud code or mode, missing buffer, negative count
constexpr int NoPermission = -7;  // sio_open: the user may not open the device
}  // namespace SioResult

// Bytes that reached a port together, as the provider saw them arrive: how
// long ago the first and the last of them came, in milliseconds before the call.
struct ArrivalRun {
    QByteArray bytes;
    int firstAgeMs = 0;
    int lastAgeMs = 0;
};

// Bytes that reached the port together, with when the first and the last of
// them arrived on the reader's clock.
struct ArrivedBytes {
    QByteArray bytes;
    quint32 firstAt = 0;
    quint32 lastAt = 0;
};

// A source of library functions. The defaults answer "failed"; a provider
// overrides what it offers and says so in Offers().
class LibraryProvider {
public:
    virtual ~LibraryProvider() = default;
    // True when this provider has `function` of the declared `libraryFile`.
    virtual bool Offers(const QString& libraryFile, const QString& function) const = 0;

    virtual int sio_write(int port, const char* data, int len) { Q_UNUSED(port); Q_UNUSED(data); Q_UNUSED(len); return -1; }
    virtual int RegOpenKeyA(quint32 root, const char* subKey, quint32* key) { Q_UNUSED(root); Q_UNUSED(subKey); Q_UNUSED(key); return 2; }
    virtual int RegEnumValueA(quint32 key, int index, char* name, quint32* nameLen, quint32 reserved,
                              quint32* type, unsigned char* data, quint32* dataLen)
    { Q_UNUSED(key); Q_UNUSED(index); Q_UNUSED(name); Q_UNUSED(nameLen); Q_UNUSED(reserved); Q_UNUSED(type); Q_UNUSED(data); Q_UNUSED(dataLen); return 259; }
    virtual int RegCloseKey(quint32 key) { Q_UNUSED(key); return 0; }
    virtual int sio_open(int port) { Q_UNUSED(port); return -1; }
    virtual int sio_ioctl(int port, int baudCode, int mode) { Q_UNUSED(port); Q_UNUSED(baudCode); Q_UNUSED(mode); return -1; }
    virtual int sio_SetReadTimeouts(int port, int total, int interval) { Q_UNUSED(port); Q_UNUSED(total); Q_UNUSED(interval); return -1; }
    virtual int sio_close(int port) { Q_UNUSED(port); return -1; }
    virtual int sio_iqueue(int port) { Q_UNUSED(port); return -1; }
    virtual int sio_read(int port, char* buffer, int len) { Q_UNUSED(port); Q_UNUSED(buffer); Q_UNUSED(len); return -1; }

    // What the port list's provider knows about "COM"+comNumber of its last
    // enumeration (device and description, for the port box's tool tip);
    // empty when it knows nothing.
    virtual QString DescribePort(int comNumber) const { Q_UNUSED(comNumber); return QString(); }
    // The device path behind "COM"+comNumber of the last enumeration; empty
    // when it knows none.
    virtual QString PortDevice(int comNumber) const { Q_UNUSED(comNumber); return QString(); }
    // "device (product)" for "COM"+comNumber of the last enumeration, for the
    // open port list; empty when it knows nothing.
    virtual QString PortSummary(int comNumber) const { Q_UNUSED(comNumber); return QString(); }

    // Beside the sio_* functions, for a provider that notes when bytes arrive:
    // moves every waiting byte of `port` into `runs` (appended, oldest first)
    // and returns how many, or a SioResult. kArrivalsUnknown when the provider
    // does not note arrival times; the caller then reads with sio_iqueue and sio_read.
    static constexpr int kArrivalsUnknown = -1000;
    virtual int ReadArrivals(int port, QVector<ArrivalRun>& runs) { Q_UNUSED(port); Q_UNUSED(runs); return kArrivalsUnknown; }
    // `handler` runs (from the event loop) whenever bytes arrive at an open
    // port or its device goes away; an empty one stops that.
    virtual void SetActivityHandler(std::function<void()> handler) { Q_UNUSED(handler); }
};

// The rows of the function table, numbered as the program numbers them (0 … 9).
enum class LibraryRow {
    Write,            // sio_write
    RegOpenKey,       // RegOpenKeyA
    RegEnumValue,     // RegEnumValueA
    RegCloseKey,      // RegCloseKey
    Open,             // sio_open
    Ioctl,            // sio_ioctl
    SetReadTimeouts,  // sio_SetReadTimeouts
    Close,            // sio_close
    InputQueue,       // sio_iqueue
    Read,             // sio_read
};

class SerialLibrary {
public:
    // How a row nobody offers ends the program: the fatal report's error
    // code, message and diagnostic line. It does not return.
    using FatalReport = std::function<void(int code, const QString& message, const QString& where)>;
    // Providers are searched in the order given; they must outlive the table.
    SerialLibrary(FatalReport fatal, QVector<LibraryProvider*> providers);

    // Runs just before a fatal report ends the process (the shell saves the table).
    void SetBeforeFatal(std::function<void()> hook);

    int sio_write(int port, const char* data, int len);
    int RegOpenKeyA(quint32 root, const char* subKey, quint32* key);
    int RegEnumValueA(quint32 key, int index, char* name, quint32* nameLen, quint32 reserved,
                      quint32* type, unsigned char* data, quint32* dataLen);
    int RegCloseKey(quint32 key);
    int sio_open(int port);
    int sio_ioctl(int port, int baudCode, int mode);
    int sio_SetReadTimeouts(int port, int total, int interval);
    int sio_close(int port);
    int sio_iqueue(int port);
    int sio_read(int port, char* buffer, int len);

    // Every byte waiting at `port`, appended to `runs` as it arrived, oldest
    // first, with its times on the caller's clock (`now` is asked once the
    // bytes are taken); returns the count or a negative SioResult. From a
    // provider that does not note arrival times it reads with sio_iqueue and
    // sio_read and the bytes count as having arrived now.
    int ReadArrivals(int port, const std::function<quint32()>& now, QVector<ArrivedBytes>& runs);
    // `handler` runs whenever bytes arrive at an open port or its device goes
    // away (from providers that can tell), so nobody has to poll for them.
    void SetActivityHandler(const std::function<void()>& handler);

    // The tool tip for "COM"+comNumber, from the provider that enumerated the
    // ports; empty while the port list was never enumerated. Binds nothing.
    QString DescribePort(int comNumber) const;
    // The device path of "COM"+comNumber from the same provider; empty when unknown.
    QString PortDevice(int comNumber) const;
    // "device (product)" from the same provider; empty when unknown.
    QString PortSummary(int comNumber) const;

private:
    LibraryProvider* Bind(LibraryRow row);
    // The provider that enumerated the port list; none before the first enumeration.
    const LibraryProvider* PortLister() const;
    FatalReport fatal_;
    QVector<LibraryProvider*> providers_;
    QVector<LibraryProvider*> bound_;
    std::function<void()> beforeFatal_;
};

// The library's code for a baud rate; 0 for a rate it does not know.
int BaudCode(int rate);
// The rate of a library baud code (the table above read backwards); 0 for an unknown code.
int BaudRateOfCode(int code);
