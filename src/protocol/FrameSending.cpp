// Sending a frame and pausing between frames: the part of the frame catalogue
// that needs the port and the message pump.
#include <climits>

#include "core/Program.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleOperations.h"
#include "protocol/TableBeforeRead.h"
#include "serial/PortConnection.h"
#include "serial/SerialLibrary.h"

int SendFrame(Program& p, const QString& hexText)
{
    // The window is going away and the port is (about to be) closed: an
    // operation interrupted in a pause must not reach the line any more.
    if (p.state.shuttingDown) return -1;
    HexProblem problem;
    const QByteArray bytes = HexToBytes(hexText, &problem);
    if (problem) ShowHexProblem(p, problem);
    // The codec's box delivers messages too; the window may have gone meanwhile.
    if (p.state.shuttingDown) return -1;
    return WriteToPort(p, bytes);
}

int WriteToPort(Program& p, const QByteArray& bytes)
{
    const int result = p.serial.sio_write(p.state.portNumber, bytes.constData(), int(bytes.size()));
    // The operation that wrote stops at its next step, finding the port
    // closed; a read it cut off gives the table back.
    if (PortWasLost(result)) {
        ClosePortOnLoss(p);
        GiveBackUnfinishedRead(p);
    }
    return result;
}

void Delay(Program& p, int ms)
{
    if (ms <= 0 || p.state.shuttingDown) return;
    const quint32 start = p.ui.TickCount();
    const auto length = quint32(ms);
    // Counting the time passed rather than comparing against start + ms keeps
    // the pause whole when the 32-bit tick count wraps during it.
    for (;;) {
        const quint32 passed = p.ui.TickCount() - start;
        if (passed > length) return;
        // Sleep in the event loop until the tick just past the deadline;
        // anything that arrives meanwhile (a tick, a click) wakes us early.
        const quint32 wait = length - passed + 1;
        p.ui.DeliverMessages(wait > quint32(INT_MAX) ? INT_MAX : int(wait));
        if (p.state.shuttingDown) return;
    }
}
