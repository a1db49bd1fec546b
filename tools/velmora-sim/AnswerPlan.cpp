#include "AnswerPlan.h"

#include <QMap>

#include "core/TableLayout.h"
#include "protocol/Frames.h"

namespace {

using Piece = SimLine::Piece;

const QByteArray& kAnswerLead = FrameLayout::kAnswerMarker;
constexpr quint32 kNoiseSeed = 20261207;
// A record of no value cell: the row and the column just past the table.
const QByteArray kForeignRecord =
    kAnswerLead + char(TableLayout::kRows) + char(TableLayout::kColumns) + char(0x99);

}  // namespace

AnswerPlan::AnswerPlan(const SimOptions& options) : options_(options), random_(kNoiseSeed)
{
    options_.every = qMax(1, options_.every);
}

bool AnswerPlan::IsNoiseByte(quint8 b)
{
    return b != FrameLayout::kStartByte && !kAnswerLead.contains(char(b));
}

QByteArray AnswerPlan::Noise(int count)
{
    QByteArray bytes;
    bytes.reserve(count);
    while (bytes.size() < count) {
        const quint8 b = quint8(random_.bounded(256));
        if (IsNoiseByte(b)) bytes += char(b);
    }
    return bytes;
}

void AnswerPlan::Add(QList<Piece>& pieces, const QByteArray& bytes, int gapMs,
                     const QList<std::pair<qsizetype, int>>& pauses)
{
    if (options_.noise > 0) {
        pieces << Piece{Noise(options_.noise), gapMs, QString(), false};
        gapMs = qMax(gapMs, options_.paceMs);
    }
    QMap<qsizetype, int> cuts;  // offset → quiet before it
    const int count = qBound(1, options_.pieces, int(bytes.size()));
    const qsizetype step = (bytes.size() + count - 1) / count;
    for (qsizetype at = step; at < bytes.size(); at += step) cuts[at] = options_.pieceGapMs;
    for (const auto& [at, ms] : pauses)
        if (at > 0 && at < bytes.size()) cuts[at] = ms;
    qsizetype from = 0;
    for (auto it = cuts.cbegin(); it != cuts.cend(); ++it) {
        pieces << Piece{bytes.mid(from, it.key() - from), gapMs, QString(), false};
        from = it.key();
        gapMs = it.value();
    }
    pieces << Piece{bytes.mid(from), gapMs, QString(), false};
}

QList<std::pair<qsizetype, int>> AnswerPlan::PausesIn(const QByteArray& record) const
{
    QList<std::pair<qsizetype, int>> pauses;
    const unsigned places = options_.pausePlaces;
    const qsizetype marker = kAnswerLead.size();
    const qsizetype address = FrameLayout::kAnswerAddressSize;  // marker, row, column
    if (places & PauseInMarker) pauses.append({1, options_.pauseMs});
    if (places & PauseInAddress) pauses.append({marker, options_.pauseMs});
    if (places & PauseInMidAddress) pauses.append({marker + 1, options_.pauseMs});
    if (places & PauseInCode) pauses.append({address + (record.size() - address) / 2, options_.pauseMs});
    return pauses;
}

QByteArray AnswerPlan::Record(const StoredCode& c)
{
    return kAnswerLead + QByteArray(1, char(c.row)) + QByteArray(1, char(c.column)) + c.code;
}

QList<Piece> AnswerPlan::Echo(const QByteArray& frame)
{
    QList<Piece> pieces;
    Add(pieces, frame, 0);
    if (options_.echoAgainMs >= 0) Add(pieces, frame, options_.echoAgainMs);
    return pieces;
}

QList<Piece> AnswerPlan::Dump(const QList<StoredCode>& codes)
{
    ++dumps_;
    // Every dump its own noise and, one record on from the dump before, its
    // own records to pause or to noise; or every dump like the first.
    const int dump = options_.sameNoise ? 1 : dumps_;
    random_.seed(kNoiseSeed + quint32(dump));
    const QByteArray start = FixedFrameBytes(ReadRequestFrame);
    const QByteArray end = FixedFrameBytes(DumpEndFrame);
    const int pace = options_.paceMs;
    QList<Piece> pieces;
    if (options_.dumpEndOnly) {
        Add(pieces, end, pace);
        pieces.last().note = QStringLiteral("dump-end");
        return pieces;
    }

    QList<QByteArray> records;
    for (qsizetype i = 0; i < codes.size(); ++i) {
        QByteArray record = Record(codes.at(i));
        if ((i + dump) % options_.every == 0) {
            // One bit of the marker's first byte wrong (F4 → 74 or B4).
            if (options_.corruptMarker) record[0] = char(record[0] ^ (dump % 2 ? 0x80 : 0x40));
            if (options_.foreignRecord) record += kForeignRecord;
        }
        records << record;
    }
    // The last record, held back until after the dump end.
    QByteArray late;
    if (options_.lateRecordMs >= 0 && !records.isEmpty()) late = records.takeLast();
    if (options_.backToBack) {
        QByteArray all = start;
        for (const QByteArray& r : records) all += r;
        all += end;
        QList<Piece> burst{Piece{all, pace, QStringLiteral("dump-end"), false}};
        if (!late.isEmpty()) burst << Piece{late, options_.lateRecordMs, QString(), false};
        return burst;
    }

    Add(pieces, start, pace);
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (i == options_.hangUpAfter) {
            options_.hangUpAfter = -1;  // once: the next read gets the whole dump
            pieces << Piece{QByteArray(), pace, QString(), true};
            return pieces;
        }
        if (i == options_.stopAfter) {
            pieces.last().note = QStringLiteral("dump-stopped");
            return pieces;
        }
        const bool touched = (i + dump) % options_.every == 0;
        Add(pieces, records.at(i), pace, touched ? PausesIn(records.at(i)) : QList<std::pair<qsizetype, int>>());
        if (touched && options_.noiseBehindMs >= 0)
            pieces << Piece{Noise(options_.noiseBytes), options_.noiseBehindMs, QString(), false};
    }
    if (options_.repeatRecords) {
        pieces.last().note = QStringLiteral("dump-stopped");
        return pieces;
    }
    Add(pieces, end, pace);
    pieces.last().note = QStringLiteral("dump-end");
    if (!late.isEmpty()) Add(pieces, late, options_.lateRecordMs);
    return pieces;
}
