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

bool Overlap(const QVector<Stretch>& a, const QVector<Stretch>& b)
{
    for (const Stretch& x : a)
        for (const Stretch& y : b)
            if (std::max(x.first, y.first) <= std::min(x.last, y.last)) return true;
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

    // Two dumps vouch together for the empty cells neither names when neither
    // has a doubtful stretch, or when the records both bring once come in one
    // order in both and their stretches do not overlap on that order.
    const auto stretches = [this](const Dump& d, const QVector<int>& shared) {
        QVector<int> common;
        for (int key : d.order) common << int(shared.indexOf(key));
        return Stretches(d, confirmed_, common, int(shared.size()));
    };
    // The order: of every cell both name, where each first names it.
    const auto firsts = [](const Dump& d, const Dump& other) {
        QVector<int> keys;
        for (int key : d.order)
            if (other.order.contains(key) && !keys.contains(key)) keys << key;
        return keys;
    };
    const auto together = [&](const Dump& a, const Dump& b) {
        QVector<int> shared;
        for (int key : a.order)
            if (a.order.count(key) == 1 && b.order.count(key) == 1) shared << key;
        const QVector<Stretch> x = stretches(a, shared), y = stretches(b, shared);
        return (x.isEmpty() && y.isEmpty()) || (firsts(a, b) == firsts(b, a) && !Overlap(x, y));
    };
    QVector<QVector<bool>> vouch(dumps, QVector<bool>(dumps, false));
    for (int a = 0; a < dumps; ++a)
        for (int b = once_ ? a : a + 1; b < (once_ ? a + 1 : dumps); ++b)
            vouch[a][b] = once_ ? stretches(dumps_.at(a), {}).isEmpty() : together(dumps_.at(a), dumps_.at(b));

    // Empty cells: no dump of such a pair (with --once, the one dump) names them.
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) {
            const int key = CellKey(row, column);
            if (confirmed_.contains(key)) continue;
            bool empty = false;
            for (int a = 0; a < dumps; ++a)
                for (int b = a; b < dumps; ++b)
                    empty = empty || (vouch[a][b] && !dumps_.at(a).order.contains(key) && !dumps_.at(b).order.contains(key));
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
