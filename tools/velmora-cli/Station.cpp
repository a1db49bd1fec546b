#include "Station.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <map>
#include <memory>
#include <unistd.h>

#include "CliCommand.h"
#include "Console.h"
#include "DeviceWatch.h"
#include "PortResult.h"
#include "PortSession.h"
#include "ProgressDisplay.h"
#include "ReportFile.h"
#include "core/TerminationSignals.h"
#include "serial/PortDirectory.h"

namespace {

class Station {
public:
    Station(const CliCommand& c, const PortJob& base)
        : c_(c), base_(base), watch_(c.watchDir), display_({}, !c.quiet && ::isatty(STDERR_FILENO))
    {
    }

    int Run()
    {
        if (c_.watchDirGiven && !QFileInfo(c_.watchDir).isDir())
            return UsageError(QStringLiteral("--watch-dir %1: not a folder").arg(c_.watchDir), VerbName(c_.verb));
        QString error;
        if (!c_.report.isEmpty() && !report_.Open(c_.report, &error)) {
            Err(error + QStringLiteral("; no module was started"));
            return ExitStatus::BadFile;
        }

        // Ctrl+C (or SIGTERM, SIGHUP): running modules stop at a safe point,
        // no new one starts; a second one ends the process at once.
        TerminationSignals stopSignals({SIGINT, SIGTERM, SIGHUP}, [this](int signalNumber) {
            if (interrupt_.load() != 0) std::_Exit(128 + signalNumber);
            interrupt_ = signalNumber;
            display_.Clear();
            Err(running_.empty() ? QStringLiteral("interrupted")
                                 : QStringLiteral("interrupted: %1 running module(s) stop after the current frame (again to quit at once)")
                                       .arg(running_.size()));
            EndWhenIdle();
        });

        watch_.onAppeared = [this](const QString& entry) { Appeared(entry); };
        watch_.onGone = [this](const QString& entry) { cameBack_.remove(entry); };
        const QStringList present = watch_.Start();
        if (!c_.quiet) {
            QString text = QStringLiteral("provision: waiting for modules in %1").arg(c_.watchDir);
            if (!present.isEmpty())
                text += QStringLiteral("; the %1 device(s) there now are left alone until plugged in again").arg(present.size());
            Err(text + (c_.count > 0 ? QStringLiteral("; ends after %1 module(s)").arg(c_.count) : QStringLiteral("; Ctrl+C ends")),
                false);
        }
        loop_.exec();
        display_.Finish();

        if (interrupt_.load() != 0) return 128 + interrupt_.load();
        if (reportFailed_ || outputFailed_) return ExitStatus::BadFile;
        return failed_ > 0 ? ExitStatus::Differences : ExitStatus::Done;
    }

private:
    bool Stopping() const
    {
        return interrupt_.load() != 0 || reportFailed_ || outputFailed_ || (c_.count > 0 && started_ >= c_.count);
    }

    void EndWhenIdle()
    {
        if (Stopping() && running_.empty()) loop_.quit();
    }

    void Appeared(const QString& entry)
    {
        if (Stopping()) return;
        // Plugged in again before its run noticed it had gone: once that run ends.
        if (running_.count(entry)) {
            cameBack_.insert(entry);
            return;
        }
        ++started_;
        // write --verify on the module's port: the write, then the confirmed read-back.
        PortJob job = base_;
        job.verb = Verb::Write;
        job.verifyAfterWrite = true;
        // Listed afresh, so the adapter's serial number is known.
        job.portList = DiscoverSerialDevices();
        job.target.name = entry;
        job.target.device = entry;
        job.target.label = QFileInfo(entry).fileName();
        auto owned = std::make_unique<PortSession>(std::move(job), interrupt_);
        PortSession* session = owned.get();
        running_[entry] = std::move(owned);
        QObject::connect(session, &QThread::finished, &loop_, [this, entry] { Ended(entry); });
        display_.Add(session);
        session->start();
    }

    // The module's line: on standard output and, with --report, on disk.
    void Ended(const QString& entry)
    {
        const std::unique_ptr<PortSession> session = std::move(running_.at(entry));
        running_.erase(entry);
        session->wait();
        display_.Remove(session.get());
        const PortJob& job = session->Job();
        const PortOutcome& outcome = session->Outcome();
        PortResultFacts facts = ResultFactsOf(job);
        facts.command = VerbName(Verb::Provision);
        const QByteArray json = JsonResultLine(facts, outcome);
        const bool passed = outcome.status == ExitStatus::Done;
        display_.Clear();
        // A line that cannot be shown (standard output gone) stops the
        // station as a lost report line does: Out has said why.
        if (c_.json) {
            outputFailed_ |= !Out(json);
        } else {
            QString device = facts.device;
            if (!facts.serial.isEmpty()) device += QStringLiteral(", serial ") + facts.serial;
            const QString status = passed ? QString() : QStringLiteral(" (status %1)").arg(outcome.status);
            outputFailed_ |= !Out(QStringLiteral("%1 %2 (%3): %4%5 [%6 s]\n")
                    .arg(passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"), job.target.label, device, outcome.summary, status)
                    .arg(outcome.seconds, 0, 'f', 1)
                    .toUtf8());
            for (const CodeDifference& d : outcome.differences) Err(job.target.label + QLatin1Char('\t') + DifferenceText(d), false);
        }
        QString error;
        if (report_.IsOpen() && !reportFailed_ && !report_.Append(json, &error)) {
            Err(error + QStringLiteral("; the line of %1 is not in the report, and no more modules are started").arg(job.target.label));
            reportFailed_ = true;
        }
        if (!passed) ++failed_;

        if (cameBack_.remove(entry)) Appeared(entry);
        EndWhenIdle();
    }

    const CliCommand& c_;
    const PortJob& base_;
    std::atomic<int> interrupt_{0};
    DeviceWatch watch_;
    ProgressDisplay display_;
    ReportFile report_;
    QEventLoop loop_;
    std::map<QString, std::unique_ptr<PortSession>> running_;  // by watched entry
    QSet<QString> cameBack_;  // entries that came back while their run still went on
    int started_ = 0;
    int failed_ = 0;
    bool reportFailed_ = false;
    bool outputFailed_ = false;
};

}  // namespace

int RunStation(const CliCommand& c, const PortJob& base)
{
    Station station(c, base);
    return station.Run();
}
