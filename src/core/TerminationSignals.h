#pragma once
// Signals that ask the process to end, turned into an ordinary event of the
// event loop, so the program can finish what it is doing and leave the normal
// way instead of dying mid-step. Used by the program and the module simulator.

#include <QObject>
#include <functional>
#include <QVector>
#include <initializer_list>

class QSocketNotifier;

// A write past the file-size limit, or into a pipe nobody reads any more,
// fails with an error the writer sees instead of ending the process
// (SIGXFSZ and SIGPIPE are ignored).
void IgnoreWriteFailureSignals();

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Catches `signalNumbers`; `onSignal` runs on the event loop once per signal
    // caught, with its number. One instance per process.
    TerminationSignals(std::initializer_list<int> signalNumbers, std::function<void(int signalNumber)> onSignal,
                       QObject* parent = nullptr);
    // Gives the signals back their default action.
    ~TerminationSignals() override;

private:
    std::function<void(int)> onSignal_;
    QVector<int> caught_;
    QSocketNotifier* notifier_ = nullptr;
};
