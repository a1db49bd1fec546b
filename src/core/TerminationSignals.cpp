#include "core/TerminationSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A signal handler may only write; it writes one byte into the first end and
// the event loop reads the second. A static because the handler has no other
// way to find it; one process, one pair.
int g_signalPipe[2] = {-1, -1};
constexpr int kWriteEnd = 0;
constexpr int kReadEnd = 1;

void OnSignal(int signalNumber)
{
    const int saved = errno;  // the interrupted code may be about to look at it
    const char byte = char(signalNumber);  // every signal number fits
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[kWriteEnd], &byte, 1);
    errno = saved;
}

void SetAction(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}
}  // namespace

void IgnoreWriteFailureSignals()
{
    SetAction(SIGXFSZ, SIG_IGN);
    SetAction(SIGPIPE, SIG_IGN);
}

TerminationSignals::TerminationSignals(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal,
                                       QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal))
{
    if (g_signalPipe[kWriteEnd] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    // A burst of signals must never block the handler on a full buffer.
    ::fcntl(g_signalPipe[kWriteEnd], F_SETFL, O_NONBLOCK);
    notifier_ = new QSocketNotifier(g_signalPipe[kReadEnd], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        const ssize_t n = ::read(g_signalPipe[kReadEnd], buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i)
            if (onSignal_) onSignal_(buffer[i]);
    });
    for (int s : signalNumbers) {
        SetAction(s, OnSignal);
        caught_ << s;
    }
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_) return;
    for (int s : caught_) SetAction(s, SIG_DFL);
    delete notifier_;
    notifier_ = nullptr;
    ::close(g_signalPipe[kWriteEnd]);
    ::close(g_signalPipe[kReadEnd]);
    g_signalPipe[kWriteEnd] = g_signalPipe[kReadEnd] = -1;
}
