#include "SimLine.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int SpeedToRate(speed_t s)
{
    switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    }
    return 0;
}

// Ten bits a byte on the wire: start, eight data bits, stop.
qint64 WireNs(qint64 bytes, int rate) { return rate > 0 ? bytes * 10 * 1000000000LL / rate : 0; }

}  // namespace

SimLine::SimLine(QObject* parent) : QObject(parent)
{
    clock_.start();
    pump_.setTimerType(Qt::PreciseTimer);
    pump_.setInterval(1);
    connect(&pump_, &QTimer::timeout, this, &SimLine::Pump);
}

SimLine::~SimLine()
{
    ClosePty();
    if (!link_.isEmpty()) QFile::remove(link_);
}

bool SimLine::MakePty(QString* error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(qt_error_string(errno));
        ClosePty();
        return false;
    }
    device_ = QString::fromLocal8Bit(ptsname(master_));
    // Raw bytes both ways until the program sets the line up its own way.
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    slave_ = ::open(device_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SimLine::ReadPty);
    if (!link_.isEmpty()) {
        // Replace the link in one step, so the program never finds it missing.
        const QString temp = link_ + QStringLiteral(".new");
        QFile::remove(temp);
        if (!QFile::link(device_, temp) || ::rename(temp.toLocal8Bit().constData(), link_.toLocal8Bit().constData()) != 0) {
            *error = QStringLiteral("cannot link %1 to %2").arg(link_, device_);
            return false;
        }
    }
    down_ = false;
    return true;
}

bool SimLine::OpenPty(const QString& linkPath, QString* error)
{
    link_ = linkPath.isEmpty() ? QString() : QFileInfo(linkPath).absoluteFilePath();
    return MakePty(error);
}

bool SimLine::OpenPort(const QString& device, QString* error)
{
    port_ = std::make_unique<QSerialPort>(device);
    port_->setBaudRate(rate_);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!port_->open(QIODevice::ReadWrite)) {
        *error = QStringLiteral("cannot open %1: %2").arg(device, port_->errorString());
        port_.reset();
        return false;
    }
    device_ = device;
    wireTime_ = false;  // a real line keeps its own pace
    connect(port_.get(), &QSerialPort::readyRead, this, [this] { Q_EMIT received(port_->readAll()); });
    return true;
}

QString SimLine::Path() const { return link_.isEmpty() ? device_ : link_; }

void SimLine::SetRate(int rate)
{
    rate_ = rate;
    if (port_) port_->setBaudRate(rate);
}

int SimLine::FarEndRate() const
{
    if (master_ < 0) return 0;
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) return 0;
    return SpeedToRate(cfgetospeed(&tio));
}

void SimLine::ReadPty()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            Q_EMIT received(QByteArray(buffer, n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return;
    }
}

qint64 SimLine::WriteSome(const char* data, qint64 len)
{
    if (port_) {
        const qint64 n = port_->write(data, len);
        port_->flush();
        return n < 0 ? 0 : n;
    }
    if (master_ < 0) return len;  // line down: the bytes are lost, as on a cut wire
    const ssize_t n = ::write(master_, data, size_t(len));
    return n < 0 ? 0 : n;  // full (nobody reading): try again on the next pump
}

void SimLine::Send(const Piece& piece)
{
    if (queue_.empty() && lastEndNs_ < clock_.nsecsElapsed()) lastEndNs_ = clock_.nsecsElapsed();
    queue_.push_back(piece);
    if (!pump_.isActive()) pump_.start();
    Pump();
}

void SimLine::Pump()
{
    while (!queue_.empty()) {
        Piece& piece = queue_.front();
        if (!pieceStarted_) {
            pieceStarted_ = true;
            pieceStartNs_ = lastEndNs_ + qint64(piece.gapBeforeMs) * 1000000;
            pieceSent_ = 0;
        }
        const qint64 now = clock_.nsecsElapsed();
        if (now < pieceStartNs_) return;
        if (piece.hangUp) {
            HangUp();
            return;
        }
        const qint64 size = piece.bytes.size();
        qint64 due = size;
        if (wireTime_) due = qMin(size, (now - pieceStartNs_) * rate_ / 10 / 1000000000LL + 1);
        while (pieceSent_ < due) {
            const qint64 n = WriteSome(piece.bytes.constData() + pieceSent_, due - pieceSent_);
            if (n <= 0) return;
            pieceSent_ += n;
        }
        if (pieceSent_ < size) return;
        lastEndNs_ = wireTime_ ? qMax(now, pieceStartNs_ + WireNs(size, rate_)) : now;
        const QString note = piece.note;
        queue_.pop_front();
        pieceStarted_ = false;
        if (!note.isEmpty()) Q_EMIT sent(note);
    }
    pump_.stop();
}

void SimLine::ClosePty()
{
    notifier_.reset();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

void SimLine::HangUp()
{
    // Whatever was still to be said is lost with the line.
    queue_.clear();
    pieceStarted_ = false;
    pump_.stop();
    down_ = true;
    if (port_) port_->close();
    else ClosePty();
    Q_EMIT hungUp();
    QTimer::singleShot(hangUpMs_, this, [this] {
        QString error;
        if (port_) {
            if (!port_->open(QIODevice::ReadWrite)) return;
        } else if (!MakePty(&error)) {
            return;
        }
        down_ = false;
        Q_EMIT lineBack(Path());
    });
}
