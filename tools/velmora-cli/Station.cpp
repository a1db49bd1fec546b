#include "Station.h"

#include <QElapsedTimer>
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
    struct Module {
        QString entry;
        QElapsedTimer clock;
        std::unique_ptr<PortSession> session;
        int written = 0;  // codes the write sent
    };

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
        auto module = std::make_unique<Module>();
        module->entry = entry;
        module->clock.start();
        ++started_;
        Module& m = *module;
        running_[entry] = std::move(module);
        StartStep(m, Verb::Write);
    }

    // The module's next run on its port: the write, then the read-back.
    void StartStep(Module& m, Verb verb)
    {
        PortJob job = base_;
        job.verb = verb;
        // Listed afresh, so the adapter's serial number is known.
        job.portList = DiscoverSerialDevices();
        job.target.name = m.entry;
        job.target.device = m.entry;
        job.target.label = QFileInfo(m.entry).fileName();
        m.session = std::make_unique<PortSession>(std::move(job), interrupt_);
        QObject::connect(m.session.get(), &QThread::finished, &loop_, [this, entry = m.entry] { StepEnded(entry); });
        display_.Add(m.session.get());
        m.session->start();
    }

    void StepEnded(const QString& entry)
    {
        Module& m = *running_.at(entry);
        m.session->wait();
        display_.Remove(m.session.get());
        const PortJob job = m.session->Job();
        PortOutcome outcome = m.session->Outcome();
        m.session.reset();
        if (job.verb == Verb::Write) {
            m.written = outcome.codes;
            if (outcome.status == ExitStatus::Done) {
                if (interrupt_.load() == 0) {
                    StartStep(m, Verb::Verify);
                    return;
                }
                outcome.status = 128 + interrupt_.load();
                outcome.summary += QStringLiteral("; interrupted before the read-back");
            }
        } else {
            outcome.summary = QStringLiteral("wrote %1 codes; ").arg(m.written) + outcome.summary;
        }
        outcome.seconds = double(m.clock.nsecsElapsed()) / 1e9;
        Done(m, job, outcome);
    }

    // The module's line: on standard output and, with --report, on disk.
    void Done(const Module& m, const PortJob& job, const PortOutcome& outcome)
    {
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
            outputFailed_ |= !Out(QStringLiteral("%1 %2 (%3): %4 [%5 s]\n")
                    .arg(passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"), job.target.label, device, outcome.summary)
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

        const QString entry = m.entry;
        running_.erase(entry);
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
    std::map<QString, std::unique_ptr<Module>> running_;
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
