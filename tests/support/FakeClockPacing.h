#pragma once
// The module link's pacing at the fake clock of FakeUiServices: a pause
// moves the clock on, and every pause ends with the receive timer's tick.

#include <functional>

#include "protocol/LinkPacing.h"
#include "tests/support/FakeUiServices.h"

class FakeClockPacing : public LinkPacing {
public:
    explicit FakeClockPacing(FakeUiServices& ui) : ui_(ui) {}
    std::function<void()> tick;

    quint32 Now() const override { return ui_.clock; }
    void Pump(int waitMs) override
    {
        ui_.DeliverMessages(waitMs);
        if (tick) tick();
    }
    void SetReceiveInterval(int) override {}

private:
    FakeUiServices& ui_;
};
