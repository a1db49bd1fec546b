#pragma once
// The simulator's end of the serial line: a pseudo-terminal it creates, or a
// real port. Outgoing bytes are queued as pieces, each after its own pause;
// on a pseudo-terminal they leave at the pace the line rate allows (a
// pseudo-terminal itself has no rate), so timing is as on a real wire.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <deque>
#include <memory>

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
    bool OpenPort(const QString& device, QString* error);
    // The name to give the program: the link, the slave device or the port.
    QString Path() const;
    QString DevicePath() const { return device_; }

    // The module's own line rate.
    void SetRate(int rate);
    int Rate() const { return rate_; }
    // The rate the program set on its end of a pseudo-terminal; 0 if unknown.
    int FarEndRate() const;
    // Whether bytes leave at the line rate (on by default on a pseudo-terminal).
    void SetWireTime(bool on) { wireTime_ = on; }
    // How long the line stays down after a hang-up piece.
    void SetHangUpTime(int ms) { hangUpMs_ = ms; }

    void Send(const Piece& piece);
    bool Idle() const { return queue_.empty(); }

Q_SIGNALS:
    void received(const QByteArray& bytes);
    void sent(const QString& note);
    void hungUp();
    void lineBack(const QString& path);

private:
    void Pump();
    void ReadPty();
    qint64 WriteSome(const char* data, qint64 len);
    void HangUp();
    void ClosePty();
    bool MakePty(QString* error);

    QString link_;
    QString device_;
    int master_ = -1;
    int slave_ = -1;  // held open so the line stays up while the program is away
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QSerialPort> port_;
    int rate_ = 9600;
    bool wireTime_ = true;
    int hangUpMs_ = 1000;
    bool down_ = false;

    std::deque<Piece> queue_;
    QTimer pump_;
    QElapsedTimer clock_;
    qint64 lastEndNs_ = 0;  // when the previous piece's last byte left
    bool pieceStarted_ = false;
    qint64 pieceStartNs_ = 0;
    qint64 pieceSent_ = 0;
};
