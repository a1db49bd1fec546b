#include "LoopPacing.h"

#include <QCoreApplication>

LoopPacing::LoopPacing(std::function<void()> tick) : tick_(std::move(tick))
{
    // A coarse timer would stretch the receive tick's 10 ms.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick_(); });
}

void LoopPacing::Pump(int waitMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (waitMs > 0) clock_.SleepTicks(waitMs);
}

void LoopPacing::SetReceiveInterval(int ms)
{
    ms = qMax(0, ms);
    if (ms == interval_) return;
    interval_ = ms;
    timer_.stop();
    if (ms > 0) timer_.start(ms);
}
