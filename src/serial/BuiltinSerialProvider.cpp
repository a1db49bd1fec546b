#include "serial/BuiltinSerialProvider.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <climits>

namespace {

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

// Fetches what the system holds for the port without waiting, so the count is
// right even when the event loop has not run the port's notifier yet.
void Fetch(QSerialPort* sp)
{
    for (int round = 0; round < 64; ++round) {
        const qint64 before = sp->bytesAvailable();
        if (!sp->waitForReadyRead(0) || sp->bytesAvailable() == before) break;
    }
    // A poll that found nothing records a time-out; it is no failure here.
    if (sp->error() == QSerialPort::TimeoutError) sp->clearError();
}

int OpenFailure(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return SioResult::NoSuchPort;
    case QSerialPort::PermissionError: return SioResult::Busy;  // Qt reports a busy device this way too
    default: return SioResult::OtherFailure;
    }
}

}  // namespace

BuiltinSerialProvider::BuiltinSerialProvider(std::shared_ptr<const PortDirectory> directory)
    : directory_(std::move(directory))
{
}

BuiltinSerialProvider::~BuiltinSerialProvider()
{
    qDeleteAll(ports_);
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

QSerialPort* BuiltinSerialProvider::Usable(int port, int& failure)
{
    QSerialPort* sp = ports_.value(port, nullptr);
    if (!sp) {
        failure = SioResult::NoSuchPort;
        return nullptr;
    }
    if (Lost(sp)) {
        failure = SioResult::DeviceGone;
        return nullptr;
    }
    return sp;
}

int BuiltinSerialProvider::sio_open(int port)
{
    if (ports_.contains(port)) return SioResult::AlreadyOpen;
    const std::optional<PortEntry> entry = directory_->Find(port);
    if (!entry) return SioResult::NoSuchPort;

    auto* sp = new QSerialPort;
    sp->setPortName(entry->device);
    sp->setBaudRate(9600);
    sp->setDataBits(QSerialPort::Data8);
    sp->setParity(QSerialPort::NoParity);
    sp->setStopBits(QSerialPort::OneStop);
    sp->setFlowControl(QSerialPort::NoFlowControl);
    if (!sp->open(QIODevice::ReadWrite)) {
        const int failure = OpenFailure(sp->error());
        delete sp;
        return failure;
    }
    // A hang-up noticed by the event loop closes the port from there, after
    // Qt has finished the notification that reported it.
    QObject::connect(sp, &QSerialPort::errorOccurred, sp, [sp](QSerialPort::SerialPortError e) {
        if (IsHangUp(e))
            QMetaObject::invokeMethod(sp, [sp] { Lost(sp); }, Qt::QueuedConnection);
    });
    ports_.insert(port, sp);
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
    QSerialPort* sp = ports_.take(port);
    if (!sp) return SioResult::NoSuchPort;
    sp->close();  // whatever was unread goes with it
    delete sp;
    return SioResult::Ok;
}

int BuiltinSerialProvider::sio_iqueue(int port)
{
    int failure = 0;
    QSerialPort* sp = Usable(port, failure);
    if (!sp) return failure;
    Fetch(sp);
    if (Lost(sp)) return SioResult::DeviceGone;
    return int(qMin<qint64>(sp->bytesAvailable(), INT_MAX));
}

int BuiltinSerialProvider::sio_read(int port, char* buffer, int len)
{
    int failure = 0;
    QSerialPort* sp = Usable(port, failure);
    if (!sp) return failure;
    if (len < 0 || (!buffer && len > 0)) return SioResult::BadArgument;
    if (len == 0) return 0;
    Fetch(sp);
    const qint64 n = sp->read(buffer, len);
    if (n < 0) return Lost(sp) ? SioResult::DeviceGone : SioResult::OtherFailure;
    if (n == 0 && Lost(sp)) return SioResult::DeviceGone;
    return int(n);
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
