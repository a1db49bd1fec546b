#include "ProgressDisplay.h"

#include <cstdio>

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
    return session.Job().target.name.leftJustified(14) + QLatin1Char(' ') + what;
}

}  // namespace

ProgressDisplay::ProgressDisplay(const QVector<PortSession*>& sessions, bool enabled) : sessions_(sessions)
{
    if (!enabled || sessions_.isEmpty()) return;
    connect(&timer_, &QTimer::timeout, this, [this] { Draw(); });
    timer_.start(100);
    Draw();
}

ProgressDisplay::~ProgressDisplay() { Finish(); }

void ProgressDisplay::Draw()
{
    QByteArray lines;
    for (const PortSession* s : sessions_) lines += "\r\x1b[2K" + Line(*s).toUtf8() + '\n';
    if (drawn_ && lines == shown_) return;
    shown_ = lines;
    // Back to the first line, then each line rewritten from its start.
    QByteArray out;
    if (drawn_) out += "\x1b[" + QByteArray::number(sessions_.size()) + 'A';
    out += lines;
    std::fputs(out.constData(), stderr);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressDisplay::Finish()
{
    timer_.stop();
    if (!drawn_) return;
    QByteArray out = "\x1b[" + QByteArray::number(sessions_.size()) + 'A';
    for (qsizetype i = 0; i < sessions_.size(); ++i) out += "\r\x1b[2K\n";
    out += "\x1b[" + QByteArray::number(sessions_.size()) + 'A';
    std::fputs(out.constData(), stderr);
    std::fflush(stderr);
    drawn_ = false;
}
