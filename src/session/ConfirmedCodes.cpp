#include "session/ConfirmedCodes.h"

#include "core/TableLayout.h"
#include "protocol/HexCodec.h"

namespace {

using namespace TableLayout;

constexpr int kMostDumps = 3;

// A dump vouches for a position it does not mark doubtful, and for an empty
// one only when it was whole: otherwise the position's record may be among
// the bytes that were no record.
bool Vouches(const Dump& dump, int key)
{
    return !dump.doubtful.contains(key) && (dump.whole || dump.codes.contains(key));
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

void ConfirmedCodes::Add(const Dump& dump) { dumps_ << dump; }

std::optional<QByteArray> ConfirmedCodes::Agreed(int key) const
{
    if (once_) {
        if (dumps_.isEmpty() || !Vouches(dumps_.first(), key)) return std::nullopt;
        return dumps_.first().codes.value(key);
    }
    // Any two dumps that both vouch for the position and give the same bytes.
    for (qsizetype a = 0; a < dumps_.size(); ++a) {
        if (!Vouches(dumps_.at(a), key)) continue;
        const QByteArray code = dumps_.at(a).codes.value(key);
        for (qsizetype b = a + 1; b < dumps_.size(); ++b)
            if (Vouches(dumps_.at(b), key) && dumps_.at(b).codes.value(key) == code) return code;
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
