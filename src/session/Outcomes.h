#pragma once
// How an operation on the module went, as facts both front ends word: the
// window as log lines and marks, velmora-cli as English, JSON and exit
// statuses. Decided once, by the session; nobody counts echoes above it.

#include <QVector>

#include "core/ModuleEvents.h"

enum class OutcomeKind {
    Done,        // every frame went out and the module answered (a read: its dump ended)
    NoAnswer,    // the module did not answer (did not echo the enter frame; a read: no whole dump)
    Looped,      // the module did not echo, and the line sent back everything it was sent
    Unclear,     // a read: bytes came, but no dump (a dump end with no dump start)
    Unconfirmed, // a confirmed read: every dump whole, but no two settled some codes
    PortLost,    // the port went away during the operation
    Stopped,     // a stop request after the first frame: cut short (the exit frame sent where it could be)
    Unsent,      // a stop request before the first frame: nothing went out
    NotStarted,  // another operation holds the line, the port is closed, or the program is ending
    Ending,      // the program began to end during it: nothing more was written
    ShortWrite,  // the learn report went out short
};

// A baud change, clear, upload or learn report.
struct ModuleOutcome {
    OutcomeKind kind = OutcomeKind::Done;
    bool moduleEchoed = false;  // the module (not just the line) echoed the enter frame
    bool exitEcho = false;      // the module echoed the exit frame
    bool lineLooped = false;    // the line sent back every byte it was sent
    bool requestSent = false;   // a baud change or clear: its request went out whole
    bool blocksHeld = false;    // an upload held for the enter echo that did not come: only the exit frame followed
    int codesSent = 0;          // an upload: code records that went out whole
    int codes = 0;              // an upload: the codes it was to send
    quint32 rate = 0;           // a baud change: the rate the module was sent
};

// Why a code a read brought may be wrong.
enum class DoubtReason {
    StrayBytes,  // bytes that were no record came in its place in the dump, or after the dump end
    Unconfirmed, // the dumps read did not agree on it, or none vouched for it
};

struct DoubtfulCode {
    CellPosition cell;
    DoubtReason why = DoubtReason::StrayBytes;
};

// One read of the module: how it ended and what its dump was worth.
struct ReadOutcome {
    OutcomeKind kind = OutcomeKind::Done;
    bool dumpStarted = false;  // the module began a dump
    bool exitSent = false;     // stopped while the dump came: the exit frame went out
    bool dumpEndAlone = false; // the module answered with a dump end and no dump
    QVector<DoubtfulCode> doubtful = {};
    int codes = 0;             // codes the read brought (a confirmed read: confirmed)
    // A read confirmed across dumps:
    int dumps = 0;
    QVector<CellPosition> unconfirmed = {};  // cells no two dumps settled (kind Unconfirmed when any)
    bool noisyLine = false;    // stray bytes came in the dumps read
};
