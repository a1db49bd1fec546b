#pragma once
// What the module and the line did, told as events by the module link to
// whoever listens, in the order they listen: the port (open, refused, closed,
// lost), the operations (what went out whole, how far they are, when they
// hold the module and let it go) and the read (answers, dumps, reads that end
// badly). The window turns them into its log lines, notices, bar and button
// states; velmora-cli into its results and exit statuses. Nobody learns what
// happened by reading texts.

#include <QByteArray>
#include <QString>
#include <QVector>

#include "core/TableLayout.h"

// A cell of the configuration table, by row and column.
struct CellPosition {
    int row = 0;
    int column = 0;
    friend bool operator==(const CellPosition&, const CellPosition&) = default;
};

// The cell of a TableLayout::CellKey.
constexpr CellPosition CellOfKey(int key) { return {key / TableLayout::kColumns, key % TableLayout::kColumns}; }

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
        CodeNotConverted, // cell (none: 0, 0), text: a code that no longer converts went out as a zero-length write
        // --- who holds the module ---
        OperationBegan,   // a baud change, read, clear or upload holds the line: no other may start
        OperationEnded,   // free: the module is free for another operation (a read waits for its dump: not yet)
        ModuleFree,       // a dump ended or a read gave up while no operation holds the line
        Progress,         // position (0 … 100): how far the upload or the dump has come
        // --- what the module answered ---
        EnterEcho,
        ExitEcho,
        DumpStarted,
        Record,           // cell, bytes: a record of the dump filled its value cell
        Unrecognised,     // bytes: belongs to no answer the program knows; shown as hex
        DumpEnded,        // dumpStarted, doubtful: the codes of this dump that may be wrong; whole: no bytes
                          // but records and known answers came in it (else a record may be missing)
        // --- how a read ended when it did not complete ---
        ReadUnanswered,   // no dump start within 3 s of the request, or no record of a new cell for 3 s
        TableGivenBack,   // the table is back as it was before the read
        ReadResumed,      // the module went on after ReadUnanswered: the read's cells are back; the module is held again
        // --- the line ---
        LineLooped,       // the line only sent back what it was sent (its enter frame once, a frame no module echoes): no module
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
    bool whole = true;
    QVector<CellPosition> doubtful = {};
    int position = 0;
    bool free = false;
    QString text = {};
};

// Hears every event of the module link it listens to (ModuleLink::Listen).
class ModuleObserver {
public:
    virtual ~ModuleObserver() = default;
    virtual void OnModuleEvent(const ModuleEvent& event) = 0;
};
