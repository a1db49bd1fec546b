#include "OutcomeWords.h"

#include <QStringList>

namespace {

// What to check when the module gave no answer the tool could use.
QString CheckTheLine() { return QStringLiteral("; check --baud (the module's rate), the port and the module's power"); }

// The module did not answer: what was seen, beginning with the module.
QString NoEcho(const ModuleOutcome& o)
{
    QString words = QStringLiteral("the module did not echo the enter frame within 1 s");
    if (o.lineLooped)
        words += QStringLiteral(" (the line sends back what it is sent: an adapter that hears its own sending, a loopback or a wiring fault)");
    return words;
}

void Say(PortOutcome& outcome, int status, const QString& summary)
{
    outcome.status = status;
    outcome.summary = summary;
}

}  // namespace

void WordShort(Verb verb, int newRate, const ModuleOutcome& o, int interrupted, PortOutcome& outcome)
{
    switch (o.kind) {
    case OutcomeKind::Done:
        Say(outcome, ExitStatus::Done,
            verb == Verb::Clear ? QStringLiteral("cleared")
                                : QStringLiteral("module rate set to %1 (use --baud %1 from now on)").arg(newRate));
        return;
    case OutcomeKind::Unsent: Say(outcome, interrupted, QStringLiteral("interrupted; nothing was sent")); return;
    case OutcomeKind::Stopped: Say(outcome, interrupted, QStringLiteral("interrupted")); return;
    case OutcomeKind::PortLost:
    case OutcomeKind::Ending: Say(outcome, ExitStatus::PortFailed, QStringLiteral("the port was lost")); return;
    case OutcomeKind::NoAnswer: Say(outcome, ExitStatus::NoAnswer, NoEcho(o) + CheckTheLine()); return;
    case OutcomeKind::Looped: Say(outcome, ExitStatus::NoAnswer, NoEcho(o)); return;
    case OutcomeKind::NotStarted:
    case OutcomeKind::ShortWrite:
    case OutcomeKind::Unclear:
    case OutcomeKind::Unconfirmed: break;
    }
    Say(outcome, ExitStatus::PortFailed, QStringLiteral("the operation did not start; nothing was sent"));
}

bool WordWrite(const ModuleOutcome& o, int interrupted, PortOutcome& outcome)
{
    const int sent = o.codesSent, total = o.codes;
    outcome.codes = sent;
    switch (o.kind) {
    case OutcomeKind::Done:
        outcome.codes = total;
        Say(outcome, ExitStatus::Done, QStringLiteral("wrote %1 codes").arg(total));
        return true;
    case OutcomeKind::Looped:
    case OutcomeKind::NoAnswer:
        outcome.codes = 0;
        Say(outcome, ExitStatus::NoAnswer,
            NoEcho(o)
                + (o.blocksHeld ? QStringLiteral("; only the exit frame followed, no code was sent")
                   : sent < total ? QStringLiteral("; stopped after %1 of %2 codes, the exit frame was sent").arg(sent).arg(total)
                                  : QString())
                + (o.kind == OutcomeKind::NoAnswer ? CheckTheLine() : QString()));
        return false;
    case OutcomeKind::Stopped:
        Say(outcome, interrupted,
            o.blocksHeld ? QStringLiteral("interrupted; only the exit frame followed, no code was sent")
                         : QStringLiteral("interrupted after %1 of %2 codes; the exit frame was sent").arg(sent).arg(total));
        return false;
    case OutcomeKind::PortLost:
    case OutcomeKind::Ending:
        Say(outcome, ExitStatus::PortFailed,
            QStringLiteral("the port was lost after %1 of %2 codes; the module may hold part of the table "
                           "and may still be in configuration mode: write again once it is back")
                .arg(sent)
                .arg(total));
        return false;
    case OutcomeKind::Unsent: Say(outcome, interrupted, QStringLiteral("interrupted; nothing was sent")); return false;
    case OutcomeKind::NotStarted:
    case OutcomeKind::ShortWrite:
    case OutcomeKind::Unclear:
    case OutcomeKind::Unconfirmed: break;
    }
    // Nothing else holds this link; the codes were checked before the port was opened.
    Say(outcome, ExitStatus::PortFailed, QStringLiteral("the upload did not start; nothing was sent"));
    return false;
}

void WordLearn(const ModuleOutcome& o, int interrupted, PortOutcome& outcome)
{
    switch (o.kind) {
    case OutcomeKind::Done: Say(outcome, ExitStatus::Done, QStringLiteral("learn report sent")); return;
    case OutcomeKind::Unsent: Say(outcome, interrupted, QStringLiteral("interrupted; nothing was sent")); return;
    case OutcomeKind::PortLost: Say(outcome, ExitStatus::PortFailed, QStringLiteral("the port was lost")); return;
    default: Say(outcome, ExitStatus::PortFailed, QStringLiteral("the learn report could not be written whole")); return;
    }
}

void WordReadFailure(const ReadOutcome& r, bool nothingWritten, int interrupted, PortOutcome& outcome)
{
    const QString nothing = nothingWritten ? QStringLiteral("; nothing was written") : QString();
    switch (r.kind) {
    case OutcomeKind::Unsent:
    case OutcomeKind::Stopped:
        Say(outcome, interrupted,
            QStringLiteral("interrupted") + nothing + (r.exitSent ? QStringLiteral("; the exit frame was sent") : QString()));
        return;
    case OutcomeKind::PortLost:
    case OutcomeKind::Ending:
    case OutcomeKind::NotStarted:
        Say(outcome, ExitStatus::PortFailed, QStringLiteral("the port was lost during the read") + nothing);
        return;
    case OutcomeKind::Unclear:
        Say(outcome, ExitStatus::Unclear,
            QStringLiteral("the module's answers were not clear: a dump end came with no dump start") + nothing + CheckTheLine());
        return;
    default:
        Say(outcome, ExitStatus::NoAnswer,
            (r.dumpStarted    ? QStringLiteral("the module stopped answering during the read")
             : r.dumpEndAlone ? QStringLiteral("the module answered the read with a dump end alone")
                              : QStringLiteral("the module did not answer the read request"))
                + nothing + CheckTheLine());
        return;
    }
}

QString WordUnclear(const ReadOutcome& r, const std::function<QString(const CellPosition&)>& name)
{
    const QVector<CellPosition>& cells = r.unconfirmed;
    constexpr int kNamed = 12;
    QStringList named;
    for (const CellPosition& c : cells.mid(0, kNamed)) named << name(c);
    if (cells.size() > kNamed) named << QStringLiteral("and %1 more").arg(cells.size() - kNamed);
    return QStringLiteral("the module's answers were not clear for %1 code%2 (%3); read again")
               .arg(cells.size())
               .arg(cells.size() == 1 ? QString() : QStringLiteral("s"))
               .arg(named.join(QStringLiteral(", ")))
        + (r.noisyLine ? QStringLiteral(" (the line is noisy: bytes that were no answer came in the dumps)") : QString())
        + CheckTheLine();
}
