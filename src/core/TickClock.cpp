#include "core/TickClock.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace {

qint64 MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

TickClock::TickClock(QObject* parent) : QObject(parent)
{
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0) return;  // the QTimer fallback below serves
    notifier_ = new QSocketNotifier(timerFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        quint64 expirations = 0;
        [[maybe_unused]] const ssize_t n = ::read(timerFd_, &expirations, sizeof expirations);
    });
}

TickClock::~TickClock()
{
    delete notifier_;
    if (timerFd_ >= 0) ::close(timerFd_);
}

quint32 TickClock::Now() { return quint32(MonotonicNs() / 1'000'000); }

void TickClock::SleepTicks(int ticks)
{
    if (ticks <= 0) return;
    if (timerFd_ < 0) {
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        wake.start(ticks);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        return;
    }
    // The clock's own tick boundary: the tick count changes exactly there.
    const qint64 target = (MonotonicNs() / 1'000'000 + ticks) * 1'000'000;
    itimerspec alarm{};
    alarm.it_value.tv_sec = time_t(target / 1'000'000'000);
    alarm.it_value.tv_nsec = long(target % 1'000'000'000);
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &alarm, nullptr);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    const itimerspec off{};
    timerfd_settime(timerFd_, 0, &off, nullptr);
}
