#pragma once
// Cuts the bytes the program writes into frames by their structure. Control
// and baud frames (FD 66 66 66 … BF) are whole at their ninth byte. Code
// records (F7 F4 slot code…) and learn reports (FD 49 52 data…) have no end
// byte: one ends where the next frame begins (a control frame, a record with a
// slot 01-40, a learn report), or when the line goes quiet and nothing
// follows. So two frames that reach the module in one read stay two, however
// late the module gets round to reading them.

#include <QByteArray>
#include <QList>

class FrameReader {
public:
    // Adds bytes; gives back the frames that are complete by their structure.
    QList<QByteArray> Feed(const QByteArray& bytes);
    // The line went quiet: whatever is pending is one frame (empty if nothing).
    QByteArray Flush();
    bool HasPending() const { return !pending_.isEmpty(); }

private:
    QByteArray pending_;
};
