#pragma once
// A module of our own on a pseudo-terminal, written apart from velmora-sim so
// the program is also tried against a far end it was not built with. It
// echoes the enter and exit frames and answers a read request with a dump of
// CodeFor in the cells it holds, each answer written whole, so that a busy
// machine cannot stall one halfway. It can pace its records, send them back
// to back, or stay silent.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#include "ProgramRig.h"
#include "tests/support/RawPty.h"

class PtyModule {
public:
    struct Manner {
        int rate = 9600;         // the rate the program opens the port at
        int paceMs = 20;         // quiet before each answer of a dump
        bool silent = false;     // hears everything, answers nothing
        QList<Cell> cells = AllCells();  // the cells it holds CodeFor in
    };

    // The module's end of a new pseudo-terminal, named by a symbolic link at `link`.
    PtyModule(const QString& link, const Manner& manner) : link_(link), manner_(manner)
    {
        master_ = OpenRawPty(device_);
        if (master_ < 0) return;
        // Held open so the line stays up while the program has its end closed.
        slave_ = ::open(device_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QFile::remove(link_);
        if (!QFile::link(device_, link_)) return;
        thread_ = std::thread([this] { Run(); });
    }

    ~PtyModule()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
        QFile::remove(link_);
    }

    bool Ready() const { return thread_.joinable(); }
    // Everything the line held has been read and heard as frames. Once the
    // program has closed its end, nothing more comes after that.
    bool Drained() const
    {
        int waiting = 0;
        return idle_ && ::ioctl(master_, FIONREAD, &waiting) == 0 && waiting == 0;
    }
    // Every frame heard, as spaced hex, in order.
    QStringList Heard() const
    {
        std::lock_guard lock(mutex_);
        return heard_;
    }

private:
    using Clock = std::chrono::steady_clock;

    void Run()
    {
        QByteArray in;
        Clock::time_point lastByte = Clock::now();
        while (!stop_) {
            pollfd pfd{master_, POLLIN, 0};
            const bool readable = ::poll(&pfd, 1, 5) > 0 && (pfd.revents & POLLIN);
            if (readable) {
                idle_ = false;
                char buffer[512];
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    in.append(buffer, int(n));
                    lastByte = Clock::now();
                }
            }
            // Control frames are known by their shape; records and learn
            // reports end where one begins, or where the program went quiet.
            const QByteArray control = QByteArray::fromHex("FD666666");
            const bool quiet = Clock::now() - lastByte > std::chrono::milliseconds(20);
            while (!in.isEmpty()) {
                QByteArray frame;
                const qsizetype next = in.indexOf(control, 1);
                if (in.startsWith(control) && in.size() >= 9) frame = in.left(9);
                else if (!in.startsWith(control) && next > 0) frame = in.left(next);
                else if (quiet) frame = in;
                else break;
                in.remove(0, frame.size());
                OnFrame(frame);
            }
            if (!readable && in.isEmpty()) idle_ = true;
        }
    }

    void OnFrame(const QByteArray& frame)
    {
        {
            std::lock_guard lock(mutex_);
            heard_ << QString::fromLatin1(frame.toHex(' ').toUpper());
        }
        if (manner_.silent) return;
        if (frame == QByteArray::fromHex("FD66666666AAAAAABF") || frame == QByteArray::fromHex("FD66666666AAAABBBF"))
            Answer(frame, 0);
        else if (frame == QByteArray::fromHex("FD66666666AAABDDBF"))
            Dump();
    }

    void Dump()
    {
        Answer(QByteArray::fromHex("FD66666666AAABDDBF"), manner_.paceMs);
        for (int row : DumpRows())
            for (int column : {1, 2}) {
                if (stop_) return;
                if (!manner_.cells.contains(Cell{row, column})) continue;
                Answer(QByteArray::fromHex("F4F7") + char(row) + char(column) + CodeFor(row, column), manner_.paceMs);
            }
        Answer(QByteArray::fromHex("FD66666666AAABDEBF"), manner_.paceMs);
    }

    void Answer(const QByteArray& bytes, int quietMs)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(quietMs));
        for (qsizetype written = 0; written < bytes.size() && !stop_;) {
            const ssize_t n = ::write(master_, bytes.constData() + written, size_t(bytes.size() - written));
            if (n > 0) written += n;
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));  // full: the program reads later
        }
    }

    QString link_;
    Manner manner_;
    QString device_;
    int master_ = -1;
    int slave_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> idle_{false};  // the last look found the line empty and nothing held
    mutable std::mutex mutex_;
    QStringList heard_;
    std::thread thread_;
};
