#include "SimLine.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, shared by every process

qint64 NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }
Clock::time_point At(qint64 ns) { return Clock::time_point(std::chrono::nanoseconds(ns)); }

// Ten bits a byte on the wire: start, eight data bits, stop.
qint64 ByteNs(int rate) { return rate > 0 ? 10LL * 1000000000LL / rate : 0; }

// The line rates a terminal can be set to, with the system's code for each.
struct Speed {
    int rate;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

// 0 for a code not in the list.
int SpeedToRate(speed_t code)
{
    for (const Speed& s : kSpeeds)
        if (s.code == code) return s.rate;
    return 0;
}

// 9600 for a rate not in the list.
speed_t RateToSpeed(int rate)
{
    for (const Speed& s : kSpeeds)
        if (s.rate == rate) return s.code;
    return B9600;
}

}  // namespace

SimLine::SimLine(QObject* parent) : QObject(parent)
{
    writer_ = std::thread([this] { WriterLoop(); });
    sched_param param{};
    param.sched_priority = 10;
    realTime_ = pthread_setschedparam(writer_.native_handle(), SCHED_FIFO, &param) == 0;
}

SimLine::~SimLine()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    writer_.join();
    CloseLine();
    if (!link_.isEmpty()) QFile::remove(link_);
}

bool SimLine::MakePty(QString* error)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(qt_error_string(errno));
        if (master >= 0) ::close(master);
        return false;
    }
    device_ = QString::fromLocal8Bit(ptsname(master));
    // Raw bytes both ways until the program sets the line up its own way; at
    // a rate no program sets, so that its end's rate is unknown (FarEndRate 0)
    // while nobody has set it, and again once it closed and the rate it found
    // was put back.
    termios tio{};
    tcgetattr(master, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B600);
    tcsetattr(master, TCSANOW, &tio);
    slave_ = ::open(device_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    {
        std::lock_guard lock(mutex_);
        fd_ = master;
    }
    notifier_ = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SimLine::ReadLine);
    if (!link_.isEmpty()) {
        // Replace the link in one step, so the program never finds it missing.
        const QString temp = link_ + QStringLiteral(".new");
        QFile::remove(temp);
        if (!QFile::link(device_, temp)
            || ::rename(temp.toLocal8Bit().constData(), link_.toLocal8Bit().constData()) != 0) {
            *error = QStringLiteral("cannot link %1 to %2").arg(link_, device_);
            return false;
        }
    }
    return true;
}

bool SimLine::OpenPty(const QString& linkPath, QString* error)
{
    link_ = linkPath.isEmpty() ? QString() : QFileInfo(linkPath).absoluteFilePath();
    return MakePty(error);
}

bool SimLine::ApplyPortSettings()
{
    std::lock_guard lock(mutex_);
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    cfsetspeed(&tio, RateToSpeed(rate_));
    return tcsetattr(fd_, TCSANOW, &tio) == 0;
}

bool SimLine::OpenPort(const QString& device, QString* error)
{
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(device, qt_error_string(errno));
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        fd_ = fd;
        wireTime_ = false;  // a real line keeps its own pace
    }
    device_ = device;
    realPort_ = true;
    if (!ApplyPortSettings()) {
        *error = QStringLiteral("cannot set up %1: %2").arg(device, qt_error_string(errno));
        CloseLine();
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SimLine::ReadLine);
    return true;
}

QString SimLine::Path() const { return link_.isEmpty() ? device_ : link_; }

void SimLine::SetRate(int rate)
{
    rate_ = rate;
    {
        std::lock_guard lock(mutex_);
        writerRate_ = rate;
    }
    if (realPort_) ApplyPortSettings();
}

void SimLine::SetWireTime(bool on)
{
    std::lock_guard lock(mutex_);
    wireTime_ = on && !realPort_;
}

int SimLine::FarEndRate() const
{
    if (realPort_ || notifier_ == nullptr) return 0;
    termios tio{};
    if (tcgetattr(int(notifier_->socket()), &tio) != 0) return 0;
    return SpeedToRate(cfgetospeed(&tio));
}

QByteArray SimLine::AsHeardAt(const QByteArray& bytes, int sentAt, int heardAt)
{
    if (sentAt <= 0 || heardAt <= 0 || sentAt == heardAt || bytes.isEmpty()) return bytes;
    const qsizetype count = qMax<qsizetype>(1, bytes.size() * heardAt / sentAt);
    QByteArray heard;
    for (qsizetype i = 0; i < count; ++i) {
        const quint8 b = quint8(quint8(bytes[i * bytes.size() / count]) * 0x9D + quint8(i) * 0x3B + 0x5A);
        // Never the first byte of a frame or a record: garbage is no answer.
        heard += char(b == 0xFD || b == 0xF4 ? b ^ 0x01 : b);
    }
    return heard;
}

void SimLine::ReadLine()
{
    if (!notifier_) return;
    const int fd = int(notifier_->socket());
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            Q_EMIT received(QByteArray(buffer, n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // A line in error would wake us forever; it stays quiet until reopened.
        if (n == 0 || errno != EAGAIN) notifier_->setEnabled(false);
        return;
    }
}

void SimLine::Send(const Piece& piece)
{
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) lastEndNs_ = qMax(lastEndNs_, NowNs());
        queue_.push_back(piece);
    }
    wake_.notify_all();
}

void SimLine::WriterLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        const unsigned generation = generation_;
        const Piece piece = queue_.front();
        const qint64 startNs = lastEndNs_ + qint64(piece.gapBeforeMs) * 1000000;
        const auto interrupted = [&] { return stop_ || generation_ != generation; };

        wake_.wait_until(lock, At(startNs), interrupted);
        if (interrupted()) continue;
        if (piece.hangUp) {
            queue_.clear();
            ++generation_;
            QMetaObject::invokeMethod(this, [this] { HangUp(); }, Qt::QueuedConnection);
            continue;
        }

        const qint64 size = piece.bytes.size();
        const qint64 byteNs = wireTime_ ? ByteNs(writerRate_) : 0;
        qint64 written = 0;
        while (written < size && !interrupted()) {
            // Every byte whose time has come goes in one write.
            const qint64 now = NowNs();
            const qint64 due = byteNs > 0 ? qMin(size, (now - startNs) / byteNs + 1) : size;
            if (due > written) {
                const ssize_t n = fd_ >= 0 ? ::write(fd_, piece.bytes.constData() + written, size_t(due - written))
                                           : ssize_t(due - written);  // line down: lost, as on a cut wire
                if (n > 0) {
                    written += n;
                    continue;
                }
                // Full (nobody reading yet): try again shortly.
                wake_.wait_until(lock, At(NowNs() + 1000000), interrupted);
                continue;
            }
            wake_.wait_until(lock, At(startNs + written * byteNs), interrupted);
        }
        if (interrupted()) continue;
        const qint64 endNs = NowNs();
        lastEndNs_ = qMax(endNs, startNs + size * byteNs);
        queue_.pop_front();
        if (!piece.note.isEmpty()) {
            const QString note = piece.note;
            const qint64 atUs = endNs / 1000;
            QMetaObject::invokeMethod(this, [this, note, atUs] { Q_EMIT sent(note, atUs); }, Qt::QueuedConnection);
        }
    }
}

void SimLine::CloseLine()
{
    notifier_.reset();
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = fd_;
        fd_ = -1;
        queue_.clear();
        ++generation_;
    }
    wake_.notify_all();
    if (slave_ >= 0) ::close(slave_);
    if (fd >= 0) ::close(fd);
    slave_ = -1;
}

void SimLine::HangUp()
{
    // Whatever was still to be said is lost with the line.
    CloseLine();
    Q_EMIT hungUp();
    QTimer::singleShot(hangUpMs_, this, [this] {
        QString error;
        if (realPort_) {
            if (!OpenPort(device_, &error)) return;
        } else if (!MakePty(&error)) {
            return;
        }
        Q_EMIT lineBack(Path());
    });
}
