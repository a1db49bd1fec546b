#include "serial/BuiltinSerialProvider.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <chrono>
#include <climits>
#include <sys/ioctl.h>
#include <unistd.h>

#include "core/PortChoice.h"

namespace {

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A device that has gone away (USB unplugged, the far end of a pseudo-terminal
// closed) shows as a ResourceError, or as a ReadError when the system signals
// the hang-up as an end of input. Either way its notifiers would fire forever,
// so it is closed at once; it stays in the table so that every later call
// says DeviceGone until the program closes it.
bool IsHangUp(QSerialPort::SerialPortError e)
{
    return e == QSerialPort::ResourceError || e == QSerialPort::ReadError;
}

bool Lost(QSerialPort* sp)
{
    if (sp->isOpen() && IsHangUp(sp->error())) sp->close();
    return !sp->isOpen();
}

// Qt reports a busy device and a forbidden one alike; the file's permissions
// tell them apart.
int OpenFailure(QSerialPort::SerialPortError error, const QString& device)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return SioResult::NoSuchPort;
    case QSerialPort::PermissionError:
        return ::access(device.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES ? SioResult::NoPermission
                                                                                               : SioResult::Busy;
    default: return SioResult::OtherFailure;
    }
}

}  // namespace

// One open device and what it sent that nobody has read yet.
struct BuiltinSerialProvider::Port {
    struct Run {
        QByteArray bytes;
        qint64 firstNs;
        qint64 lastNs;
    };
    std::unique_ptr<QSerialPort> device;
    std::deque<Run> arrived;
    qint64 waiting = 0;     // bytes in `arrived`
    qint64 seenEmptyNs = 0;  // the last moment nothing was waiting in the system
    bool emptyAtBlock = false;  // nothing was waiting when the event loop last went to sleep
};

BuiltinSerialProvider::BuiltinSerialProvider(std::shared_ptr<const PortDirectory> directory)
    : directory_(std::move(directory))
{
}

BuiltinSerialProvider::~BuiltinSerialProvider()
{
    QObject::disconnect(blockWatch_);
    QObject::disconnect(awakeWatch_);
}

// True when nothing of the port waits, in the system or in Qt; the moment is
// then the latest the port is known to have been empty.
static bool SeenEmpty(QSerialPort* sp, qint64 now, qint64& seenEmptyNs)
{
    int waiting = 0;
    const bool empty = sp->isOpen() && sp->bytesAvailable() == 0
        && ::ioctl(int(sp->handle()), FIONREAD, &waiting) == 0 && waiting == 0;
    if (empty) seenEmptyNs = now;
    return empty;
}

void BuiltinSerialProvider::WatchEventLoop()
{
    if (blockWatch_) return;
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
    if (!loop) return;
    // About to sleep: from here on the loop wakes as soon as a byte comes, so
    // a port found empty now has its next bytes stamped when it wakes.
    blockWatch_ = QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, [this] {
        lastBlockNs_ = NowNs();
        for (auto& entry : ports_)
            entry.second->emptyAtBlock = SeenEmpty(entry.second->device.get(), lastBlockNs_, entry.second->seenEmptyNs);
    });
    // Every round of the loop is a look at the ports, also when it does not sleep.
    awakeWatch_ = QObject::connect(loop, &QAbstractEventDispatcher::awake, [this] {
        lastAwakeNs_ = NowNs();
        for (auto& entry : ports_) SeenEmpty(entry.second->device.get(), lastAwakeNs_, entry.second->seenEmptyNs);
    });
}

bool BuiltinSerialProvider::Offers(const QString& libraryFile, const QString& function) const
{
    static const QStringList kFunctions = {
        QStringLiteral("sio_open"),  QStringLiteral("sio_ioctl"),  QStringLiteral("sio_SetReadTimeouts"),
        QStringLiteral("sio_close"), QStringLiteral("sio_iqueue"), QStringLiteral("sio_read"),
        QStringLiteral("sio_write"),
    };
    return libraryFile.compare(QLatin1String("\\DLL\\PCOMM.DLL"), Qt::CaseInsensitive) == 0
        && kFunctions.contains(function);
}

void BuiltinSerialProvider::SetActivityHandler(std::function<void()> handler) { activity_ = std::move(handler); }

void BuiltinSerialProvider::Notify()
{
    if (activity_) activity_();
}

BuiltinSerialProvider::Port* BuiltinSerialProvider::Find(int port)
{
    const auto it = ports_.find(port);
    return it == ports_.end() ? nullptr : it->second.get();
}

QSerialPort* BuiltinSerialProvider::Usable(int port, int& failure)
{
    Port* p = Find(port);
    if (!p) {
        failure = SioResult::NoSuchPort;
        return nullptr;
    }
    if (Lost(p->device.get())) {
        failure = SioResult::DeviceGone;
        return nullptr;
    }
    return p->device.get();
}

void BuiltinSerialProvider::Take(Port& port)
{
    QSerialPort* sp = port.device.get();
    if (sp->bytesAvailable() <= 0) return;
    const QByteArray bytes = sp->readAll();
    const qint64 now = NowNs();
    // Woken for them from a sleep that began with the port empty: they came
    // just now. Otherwise they came at the earliest when the port was last seen empty.
    const bool wokenForThem = lastBlockNs_ > lastAwakeNs_ && port.emptyAtBlock;
    const qint64 earliest = wokenForThem ? now : qMin(now, port.seenEmptyNs);
    port.emptyAtBlock = false;
    port.seenEmptyNs = now;
    // Bytes following close behind the last ones continue their run: a
    // record that trickles in at the line rate stays one run.
    if (!port.arrived.empty() && earliest - port.arrived.back().lastNs < qint64(kJoinMs) * 1000000) {
        port.arrived.back().bytes += bytes;
        port.arrived.back().lastNs = now;
    } else {
        port.arrived.push_back({bytes, earliest, now});
    }
    port.waiting += bytes.size();
}

// Takes what the system holds for the port without waiting, so nothing that
// has arrived is missed when the event loop has not run the port's notifier yet.
void BuiltinSerialProvider::Fetch(Port& port)
{
    QSerialPort* sp = port.device.get();
    sp->waitForReadyRead(0);
    // A poll that found nothing records a time-out; it is no failure here.
    if (sp->error() == QSerialPort::TimeoutError) sp->clearError();
    Take(port);
    port.seenEmptyNs = NowNs();
}

int BuiltinSerialProvider::sio_open(int port)
{
    if (Find(port)) return SioResult::AlreadyOpen;
    const std::optional<PortEntry> entry = directory_->Find(port);
    if (!entry) return SioResult::NoSuchPort;

    auto sp = std::make_unique<QSerialPort>();
    sp->setPortName(entry->device);
    sp->setBaudRate(kDefaultRate);
    sp->setDataBits(QSerialPort::Data8);
    sp->setParity(QSerialPort::NoParity);
    sp->setStopBits(QSerialPort::OneStop);
    sp->setFlowControl(QSerialPort::NoFlowControl);
    if (!sp->open(QIODevice::ReadWrite)) return OpenFailure(sp->error(), entry->device);

    WatchEventLoop();
    auto record = std::make_unique<Port>();
    Port* p = record.get();
    p->seenEmptyNs = NowNs();
    QSerialPort* device = sp.get();
    p->device = std::move(sp);
    QObject::connect(device, &QSerialPort::readyRead, device, [this, p] {
        const qint64 before = p->waiting;
        Take(*p);
        if (p->waiting != before) Notify();
    });
    // A hang-up noticed by the event loop closes the port from there, after
    // Qt has finished the notification that reported it.
    QObject::connect(device, &QSerialPort::errorOccurred, device, [this, device](QSerialPort::SerialPortError e) {
        if (IsHangUp(e))
            QMetaObject::invokeMethod(device, [this, device] {
                Lost(device);
                Notify();
            }, Qt::QueuedConnection);
    });
    ports_.emplace(port, std::move(record));
    return SioResult::Ok;
}

int BuiltinSerialProvider::sio_ioctl(int port, int baudCode, int mode)
{
    int failure = 0;
    QSerialPort* sp = Usable(port, failure);
    if (!sp) return failure;

    const int rate = BaudRateOfCode(baudCode);
    const int parityCode = (mode >> 3) & 7;
    if (rate == 0 || (mode & ~0x3F) != 0 || parityCode > 4) return SioResult::BadArgument;
    static constexpr QSerialPort::Parity kParity[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                      QSerialPort::OddParity, QSerialPort::MarkParity,
                                                      QSerialPort::SpaceParity};

    bool ok = sp->setDataBits(QSerialPort::DataBits(5 + (mode & 3)));
    ok = sp->setStopBits((mode & 4) ? QSerialPort::TwoStop : QSerialPort::OneStop) && ok;
    ok = sp->setParity(kParity[parityCode]) && ok;
    ok = sp->setBaudRate(rate) && ok;
    if (Lost(sp)) return SioResult::DeviceGone;
    return ok ? SioResult::Ok : SioResult::OtherFailure;
}

int BuiltinSerialProvider::sio_SetReadTimeouts(int port, int total, int interval)
{
    Q_UNUSED(total);
    Q_UNUSED(interval);
    int failure = 0;
    return Usable(port, failure) ? SioResult::Ok : failure;
}

int BuiltinSerialProvider::sio_close(int port)
{
    const auto it = ports_.find(port);
    if (it == ports_.end()) return SioResult::NoSuchPort;
    // Whatever was unread goes with it.
    std::unique_ptr<Port> closing = std::move(it->second);
    ports_.erase(it);
    closing->device->close();
    return SioResult::Ok;
}

int BuiltinSerialProvider::sio_iqueue(int port)
{
    Port* p = Find(port);
    if (!p) return SioResult::NoSuchPort;
    if (!Lost(p->device.get())) Fetch(*p);
    // What came before the device went away is still the module's to say.
    if (p->waiting == 0 && Lost(p->device.get())) return SioResult::DeviceGone;
    return int(qMin<qint64>(p->waiting, INT_MAX));
}

int BuiltinSerialProvider::sio_read(int port, char* buffer, int len)
{
    const int waiting = sio_iqueue(port);
    if (waiting < 0) return waiting;
    if (len < 0 || (!buffer && len > 0)) return SioResult::BadArgument;
    Port* p = Find(port);
    int copied = 0;
    while (copied < len && !p->arrived.empty()) {
        Port::Run& run = p->arrived.front();
        const int n = int(qMin<qint64>(len - copied, run.bytes.size()));
        memcpy(buffer + copied, run.bytes.constData(), size_t(n));
        copied += n;
        run.bytes.remove(0, n);
        if (run.bytes.isEmpty()) p->arrived.pop_front();
    }
    p->waiting -= copied;
    return copied;
}

int BuiltinSerialProvider::ReadArrivals(int port, QVector<ArrivalRun>& runs)
{
    const int waiting = sio_iqueue(port);
    if (waiting <= 0) return waiting;
    Port* p = Find(port);
    const qint64 now = NowNs();
    const auto ageMs = [now](qint64 ns) { return int(qBound(qint64(0), (now - ns) / 1000000, qint64(INT_MAX))); };
    for (Port::Run& run : p->arrived) runs.push_back(ArrivalRun{std::move(run.bytes), ageMs(run.firstNs), ageMs(run.lastNs)});
    p->arrived.clear();
    p->waiting = 0;
    return waiting;
}

int BuiltinSerialProvider::sio_write(int port, const char* data, int len)
{
    int failure = 0;
    QSerialPort* sp = Usable(port, failure);
    if (!sp) return failure;
    if (len < 0 || (!data && len > 0)) return SioResult::BadArgument;
    if (len == 0) return 0;

    const qint64 accepted = sp->write(data, len);
    if (accepted < 0) return Lost(sp) ? SioResult::DeviceGone : SioResult::OtherFailure;

    // The callers pause right after a write and expect the bytes to be on the
    // line meanwhile, but Qt would only send them from the event loop. Ten bits
    // a byte at the line's rate, plus a generous margin.
    const qint64 lineMs = qint64(len) * 10 * 1000 / qMax(1, sp->baudRate());
    const QDeadlineTimer deadline(qMin<qint64>(lineMs + 500, 10000));
    sp->flush();
    while (sp->bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!sp->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())))) break;
    }
    if (Lost(sp)) return SioResult::DeviceGone;
    return int(accepted);
}
