#pragma once
// A module of the simplest kind on a pseudo-terminal, for tests that run the
// programs as processes: it keeps every byte written to it and, unless told
// to stay silent, echoes the enter and exit frames the moment they are whole,
// as the module does. Nothing else is ever answered.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

class PtyModule {
public:
    enum class Manner { Echoes, Silent };

    explicit PtyModule(Manner manner = Manner::Echoes) : manner_(manner)
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        termios raw{};
        tcgetattr(master_, &raw);
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
        path_ = QString::fromLocal8Bit(ptsname(master_));
        thread_ = std::thread([this] { Run(); });
    }

    ~PtyModule()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (master_ >= 0) ::close(master_);
    }

    PtyModule(const PtyModule&) = delete;
    PtyModule& operator=(const PtyModule&) = delete;

    // The device to name to the program; empty when no pseudo-terminal could be made.
    QString Path() const { return path_; }

    QByteArray Received()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }

    static QByteArray Enter() { return QByteArray::fromHex("FD66666666AAAAAABF"); }
    static QByteArray Exit() { return QByteArray::fromHex("FD66666666AAAABBBF"); }

private:
    void Run()
    {
        char buffer[4096];
        qsizetype next = 0;  // where the next frame to echo may begin
        while (!stop_) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0 || !(pfd.revents & POLLIN)) continue;
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) continue;
            std::lock_guard lock(mutex_);
            received_.append(buffer, n);
            if (manner_ == Manner::Silent) continue;
            // Echo each enter or exit frame once it is whole in the stream.
            qsizetype at = next;
            while (at + 9 <= received_.size()) {
                const QByteArray frame = received_.mid(at, 9);
                if (frame == Enter() || frame == Exit()) {
                    [[maybe_unused]] const ssize_t w = ::write(master_, frame.constData(), 9);
                    at += 9;
                } else {
                    ++at;
                }
            }
            next = at;
        }
    }

    Manner manner_;
    int master_ = -1;
    QString path_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    QByteArray received_;
    std::thread thread_;
};
