#pragma once
// SIGTERM and SIGINT, turned into an ordinary event of the window thread so
// the program can close its window the normal way instead of dying mid-step.

#include <QObject>
#include <functional>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; `onSignal` runs on the event loop, once per signal.
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;
    bool Installed() const { return notifier_ != nullptr; }

private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};
