#include "FrameReader.h"

#include <QByteArrayView>

namespace {

constexpr qsizetype kFixedFrameSize = 9;
const QByteArray kFixedLead = QByteArray::fromHex("FD666666");
const QByteArray kRecordLead = QByteArray::fromHex("F7F4");
const QByteArray kLearnLead = QByteArray::fromHex("FD4952");

// Whether a frame of the program begins at `at`, with enough of it in to be
// sure: a control frame to its end byte, a record to its slot and first code
// byte, a learn report to its first data byte.
bool FrameBeginsAt(const QByteArray& bytes, qsizetype at)
{
    const QByteArrayView rest = QByteArrayView(bytes).sliced(at);
    if (rest.startsWith(kFixedLead)) return rest.size() >= kFixedFrameSize && quint8(rest[8]) == 0xBF;
    if (rest.startsWith(kRecordLead)) return rest.size() >= 4 && quint8(rest[2]) >= 0x01 && quint8(rest[2]) <= 0x40;
    if (rest.startsWith(kLearnLead)) return rest.size() >= 4;
    return false;
}

// Where the frame at the start of `bytes` ends; -1 while it may still go on.
qsizetype FrameEnd(const QByteArray& bytes)
{
    if (bytes.startsWith(kFixedLead)) return bytes.size() >= kFixedFrameSize ? kFixedFrameSize : -1;
    // A record or a learn report holds at least one byte past its lead.
    const qsizetype from = bytes.startsWith(kRecordLead) || bytes.startsWith(kLearnLead) ? 4 : 1;
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
