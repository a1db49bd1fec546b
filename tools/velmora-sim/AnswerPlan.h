#pragma once
// What the simulated module writes for each answer, as pieces for the line
// with the quiet before each: split, paused, noisy or cut short as the
// options ask. Noise is random but seeded per dump, so a run can be repeated
// and no two dumps carry the same noise (unless asked to).

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

#include "ModuleMemory.h"
#include "SimLine.h"
#include "SimOptions.h"

class AnswerPlan {
public:
    explicit AnswerPlan(const SimOptions& options);

    // The echo of a control frame (twice when asked).
    QList<SimLine::Piece> Echo(const QByteArray& frame);
    // The answer to a read request: dump start, one record per code, dump
    // end. Its last piece carries the note "dump-end", or "dump-stopped" when
    // the records stop early (or are to come again); or it is a hang-up.
    QList<SimLine::Piece> Dump(const QList<StoredCode>& codes);
    // A burst of stray bytes for a line that keeps muttering.
    QByteArray Stray() { return Noise(options_.noiseBytes); }
    // The record of one stored code, as a dump sends it.
    static QByteArray Record(const StoredCode& code);

    // Noise never holds a frame's start byte or a byte of the answer marker
    // (FD, F4, F7), so it can neither begin an answer nor make one together
    // with the end of a code.
    static bool IsNoiseByte(quint8 b);

private:
    // Appends `bytes` as pieces: the first after `gapMs`, then split where
    // the options cut answers into pieces and at `pauses` (offset, quiet).
    void Add(QList<SimLine::Piece>& pieces, const QByteArray& bytes, int gapMs,
             const QList<std::pair<qsizetype, int>>& pauses = {});
    QList<std::pair<qsizetype, int>> PausesIn(const QByteArray& record) const;
    QByteArray Noise(int count);

    SimOptions options_;
    int dumps_ = 0;
    QRandomGenerator random_;
};
