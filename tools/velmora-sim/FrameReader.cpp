#include "FrameReader.h"

#include <QByteArrayView>

#include "protocol/Frames.h"

namespace {

using FrameLayout::kLearnLead;
constexpr qsizetype kFixedFrameSize = FrameLayout::kFixedSize;
const QByteArray& kFixedLead = FrameLayout::kNineByteLead;
const QByteArray& kRecordLead = FrameLayout::kRecordMarker;

// Whether a frame of the program begins at `at`, with enough of it in to be
// sure: a control frame to its end byte, a record to its slot and first code
// byte, a learn report to its first data byte.
bool FrameBeginsAt(const QByteArray& bytes, qsizetype at)
{
    const QByteArrayView rest = QByteArrayView(bytes).sliced(at);
    if (rest.startsWith(kFixedLead))
        return rest.size() >= kFixedFrameSize && quint8(rest[kFixedFrameSize - 1]) == FrameLayout::kEndByte;
    if (rest.startsWith(kRecordLead))
        return rest.size() > FrameLayout::kRecordHeaderSize && quint8(rest[2]) >= FrameLayout::kFirstSlot
            && quint8(rest[2]) <= FrameLayout::kLastSlot;
    if (rest.startsWith(kLearnLead)) return rest.size() > kLearnLead.size();
    return false;
}

// Where the frame at the start of `bytes` ends; -1 while it may still go on.
qsizetype FrameEnd(const QByteArray& bytes)
{
    if (bytes.startsWith(kFixedLead)) return bytes.size() >= kFixedFrameSize ? kFixedFrameSize : -1;
    // A record or a learn report holds at least one byte past its lead.
    const qsizetype from = bytes.startsWith(kRecordLead) ? FrameLayout::kRecordHeaderSize + 1
        : bytes.startsWith(kLearnLead)                   ? kLearnLead.size() + 1
                                                         : 1;
    for (qsizetype at = from; at < bytes.size(); ++at)
        if (FrameBeginsAt(bytes, at)) return at;
    return -1;
}

}  // namespace

QList<QByteArray> FrameReader::Feed(const QByteArray& bytes)
{
    pending_ += bytes;
    QList<QByteArray> frames;
    for (qsizetype end; !pending_.isEmpty() && (end = FrameEnd(pending_)) > 0;) {
        frames << pending_.left(end);
        pending_.remove(0, end);
    }
    return frames;
}

QByteArray FrameReader::Flush()
{
    QByteArray frame;
    frame.swap(pending_);
    return frame;
}
