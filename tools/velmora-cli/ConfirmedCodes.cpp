#include "ConfirmedCodes.h"

#include "core/TableLayout.h"

namespace {

using namespace TableLayout;

constexpr int kMostDumps = 3;

}  // namespace

void ConfirmedCodes::Add(const Dump& dump) { dumps_ << dump; }

std::optional<QByteArray> ConfirmedCodes::Agreed(int key) const
{
    if (once_) {
        if (dumps_.isEmpty() || dumps_.first().doubtful.contains(key)) return std::nullopt;
        return dumps_.first().codes.value(key);
    }
    // Any two dumps that both vouch for the position and give the same bytes.
    for (qsizetype a = 0; a < dumps_.size(); ++a) {
        if (dumps_.at(a).doubtful.contains(key)) continue;
        const QByteArray code = dumps_.at(a).codes.value(key);
        for (qsizetype b = a + 1; b < dumps_.size(); ++b)
            if (!dumps_.at(b).doubtful.contains(key) && dumps_.at(b).codes.value(key) == code) return code;
    }
    return std::nullopt;
}

bool ConfirmedCodes::Confirmed(int key) const { return Agreed(key).has_value(); }

QVector<CellPosition> ConfirmedCodes::Unconfirmed() const
{
    QVector<CellPosition> cells;
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn})
            if (!Confirmed(CellKey(row, column))) cells << CellPosition{row, column};
    return cells;
}

bool ConfirmedCodes::WantsAnotherDump() const
{
    if (once_) return dumps_.isEmpty();
    if (dumps_.size() < 2) return true;
    return dumps_.size() < kMostDumps && !Unconfirmed().isEmpty();
}

QByteArray ConfirmedCodes::Code(int row, int column) const { return Agreed(CellKey(row, column)).value_or(QByteArray()); }
