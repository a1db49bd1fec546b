#include "FrameReader.h"

namespace {

constexpr int kFixedFrameSize = 9;
const QByteArray kFixedLead = QByteArray::fromHex("FD666666");

}  // namespace

QList<QByteArray> FrameReader::Feed(const QByteArray& bytes)
{
    pending_ += bytes;
    QList<QByteArray> frames;
    while (pending_.size() >= kFixedLead.size() && pending_.startsWith(kFixedLead)
           && pending_.size() >= kFixedFrameSize) {
        frames << pending_.left(kFixedFrameSize);
        pending_.remove(0, kFixedFrameSize);
    }
    return frames;
}

QByteArray FrameReader::Flush()
{
    QByteArray frame;
    frame.swap(pending_);
    return frame;
}
