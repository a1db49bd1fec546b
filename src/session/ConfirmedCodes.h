#pragma once
// A read the command line can trust: every one of the 192 code positions
// (empty ones included) is taken only when two dumps give the same bytes for
// it and both vouch for it: neither marks it doubtful, and for an empty
// position, each dump was whole (nothing came in it that could have been a
// record lost). A second dump is always read; a third, at most, only for
// positions still unconfirmed. With --once one dump is enough, as long as it
// vouches for every position.

#include <QByteArray>
#include <QVector>
#include <optional>

#include "config/TableCsv.h"
#include "core/ModuleEvents.h"
#include "protocol/ModuleRead.h"

// The codes of a table that a dump cannot frame by itself (ReadCannotBringBack),
// by cell: what verify tells the read to expect.
ExpectedCodes UnframableCodes(const TableCodes& codes);

class ConfirmedCodes {
public:
    explicit ConfirmedCodes(bool once) : once_(once) {}

    // One more dump, as the read of the module handed it over.
    void Add(const Dump& dump);
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
    QVector<Dump> dumps_;
};
