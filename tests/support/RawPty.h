#pragma once
// A new pseudo-terminal whose master side plays the far end of a serial line
// (a module, a noisy line) for tests and benchmarks; the program opens the
// device, the other side.

#include <QString>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

// Opens the master in raw mode (bytes pass as they are, both ways) and sets
// `device` to the path the program opens; -1 when no pseudo-terminal could be
// made. Programs the test starts do not inherit it, so closing it hangs up.
inline int OpenRawPty(QString& device, bool nonBlocking = true)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | (nonBlocking ? O_NONBLOCK : 0));
    if (master < 0) return -1;
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        ::close(master);
        return -1;
    }
    termios tio{};
    tcgetattr(master, &tio);
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
    device = QString::fromLocal8Bit(ptsname(master));
    return master;
}
