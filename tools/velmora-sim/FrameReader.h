#pragma once
// Cuts the bytes the program writes into frames. Control and baud frames
// (FD 66 66 66 …, nine bytes) are known by their shape; code records and learn
// reports have no end byte, so they end when the line goes quiet.

#include <QByteArray>
#include <QList>

class FrameReader {
public:
    // Adds bytes; gives back the frames that are complete by their shape.
    QList<QByteArray> Feed(const QByteArray& bytes);
    // The line went quiet: whatever is pending is one frame (empty if nothing).
    QByteArray Flush();
    bool HasPending() const { return !pending_.isEmpty(); }

private:
    QByteArray pending_;
};
