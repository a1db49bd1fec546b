#pragma once
// A recording serial library: offers the seven sio_* functions of
// "\DLL\PCOMM.DLL" (minus any listed in `missing`), records every call and
// every write (as spaced hex with the fake clock's time), and hands out bytes
// that a test queued as the module's answer: either one queued chunk per
// sio_iqueue, or, with `notesArrivals`, bytes stamped with the fake clock's
// time they arrive, handed over by ReadArrivals as the built-in provider does.
// `deviceGone` plays a device that went away.

#include <QByteArray>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <deque>
#include <functional>

#include "serial/SerialLibrary.h"
#include "tests/support/FakeUiServices.h"

class FakeSerialProvider : public LibraryProvider {
public:
    struct Write {
        int port;
        QByteArray bytes;
        quint32 at;  // fake clock when written
    };

    explicit FakeSerialProvider(FakeUiServices* ui = nullptr) : ui_(ui) {}

    QSet<QString> missing;          // function names this provider does not offer
    mutable QStringList asked;      // every function the library asked this provider for
    QStringList calls;              // "sio_open(3)", "sio_ioctl(3,16,3)", …
    QVector<Write> writes;
    int openResult = 0;             // what sio_open answers
    int writeResult = -2;           // <0 … when set >=0 it overrides the count; -2 = honest count
    bool portIsOpen = false;
    std::deque<QByteArray> incoming;  // each entry becomes readable at the next sio_iqueue
    bool deviceGone = false;          // once set: writes fail, reads give what was left, then DeviceGone

    struct Arrival {
        quint32 at;  // fake clock
        QByteArray bytes;
    };
    bool notesArrivals = false;
    std::deque<Arrival> line;  // in time order; readable once the clock reaches `at`
    // Every write comes back on the line (a loopback); with `echoesEnter`, a module behind it echoes the enter frame too.
    bool sendsBack = false, echoesEnter = false;
    // Runs after every write that went out, with its bytes: a module of the test's own answers here.
    std::function<void(const QByteArray&)> onWrite;
    // Bytes arriving on the line at fake time `at`.
    void ArriveAt(quint32 at, const QByteArray& bytes)
    {
        notesArrivals = true;
        line.push_back({at, bytes});
    }

    bool Offers(const QString& libraryFile, const QString& function) const override
    {
        asked << function;
        return libraryFile == QStringLiteral("\\DLL\\PCOMM.DLL") && function.startsWith(QStringLiteral("sio_"))
            && !missing.contains(function);
    }

    int sio_open(int port) override
    {
        calls << QStringLiteral("sio_open(%1)").arg(port);
        if (openResult == 0) portIsOpen = true;
        return openResult;
    }
    int sio_ioctl(int port, int baud, int mode) override
    {
        calls << QStringLiteral("sio_ioctl(%1,%2,%3)").arg(port).arg(baud).arg(mode);
        return 0;
    }
    int sio_SetReadTimeouts(int port, int total, int interval) override
    {
        calls << QStringLiteral("sio_SetReadTimeouts(%1,%2,%3)").arg(port).arg(total).arg(interval);
        return 0;
    }
    int sio_close(int port) override
    {
        calls << QStringLiteral("sio_close(%1)").arg(port);
        portIsOpen = false;
        pending_.clear();
        incoming.clear();
        return 0;
    }
    int sio_write(int port, const char* data, int len) override
    {
        const QByteArray bytes(data, len);
        calls << QStringLiteral("sio_write(%1,%2)").arg(port).arg(len);
        if (deviceGone) return SioResult::DeviceGone;
        writes.push_back({port, bytes, ui_ ? ui_->clock : 0});
        if (sendsBack) ArriveAt(writes.last().at, bytes);
        if (echoesEnter && bytes == QByteArray::fromHex("FD66666666AAAAAABF")) ArriveAt(writes.last().at + 5, bytes);
        if (ui_) ui_->timeline << QStringLiteral("write ") + Spaced(bytes);
        if (onWrite) onWrite(bytes);
        if (writeResult != -2) return writeResult;
        return portIsOpen ? len : -1;
    }
    int sio_iqueue(int port) override
    {
        Q_UNUSED(port);
        if (!incoming.empty()) {
            pending_ += incoming.front();
            incoming.pop_front();
        }
        if (pending_.isEmpty() && deviceGone) return SioResult::DeviceGone;
        return int(pending_.size());
    }
    int ReadArrivals(int port, QVector<ArrivalRun>& runs) override
    {
        Q_UNUSED(port);
        if (!notesArrivals) return kArrivalsUnknown;
        const quint32 now = ui_ ? ui_->clock : 0;
        int count = 0;
        while (!line.empty() && qint32(now - line.front().at) >= 0) {
            const int age = int(now - line.front().at);
            runs.push_back(ArrivalRun{line.front().bytes, age, age});
            count += int(line.front().bytes.size());
            line.pop_front();
        }
        if (count == 0 && deviceGone) return SioResult::DeviceGone;
        return count;
    }
    int sio_read(int port, char* buffer, int len) override
    {
        Q_UNUSED(port);
        const int n = qMin(len, int(pending_.size()));
        memcpy(buffer, pending_.constData(), size_t(n));
        pending_.remove(0, n);
        return n;
    }

    // Every write as spaced upper-case hex ("FD 66 … BF"), in order.
    QStringList WrittenHex() const
    {
        QStringList out;
        for (const Write& w : writes) out << Spaced(w.bytes);
        return out;
    }

    static QString Spaced(const QByteArray& bytes)
    {
        return QString::fromLatin1(bytes.toHex(' ').toUpper());
    }

private:
    FakeUiServices* ui_;
    QByteArray pending_;
};
