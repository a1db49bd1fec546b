#pragma once
// The module link's clock, pauses and receive timer for one port's session:
// the session thread's event loop, and a precise timer of that thread.

#include <QTimer>
#include <functional>

#include "core/TickClock.h"
#include "protocol/LinkPacing.h"

class LoopPacing : public LinkPacing {
public:
    // `tick` runs at every tick of the receive timer.
    explicit LoopPacing(std::function<void()> tick);

    quint32 Now() const override { return TickClock::Now(); }
    void Pump(int waitMs) override;
    void SetReceiveInterval(int ms) override;

private:
    std::function<void()> tick_;
    QTimer timer_;
    int interval_ = 0;
    TickClock clock_;
};
