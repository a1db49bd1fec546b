#pragma once
// One port's run of a module command, on a thread of its own: its own serial
// library, table and module link (paced by the thread's event loop), the port
// opened at the job's rate, the command carried out by the link as the
// window's buttons have it done, the port closed again. Sessions on several
// ports run at once and share nothing but the interrupt they all watch.

#include <QByteArray>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <atomic>

#include "CliCommand.h"
#include "PortTargets.h"
#include "config/TableCsv.h"
#include "core/PortChoice.h"

// Exit statuses of the command line tool.
namespace ExitStatus {
constexpr int Done = 0;
constexpr int Differences = 1;
constexpr int Usage = 2;
constexpr int PortFailed = 3;  // could not be opened, or was lost
constexpr int BadFile = 4;
constexpr int NoAnswer = 5;
constexpr int Unclear = 6;  // the module's answers were not clear: a read could not confirm every code
// An interrupt by signal s gives 128 + s (Ctrl+C: 130).
}  // namespace ExitStatus

struct PortJob {
    Verb verb = Verb::Read;
    PortTarget target;
    QVector<PortEntry> portList;  // the window's list: what a COM<n> beyond it is told, the device's serial number
    int baud = kDefaultRate;
    int newRate = 0;
    QString hex;
    TableCodes file;  // write, verify
    QString output;   // read: the file to write; empty: CSV into PortOutcome::standardOutput
    bool backup = false;  // --backup: an output there keeps its previous content as .bak
    bool once = false;              // read, verify: one dump is enough when it marks no code doubtful
    bool verifyAfterWrite = false;  // write: read back and compare, as verify does
};

// A code that verify found different in the module.
struct CodeDifference {
    int row = 0;
    QString title;     // the row's title, the file's when it has one
    int column = 0;    // TableLayout::kOnColumn or kOffColumn
    QString inFile;    // the code in its canonical form; empty for an empty cell
    QString inModule;  // likewise
};

struct PortOutcome {
    int status = ExitStatus::Done;
    QString summary;  // one line, without the port's name
    int codes = 0;    // how many were read, written or compared
    QVector<CodeDifference> differences;
    QByteArray standardOutput;
    double seconds = 0;  // from the start of the session to its end
};

// What the progress line shows; written by the session, read by anyone.
struct PortProgress {
    enum Phase { Waiting, Opening, Writing, Reading, Sending, Finished };
    std::atomic<int> phase{Waiting};
    std::atomic<int> done{0};   // codes sent or received so far
    std::atomic<int> total{0};  // codes to send; 0 when not known (a read)
    std::atomic<int> position{0};  // a read: where the window's progress bar stands (0 … 100)
};

class PortSession : public QThread {
public:
    // `interrupt` holds the number of a signal that asked everything to stop, 0 while none has.
    PortSession(PortJob job, const std::atomic<int>& interrupt, QObject* parent = nullptr);

    const PortJob& Job() const { return job_; }
    // Valid once the thread has finished.
    const PortOutcome& Outcome() const { return outcome_; }
    PortProgress progress;

protected:
    void run() override;

private:
    PortJob job_;
    const std::atomic<int>& interrupt_;
    PortOutcome outcome_;
};
