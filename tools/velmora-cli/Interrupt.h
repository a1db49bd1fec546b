#pragma once
// Ctrl+C (and SIGTERM, SIGHUP) while a command runs: the first one is noted
// for the sessions to stop at a safe point and announced once; a second one
// of the same kind ends the process at once, as usual.

#include <QObject>
#include <atomic>

class QSocketNotifier;

class Interrupt : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; only one Interrupt may exist at a time.
    explicit Interrupt(QObject* parent = nullptr);
    ~Interrupt() override;

    // The signal's number once one came, 0 before.
    const std::atomic<int>& Signal() const;

Q_SIGNALS:
    // On the main thread, once, after the first signal.
    void arrived(int signal);

private:
    QSocketNotifier* notifier_ = nullptr;
};
