#include "ProgressDisplay.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

#include "PortSession.h"

namespace {

QString Line(const PortSession& session)
{
    const PortProgress& p = session.progress;
    const int done = p.done, total = p.total;
    QString what;
    switch (p.phase.load()) {
    case PortProgress::Waiting: what = QStringLiteral("waiting"); break;
    case PortProgress::Opening: what = QStringLiteral("opening the port"); break;
    case PortProgress::Writing: what = QStringLiteral("writing  %1/%2 codes sent").arg(done).arg(total); break;
    case PortProgress::Reading:
        // Where the window's bar stands: the dump's position, 0 to 100.
        what = QStringLiteral("reading  %1% of the dump, %2 codes received").arg(p.position.load(), 3).arg(done);
        break;
    case PortProgress::Sending: what = QStringLiteral("sending"); break;
    default: what = QStringLiteral("done"); break;
    }
    return session.Job().target.label.leftJustified(14) + QLatin1Char(' ') + what;
}

}  // namespace

ProgressDisplay::ProgressDisplay(const QVector<PortSession*>& sessions, bool enabled)
    : sessions_(sessions), enabled_(enabled)
{
    if (!enabled_) return;
    connect(&timer_, &QTimer::timeout, this, [this] { Draw(); });
    timer_.start(100);
    Draw();
}

ProgressDisplay::~ProgressDisplay() { Finish(); }

void ProgressDisplay::Add(PortSession* session)
{
    sessions_ << session;
}

void ProgressDisplay::Remove(PortSession* session)
{
    sessions_.removeAll(session);
}

void ProgressDisplay::Draw()
{
    // A line wider than the terminal would wrap and take two rows; the
    // redraw counts one per session.
    winsize size{};
    const int width = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    QByteArray lines;
    for (const PortSession* s : sessions_) lines += "\r\x1b[2K" + Line(*s).left(width).toUtf8() + '\n';
    if (drawn_ == sessions_.size() && lines == shown_) return;
    // Back to the first line, then each line rewritten from its start; lines
    // left over from more sessions are emptied.
    QByteArray out;
    if (drawn_ > 0) out += "\x1b[" + QByteArray::number(drawn_) + 'A';
    out += lines;
    const int extra = drawn_ - int(sessions_.size());
    for (int i = 0; i < extra; ++i) out += "\r\x1b[2K\n";
    if (extra > 0) out += "\x1b[" + QByteArray::number(extra) + 'A';
    std::fputs(out.constData(), stderr);
    std::fflush(stderr);
    shown_ = lines;
    drawn_ = int(sessions_.size());
}

void ProgressDisplay::Clear()
{
    if (drawn_ == 0) return;
    QByteArray out = "\x1b[" + QByteArray::number(drawn_) + 'A';
    for (int i = 0; i < drawn_; ++i) out += "\r\x1b[2K\n";
    out += "\x1b[" + QByteArray::number(drawn_) + 'A';
    std::fputs(out.constData(), stderr);
    std::fflush(stderr);
    drawn_ = 0;
    shown_.clear();
}

void ProgressDisplay::Finish()
{
    timer_.stop();
    Clear();
}
