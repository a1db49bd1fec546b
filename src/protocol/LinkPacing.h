#pragma once
// The clock, the pauses and the receive timer a module link runs by. The
// window gives them with its message pump and its receive timer, velmora-cli
// with its thread's event loop, tests with a fake clock.

#include <QtGlobal>

class LinkPacing {
public:
    virtual ~LinkPacing() = default;
    // Monotonic milliseconds, wrapping as a 32-bit count.
    virtual quint32 Now() const = 0;
    // Delivers whatever is pending (receive ticks, clicks, boxes); with
    // waitMs > 0, sleeps until something arrives or waitMs have passed.
    virtual void Pump(int waitMs) = 0;
    // The receive timer's interval: its ticks run ModuleLink::ReceiveTick; 0 stops it.
    virtual void SetReceiveInterval(int ms) = 0;
    // True once whoever runs the link is going away: pauses end at once and
    // nothing more is written.
    virtual bool Ending() const { return false; }
};
