#pragma once
// A read the command line can trust. A code is taken when two dumps bring
// the same bytes for its cell and neither marks it doubtful. An empty cell
// is taken when two dumps name it nowhere and no record of it can have been
// lost in both: noise casts doubt on its own stretch of a dump only.
//
// A dump's stretch is doubtful where bytes that were no record came (between
// two records, before the first, after the last), where a record came whose
// cell is marked doubtful or named twice, and where a record came whose code
// is not the one confirmed for its cell (or its cell has none confirmed):
// it runs from the last good record before to the first good record after,
// and a record lost in it lay between those two. Two dumps vouch for an
// empty cell neither names when their doubtful stretches do not overlap on
// the order of the records both bring. Where two dumps order the cells both
// name differently, only dumps without a doubtful stretch vouch for empty cells. A second dump is always read; a third, at most, only for
// cells still unconfirmed. With --once one dump is enough: its codes that
// are not doubtful, and its empty cells when it has no doubtful stretch.

#include <QByteArray>
#include <QHash>
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
    // Bytes that were no record came in a dump, or a record brought another
    // code than the one confirmed for its cell: the line is noisy.
    bool NoisyLine() const { return noisy_; }

private:
    void Settle();
    bool once_;
    QVector<Dump> dumps_;
    QHash<int, QByteArray> confirmed_;  // TableLayout::CellKey -> code (empty: confirmed empty)
    bool noisy_ = false;
};
