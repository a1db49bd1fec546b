#pragma once
// One progress line per port on standard error while the sessions run,
// redrawn in place; only on a terminal.

#include <QObject>
#include <QTimer>
#include <QVector>

class PortSession;

class ProgressDisplay : public QObject {
public:
    ProgressDisplay(const QVector<PortSession*>& sessions, bool enabled);
    ~ProgressDisplay() override;

    // Takes the lines away again, so what follows starts on a clean line.
    void Finish();

private:
    void Draw();
    QVector<PortSession*> sessions_;
    QTimer timer_;
    bool drawn_ = false;
    QByteArray shown_;  // the lines on screen
};
