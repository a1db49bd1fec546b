#pragma once
// A read the command line can trust: every one of the 192 code positions
// (empty ones included) is taken only when two dumps give the same bytes for
// it and neither marks it doubtful. A second dump is always read; a third,
// at most, only for positions still unconfirmed. With --once one dump is
// enough, as long as it marks nothing doubtful.

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QVector>
#include <optional>

#include "core/ModuleEvents.h"

// One dump as the session heard it from the program's events.
struct HeardDump {
    bool started = false;     // the dump start came
    bool ended = false;       // the dump end came after it
    bool strayBytes = false;  // bytes that were no answer of the dump came during the read
    QHash<int, QByteArray> codes;  // key: TableLayout::CellKey; a position no record named is empty
    QSet<int> doubtful;

    // Carries one event of a running read into the dump.
    void Hear(const ModuleEvent& event);
};

class ConfirmedCodes {
public:
    explicit ConfirmedCodes(bool once) : once_(once) {}

    void Add(const HeardDump& dump);
    // True while one more dump may settle what is not confirmed yet.
    bool WantsAnotherDump() const;
    // The value cells not confirmed, in table order.
    QVector<CellPosition> Unconfirmed() const;
    // A confirmed position's code; empty for an empty position.
    QByteArray Code(int row, int column) const;
    int Dumps() const { return int(dumps_.size()); }

private:
    bool Confirmed(int key) const;
    std::optional<QByteArray> Agreed(int key) const;
    bool once_;
    QVector<HeardDump> dumps_;
};
