#pragma once
// A module of the simplest kind on a pseudo-terminal, for tests that run the
// programs as processes: it keeps every byte written to it and, unless told
// to stay silent, echoes the enter and exit frames the moment they are whole,
// as the module does. Nothing else is ever answered.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "tests/support/RawPty.h"

class EchoModule {
public:
    enum class Manner { Echoes, Silent };

    using Clock = std::chrono::steady_clock;

    explicit EchoModule(Manner manner = Manner::Echoes) : manner_(manner)
    {
        master_ = OpenRawPty(path_, false);
        if (master_ >= 0) thread_ = std::thread([this] { Run(); });
    }

    ~EchoModule()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (master_ >= 0) ::close(master_);
    }

    EchoModule(const EchoModule&) = delete;
    EchoModule& operator=(const EchoModule&) = delete;

    // The device to name to the program; empty when no pseudo-terminal could be made.
    QString Path() const { return path_; }

    QByteArray Received()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }

    // Forgets what was received, so the next Span() starts afresh.
    void Clear()
    {
        std::lock_guard lock(mutex_);
        received_.clear();
        next_ = 0;
    }

    // When the first and the last byte since the start (or Clear()) arrived.
    std::pair<Clock::time_point, Clock::time_point> Span()
    {
        std::lock_guard lock(mutex_);
        return {first_, last_};
    }

    static QByteArray Enter() { return QByteArray::fromHex("FD66666666AAAAAABF"); }
    static QByteArray Exit() { return QByteArray::fromHex("FD66666666AAAABBBF"); }

private:
    void Run()
    {
        char buffer[4096];
        while (!stop_) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0) continue;
            if (!(pfd.revents & POLLIN)) {
                // Nobody has the device open yet (or any more): the master
                // reports a hang-up at once, so wait rather than spin.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) continue;
            const auto now = Clock::now();
            std::lock_guard lock(mutex_);
            if (received_.isEmpty()) first_ = now;
            last_ = now;
            received_.append(buffer, n);
            if (manner_ == Manner::Silent) continue;
            // Echo each enter or exit frame once it is whole in the stream.
            qsizetype at = next_;
            while (at + 9 <= received_.size()) {
                const QByteArray frame = received_.mid(at, 9);
                if (frame == Enter() || frame == Exit()) {
                    [[maybe_unused]] const ssize_t w = ::write(master_, frame.constData(), 9);
                    at += 9;
                } else {
                    ++at;
                }
            }
            next_ = at;
        }
    }

    Manner manner_;
    int master_ = -1;
    QString path_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    QByteArray received_;
    qsizetype next_ = 0;  // where the next frame to echo may begin
    Clock::time_point first_, last_;
    std::thread thread_;
};
