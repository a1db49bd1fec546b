#include "Interrupt.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler can reach nothing but what lives at file scope; these two
// are all it touches.
std::atomic<int> received{0};
int wakeFds[2] = {-1, -1};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal)
{
    int none = 0;
    received.compare_exchange_strong(none, signal);
    // The next one of its kind ends the process the ordinary way.
    std::signal(signal, SIG_DFL);
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &b, 1);
}

}  // namespace

Interrupt::Interrupt(QObject* parent) : QObject(parent)
{
    received = 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeFds) != 0) wakeFds[0] = wakeFds[1] = -1;
    if (wakeFds[0] >= 0) {
        notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            char b[16];
            [[maybe_unused]] const ssize_t n = ::read(wakeFds[0], b, sizeof b);
            notifier_->setEnabled(false);  // announced once
            Q_EMIT arrived(received.load());
        });
    }
    for (int s : kSignals) std::signal(s, OnSignal);
}

Interrupt::~Interrupt()
{
    for (int s : kSignals) std::signal(s, SIG_DFL);
    delete notifier_;
    for (int& fd : wakeFds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

const std::atomic<int>& Interrupt::Signal() const { return received; }
