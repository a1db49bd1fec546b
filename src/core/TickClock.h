#pragma once
// The program's millisecond tick (the monotonic clock, truncated to whole
// milliseconds) and a wake-up for the event loop that lands exactly where a
// given tick begins. Pauses end when the tick passes their deadline; waking on
// the tick's edge rather than a whole number of milliseconds after an
// arbitrary instant saves up to a millisecond on every pause.

#include <QObject>
#include <QtGlobal>

class QSocketNotifier;

class TickClock : public QObject {
    Q_OBJECT
public:
    explicit TickClock(QObject* parent = nullptr);
    ~TickClock() override;

    static quint32 Now();

    // Runs the event loop until a message arrives or the tick Now() + ticks
    // has begun, whichever is first. Never spins.
    void SleepTicks(int ticks);

private:
    int timerFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};
