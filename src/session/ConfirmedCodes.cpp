#include "session/ConfirmedCodes.h"

#include <algorithm>

#include "core/TableLayout.h"
#include "protocol/HexCodec.h"

namespace {

using namespace TableLayout;

constexpr int kMostDumps = 3;

// A stretch of a dump that may have lost a record, as the gaps between the
// records every dump brings (gap k lies before the k-th of them): first … last.
struct Stretch {
    int first;
    int last;
};

bool Vouches(const Dump& dump, int key) { return dump.codes.contains(key) && !dump.doubtful.contains(key); }

// The doubtful stretches of `dump`, given the codes agreed so far; `common`:
// the index of each record in the order every dump shares (-1: not shared), `shared` their count.
QVector<Stretch> Stretches(const Dump& dump, const QHash<int, QByteArray>& agreed, const QVector<int>& common, int shared)
{
    const auto n = int(dump.order.size());
    const auto good = [&](int i) {
        const int key = dump.order.at(i);
        const auto code = agreed.constFind(key);
        return !dump.doubtful.contains(key) && dump.order.count(key) == 1 && code != agreed.cend()
            && *code == dump.codes.value(key);
    };
    // The shared gap just after the record at i (-1: the dump start), and just before it (n: the end).
    const auto after = [&](int i) {
        for (; i >= 0; --i)
            if (common.at(i) >= 0) return common.at(i) + 1;
        return 0;
    };
    const auto before = [&](int i) {
        for (; i < n; ++i)
            if (common.at(i) >= 0) return common.at(i);
        return shared;
    };
    QVector<Stretch> stretches;
    int lastGood = -1;
    bool doubtful = false;
    for (int i = 0; i <= n; ++i) {
        doubtful = doubtful || dump.strayAt.contains(i);
        if (i == n || good(i)) {
            if (doubtful) stretches << Stretch{after(lastGood), before(i)};
            doubtful = false;
            lastGood = i;
        } else {
            doubtful = true;
        }
    }
    return stretches;
}

// Stretches on either side of one shared record overlap too: a record lost
// beside it may have come on its other side in the other dump.
bool Overlap(const QVector<Stretch>& a, const QVector<Stretch>& b)
{
    for (const Stretch& x : a)
        for (const Stretch& y : b)
            if (std::max(x.first, y.first) <= std::min(x.last, y.last) + 1) return true;
    return false;
}

}  // namespace

ExpectedCodes UnframableCodes(const TableCodes& codes)
{
    ExpectedCodes expected;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) {
            const QByteArray code = HexToBytes(RemoveBlanks(codes.code[row][column]));
            if (ReadCannotBringBack(code)) expected.insert(CellKey(row, column), code);
        }
    return expected;
}

void ConfirmedCodes::Add(const Dump& dump)
{
    dumps_ << dump;
    Settle();
}

// Judges every cell over all the dumps read so far.
void ConfirmedCodes::Settle()
{
    const auto dumps = int(dumps_.size());
    confirmed_.clear();
    // Codes: two dumps that vouch for them agree (with --once, the one dump).
    for (const Dump& a : dumps_)
        for (auto code = a.codes.cbegin(); code != a.codes.cend(); ++code) {
            if (confirmed_.contains(code.key()) || !Vouches(a, code.key())) continue;
            const auto agrees = [&](const Dump& b) { return &b != &a && Vouches(b, code.key()) && b.codes.value(code.key()) == *code; };
            if (once_ || std::any_of(dumps_.cbegin(), dumps_.cend(), agrees)) confirmed_.insert(code.key(), *code);
        }

    // The records every dump brings once, and whether every dump brings them in one order.
    QVector<int> shared;
    for (int key : dumps_.first().order) {
        const auto once = [key](const Dump& d) { return d.order.count(key) == 1; };
        if (std::all_of(dumps_.cbegin(), dumps_.cend(), once)) shared << key;
    }
    bool oneOrder = true;
    QVector<QVector<Stretch>> stretches;
    for (const Dump& d : dumps_) {
        QVector<int> common;
        QVector<int> seen;
        for (int key : d.order) {
            const auto at = int(shared.indexOf(key));
            common << at;
            if (at >= 0) seen << key;
        }
        oneOrder = oneOrder && seen == shared;
        stretches << Stretches(d, confirmed_, common, int(shared.size()));
    }

    // Empty cells: a dump without a doubtful stretch vouches for them; two
    // dumps whose stretches do not overlap vouch together.
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) {
            const int key = CellKey(row, column);
            if (confirmed_.contains(key)) continue;
            bool empty = false;
            for (int a = 0; a < dumps && !empty; ++a) {
                if (dumps_.at(a).order.contains(key)) continue;
                if (once_) {
                    empty = stretches.at(a).isEmpty();
                    break;
                }
                for (int b = a + 1; b < dumps && !empty; ++b) {
                    if (dumps_.at(b).order.contains(key)) continue;
                    const bool clean = stretches.at(a).isEmpty() && stretches.at(b).isEmpty();
                    empty = clean || (oneOrder && !Overlap(stretches.at(a), stretches.at(b)));
                }
            }
            if (empty) confirmed_.insert(key, QByteArray());
        }

    noisy_ = false;
    for (const Dump& d : dumps_) {
        noisy_ = noisy_ || !d.strayAt.isEmpty();
        for (auto code = d.codes.cbegin(); code != d.codes.cend(); ++code) {
            const auto agreed = confirmed_.constFind(code.key());
            noisy_ = noisy_ || (agreed != confirmed_.cend() && *agreed != *code);
        }
    }
}

QVector<CellPosition> ConfirmedCodes::Unconfirmed() const
{
    QVector<CellPosition> cells;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn})
            if (!confirmed_.contains(CellKey(row, column))) cells << CellPosition{row, column};
    return cells;
}

bool ConfirmedCodes::WantsAnotherDump() const
{
    if (once_) return dumps_.isEmpty();
    if (dumps_.size() < 2) return true;
    return dumps_.size() < kMostDumps && confirmed_.size() < 2 * kLastValueRow;
}

QByteArray ConfirmedCodes::Code(int row, int column) const { return confirmed_.value(CellKey(row, column)); }
