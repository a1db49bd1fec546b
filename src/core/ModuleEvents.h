#pragma once
// What the module and the line did, told as events by the rooms that saw it:
// the receive tick (answers, dumps, reads that end badly), the module
// operations (what went out whole) and the port connection (open, refused,
// closed, lost). Every event goes through Report: first the window's words
// for it (its log lines and notices, EventNarration), then every observer the
// Program context holds, in order. velmora-cli observes them to build its
// results and exit statuses; nobody learns what happened by reading texts.

#include <QByteArray>
#include <QString>
#include <QVector>

struct Program;

// A cell of the configuration table, by row and column.
struct CellPosition {
    int row = 0;
    int column = 0;
    friend bool operator==(const CellPosition&, const CellPosition&) = default;
};

// Why the system refused to open a port, as the serial room reads its code.
enum class OpenRefusal { NoSuchDevice, InUse, NoPermission, DeviceGone, Other, Unknown };

// The requests of the short module operations.
enum class ModuleRequest { SetBaudRate, Read, Clear };

struct ModuleEvent {
    enum class Kind {
        // --- the port ---
        PortOpened,       // port, portName, rate
        OpenRefused,      // port, result (the library's code), refusal
        PortClosed,       // closed by the port button or whoever runs the program
        PortLost,         // port: its device went away; PortClosed follows
        // --- what went out whole ---
        RequestSent,      // request
        LearnReportSent,  // the learn frame, every byte of it
        CodeSent,         // cell, bytes: one code record of an upload
        // --- what the module answered ---
        EnterEcho,
        ExitEcho,
        DumpStarted,
        Record,           // cell, bytes: a record of the dump filled its value cell
        Unrecognised,     // bytes: belongs to no answer the program knows; shown as hex
        DumpEnded,        // dumpStarted, doubtful: the codes of this dump that may be wrong
        // --- how a read ended when it did not complete ---
        ReadUnanswered,   // no record or known answer for 3 s
        TableGivenBack,   // the table is back as it was before the read
        ReadResumed,      // the module went on after ReadUnanswered: the read's cells are back
    };

    Kind kind;
    int port = 0;
    QString portName = {};
    int rate = 0;
    int result = 0;
    OpenRefusal refusal = OpenRefusal::Other;
    ModuleRequest request = ModuleRequest::Read;
    CellPosition cell = {};
    QByteArray bytes = {};
    bool dumpStarted = false;
    QVector<CellPosition> doubtful = {};
};

// Hears every event of the Program it is attached to (Program::observers).
class ModuleObserver {
public:
    virtual ~ModuleObserver() = default;
    virtual void OnModuleEvent(const ModuleEvent& event) = 0;
};

// Tells the window's log (and notices), then every observer, in that order.
void Report(Program& p, const ModuleEvent& event);
