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

    // Sessions joining and leaving (a station's modules come and go); a
    // session must be removed before it is destroyed.
    void Add(PortSession* session);
    void Remove(PortSession* session);

    // Takes the lines away, so what is printed next starts on a clean line;
    // they come back at the next redraw.
    void Clear();
    // Takes the lines away for good.
    void Finish();

private:
    void Draw();
    QVector<PortSession*> sessions_;
    QTimer timer_;
    bool enabled_ = false;
    int drawn_ = 0;    // lines on screen
    QByteArray shown_;  // what they say
};
