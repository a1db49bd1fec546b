#pragma once
// The simulator's end of the serial line: a pseudo-terminal it creates, or a
// real port. Outgoing bytes are queued as pieces, each after its own pause;
// on a pseudo-terminal they leave at the pace the line rate allows (a
// pseudo-terminal itself has no rate), so timing is as on a real wire.
//
// A writer thread, at real-time priority where the system allows it, keeps
// that timing: a module does not pause in the middle of an answer just
// because the machine running the simulator is busy.

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class SimLine : public QObject {
    Q_OBJECT
public:
    struct Piece {
        QByteArray bytes;
        int gapBeforeMs = 0;  // quiet time after the previous piece has left
        QString note;         // reported through sent() once the last byte left
        bool hangUp = false;  // instead of bytes: drop the line here
    };

    explicit SimLine(QObject* parent = nullptr);
    ~SimLine() override;

    // Creates a pseudo-terminal; with a link path, a symbolic link there names
    // it (and keeps naming the new one after a hang-up).
    bool OpenPty(const QString& linkPath, QString* error);
    // A real serial port, 8 data bits, no parity, 1 stop bit at Rate().
    bool OpenPort(const QString& device, QString* error);
    // The name to give the program: the link, the slave device or the port.
    QString Path() const;
    QString DevicePath() const { return device_; }

    // The module's own line rate (a real port is switched to it).
    void SetRate(int rate);
    int Rate() const { return rate_; }
    // The rate the program set on its end of a pseudo-terminal; 0 if unknown.
    int FarEndRate() const;
    // What a receiver at `heardAt` makes of bytes sent at `sentAt`: each byte's
    // bits sampled in the wrong places, so other bytes, more of them at a faster
    // receiver and fewer at a slower one. The bytes themselves at the same rate.
    static QByteArray AsHeardAt(const QByteArray& bytes, int sentAt, int heardAt);
    // Whether bytes leave at the line rate (on by default on a pseudo-terminal).
    void SetWireTime(bool on);
    // How long the line stays down after a hang-up piece.
    void SetHangUpTime(int ms) { hangUpMs_ = ms; }
    // Whether the writer got real-time priority.
    bool RealTime() const { return realTime_; }

    void Send(const Piece& piece);

Q_SIGNALS:
    void received(const QByteArray& bytes);
    // `atUs`: monotonic microseconds when the piece's last byte was written.
    void sent(const QString& note, qint64 atUs);
    void hungUp();
    void lineBack(const QString& path);

private:
    void WriterLoop();
    void ReadLine();
    void HangUp();
    void CloseLine();
    bool MakePty(QString* error);
    bool ApplyPortSettings();

    QString link_;
    QString device_;
    bool realPort_ = false;
    int slave_ = -1;  // held open so the line stays up while the program is away
    std::unique_ptr<QSocketNotifier> notifier_;
    int rate_ = 9600;
    int hangUpMs_ = 1000;
    bool realTime_ = false;

    // Shared with the writer thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    int fd_ = -1;
    bool wireTime_ = true;
    int writerRate_ = 9600;
    std::deque<Piece> queue_;
    qint64 lastEndNs_ = 0;
    unsigned generation_ = 0;  // bumped when the queue is thrown away
    bool stop_ = false;
    std::thread writer_;
};
