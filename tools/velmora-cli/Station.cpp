#include "Station.h"

#include <QEventLoop>
#include <QFileInfo>
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

        watch_.onReady = [this](const WatchedDevice& device) { Begin(device); };
        const int present = watch_.Start();
        if (!c_.quiet) {
            QString text = QStringLiteral("provision: waiting for modules in %1").arg(c_.watchDir);
            if (present > 0) text += QStringLiteral("; the %1 device(s) there now are left alone until plugged in again").arg(present);
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

    // One run per device: the watch hands out each device once per coming.
    void Begin(const WatchedDevice& device)
    {
        if (Stopping()) return;
        ++started_;
        // write --verify on the module's port: the write, then the confirmed read-back.
        PortJob job = base_;
        job.verb = Verb::Write;
        job.verifyAfterWrite = true;
        // Listed afresh, so the adapter's serial number is known.
        job.portList = DiscoverSerialDevices();
        // The device file the entry leads to now is the one the run opens and
        // reports, wherever the entry leads later.
        job.target.name = device.entry;
        job.target.device = device.node;
        job.target.label = QFileInfo(device.entry).fileName();
        auto owned = std::make_unique<PortSession>(std::move(job), interrupt_);
        PortSession* session = owned.get();
        running_[device.number] = std::move(owned);
        QObject::connect(session, &QThread::finished, &loop_, [this, number = device.number] { Ended(number); });
        display_.Add(session);
        session->start();
    }

    // The module's line: on standard output and, with --report, on disk.
    void Ended(dev_t number)
    {
        const std::unique_ptr<PortSession> session = std::move(running_.at(number));
        running_.erase(number);
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
        // After a failed line the others are still tried: each is there whole, or said to be missing.
        if (report_.IsOpen() && !report_.Append(json, &error)) {
            Err(error + QStringLiteral("; the line of %1 is not in the report, and no more modules are started").arg(job.target.label));
            reportFailed_ = true;
        }
        if (!passed) ++failed_;

        // A device that went and came back during the run starts again here.
        watch_.Release(number);
        EndWhenIdle();
    }

    const CliCommand& c_;
    const PortJob& base_;
    std::atomic<int> interrupt_{0};
    DeviceWatch watch_;
    ProgressDisplay display_;
    ReportFile report_;
    QEventLoop loop_;
    std::map<dev_t, std::unique_ptr<PortSession>> running_;  // by device number
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
