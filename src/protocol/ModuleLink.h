#pragma once
// The one way to the module, for the window and velmora-cli alike: the port,
// opened by the library's port number at a rate; the frames of every module
// operation with their pauses; and the receiving of the module's answers,
// whose read it owns (ModuleRead). It takes plain values, or functions asked
// for a value at the moment it is needed (the module's new rate once the
// enter frame's pause is over, each cell of an upload when its turn comes),
// and never reads a widget. What the module and the line did is told as
// events to whoever listens, in the order they began to listen.
//
// One operation holds the line at a time. Each takes a stop request: asked
// before its first frame (a stop then sends nothing) and after every pause
// once the enter frame went out (a stop then sends the exit frame and ends
// it). When whoever runs the link is going away (LinkPacing::Ending), pauses
// end at once and nothing more is written.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

#include "core/ModuleEvents.h"
#include "protocol/ModuleRead.h"
#include "serial/PortConnection.h"

class ConfigTable;
class LinkPacing;
class SerialLibrary;

// Asked by an operation where it may end early; true: stop there.
using StopRequest = std::function<bool()>;
// The text of a table cell, read when the upload comes to it.
using CellText = std::function<QString(int row, int column)>;

// How an operation ended.
enum class OperationEnd {
    NotStarted,   // another operation holds the line, or the link is ending (the learn report: or the port is closed)
    Unsent,       // stopped before its first frame: nothing went out
    Done,         // every frame went out (the learn report: every byte of it)
    Held,         // the upload's mayBeginBlocks said no: the enter and exit frames only
    Stopped,      // stopped after the enter frame: cut short, the exit frame sent
    Interrupted,  // the port was lost, or the link is ending: nothing more was written
    ShortWrite,   // the learn report went out short
    Looped,       // the upload: the line only sends back what it is sent, no module echoed (LineLooped); stopped, the exit frame sent
};

// What an upload asks as it goes, beside its stop request. Either may be left empty.
struct UploadGuard {
    // Asked once the enter frame's pause is over; false sends the exit frame
    // instead of the blocks.
    std::function<bool()> mayBeginBlocks;
    // Asked after the pause of every frame before the exit frame.
    StopRequest stop;
};

// How long after an operation's enter frame the line is judged: by then a
// module has echoed that frame, and a line that only sends back what it is
// sent has sent back a frame no module echoes.
constexpr int kLoopCheckMs = 1000;

// The receive timer's interval while the port is open and the line busy.
constexpr int kReceiveTickMs = 10;
// Its interval while nothing is under way (nothing held, no read, no
// operation): a slow look, since arriving bytes and a lost device bring the
// quick pace back by themselves.
constexpr int kIdleTickMs = 500;

// How the line answered the latest baud change, clear or upload, judged kLoopCheckMs after its enter frame.
struct LineVerdict {
    bool judged = false;        // the judgement was reached (false: a stop request or the port's loss came first)
    bool moduleEchoed = false;  // the enter frame came back more often than the line's own copies explain
    bool looped = false;        // every byte sent came back, in order: the line sends back what it is sent
};

class ModuleLink {
public:
    ModuleLink(SerialLibrary& serial, ConfigTable& table, LinkPacing& pacing);
    ~ModuleLink();
    ModuleLink(const ModuleLink&) = delete;
    ModuleLink& operator=(const ModuleLink&) = delete;

    // `observer` hears every event from now on, after those that listen already.
    void Listen(ModuleObserver* observer);
    void StopListening(ModuleObserver* observer);

    // --- the port -----------------------------------------------------------------
    // Opens library port `port` (N of "COM"+N) at `rate`; `name` is how the
    // PortOpened event names it. Starts the receive timer. Gives sio_open's
    // result (0: opened; otherwise OpenRefused was told).
    int Open(int port, int rate, const QString& name);
    // Closes the port (PortClosed): the receive timer rests, an unfinished
    // dump and a running read end, and the read's table is given back.
    void Close();
    bool IsOpen() const { return port_.IsOpen(); }
    int PortNumber() const { return port_.Number(); }

    // --- frames and pauses --------------------------------------------------------
    // Converts the hex text and writes it with exactly one sio_write, a text
    // that does not convert (CodeNotConverted) as a zero-length write; gives
    // the write's result. Once the link is ending it writes nothing and gives -1.
    int SendFrame(const QString& hexText);
    // Waits ms milliseconds by the clock while delivering what is pending
    // (ticks, clicks, boxes run meanwhile); never returns before ms have
    // passed. ms <= 0, or a link that is ending, returns at once.
    void Delay(int ms);

    // --- the operations -----------------------------------------------------------
    // No operation holds the line and the link is not ending.
    bool MayStartOperation() const;
    bool OperationRunning() const { return operationRunning_; }
    // An operation holds the line, or a read waits for its dump: until it
    // ends, the table is the operation's.
    bool UnderWay() const { return operationRunning_ || read_.Running(); }
    // Enter; the new rate, asked once the enter frame's pause is over; exit.
    OperationEnd SetModuleBaudRate(const std::function<quint32()>& rate, const StopRequest& stop = {});
    // Enter, read request (no pause, no exit frame: the module leaves
    // configuration mode after its dump); then every value cell is emptied and
    // the read (Reading()) waits for the dump, holding the module until it
    // ends. Records bringing exactly the `expected` code of their cell are
    // taken whole (ModuleRead::ReadBegins).
    OperationEnd Read(const StopRequest& stop = {}, const ExpectedCodes& expected = {});
    // Delivers what is pending while the read runs, and after a dump end for
    // the settle time (ModuleRead::Settling), so the dump is whole as far as
    // the line can tell. A stop request ends the wait; while the read still
    // runs, with the exit frame when the port is open (only a whole dump
    // takes the module out of configuration mode), and false.
    bool AwaitReadEnd(const StopRequest& stop);
    // Enter, clear request, exit; the table is not touched.
    OperationEnd Clear(const StopRequest& stop = {});
    // How the line answered the latest baud change, clear or upload, judged
    // kLoopCheckMs after its enter frame. Those operations end only once it
    // is judged (or cut short), so whoever words them knows how they went.
    // Waits until the latest operation's line has been judged; a stop request ends the wait (judged false).
    LineVerdict JudgeLine(const StopRequest& stop);
    // The verdict so far without waiting: judged false until kLoopCheckMs
    // after the enter frame, the other two as the bytes so far say (an
    // upload stops once the line is judged looped with no module echoing).
    LineVerdict LineSoFar() const;
    // One learn frame (FD 49 52 and `data`), without configuration mode and
    // without a pause; LearnReportSent when every byte went out.
    OperationEnd LearnReport(const QByteArray& data, const StopRequest& stop = {});
    // Enter, the three blocks of code records (each cell read when its turn
    // comes; an empty one sends nothing), exit; Progress runs 1 … 96, 100, 0.
    OperationEnd Upload(const CellText& cell, const UploadGuard& guard = {});

    // The program ends: when an operation has the module in configuration
    // mode (sending, or a read under way), the exit frame goes out at once,
    // without its pause; a read that has not completed gives the table back.
    void LetGoAtExit();
    // The program ends: the port is closed, and left as it stands otherwise.
    void ReleasePortAtExit() { port_.ReleaseAtExit(); }

    // --- receiving ----------------------------------------------------------------
    // The receive timer's tick: takes every byte that arrived, with its
    // arrival time, into the read; a device found gone closes the port; then
    // sets the timer's pace for what is left to do. Nothing while the port is closed.
    void ReceiveTick();
    // The read of the module: how the latest ended, the dump, what is held.
    const ModuleRead& Reading() const { return read_; }
    // Another table took the place of the one a read started on (a file was
    // opened while no read runs): see ModuleRead::TableReplaced.
    void TableReplaced() { read_.TableReplaced(); }
    // The reads from now on fill `table` instead (nullptr: the link's own
    // table again): a comparison reads the module into a table of its own.
    // Only while no read runs.
    void ReadInto(ConfigTable* table) { read_.ReadInto(table); }

private:
    friend class TableUpload;

    void Report(const ModuleEvent& event);
    void OnPortEvent(const ModuleEvent& event);
    int Send(const QString& hexText, CellPosition cell);
    bool Interrupted() const;
    bool Begin(const StopRequest& stop, OperationEnd& refused);
    OperationEnd End(OperationEnd how);
    OperationEnd StopWithExitFrame();
    template <typename BuildFrame>
    OperationEnd RequestInConfigMode(BuildFrame buildFrame, ModuleRequest request, int pause, const StopRequest& stop);
    void PaceTimer();
    void WatchForLoop();
    void HearForLoop(const QVector<ArrivedBytes>& runs);
    void JudgeLoop();

    SerialLibrary& serial_;
    LinkPacing& pacing_;
    QVector<ModuleObserver*> observers_;
    PortConnection port_;
    ModuleRead read_;
    bool operationRunning_ = false;  // a baud change, read request, clear or upload is sending
    bool portLost_ = false;          // the port closing now closes because its device went away

    // How the line answers, judged kLoopCheckMs after the enter frame of a
    // baud change, clear or upload, by the bytes alone however the line cut
    // them: what went out since the enter frame, and what came back.
    struct LoopWatch {
        bool watching = false;
        quint32 enterAt = 0;
        QByteArray sent = {};
        qsizetype unechoedEnd = -1;  // where the first frame no module echoes ends in `sent`; -1 before one
        QByteArray heard = {};
        LineVerdict verdict = {};
    } loop_;
};
