// Opening, configuring and closing a serial line with termios.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "line_mode.h"
#include "link.h"
#include "posix_handle.h"
#include "posix_speed.h"

namespace {

// Raw mode, the baud of the mode string, 8 data bits, no parity, 1 stop
// bit, no flow control.
int SetLineSettings(int fd, const char *mode)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return ERR_LINE_SETTINGS;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = SpeedOfBaud(atoi(mode));
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0 || tcsetattr(fd, TCSANOW, &t) != 0)
        return ERR_LINE_SETTINGS;
    return 0;
}

// Held exclusively, as on Windows: a lock that also holds within one
// process, and the terminal's own exclusive mode.
bool TakeExclusive(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return false;
    ioctl(fd, TIOCEXCL);
    return true;
}

}  // namespace

extern "C" HANDLE OpenCommPath(const char *device, int baud)
{
    if (device == 0)
        return 0;
    char mode[MODE_STRING_SIZE];
    BuildModeString(baud, mode);
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    if (!isatty(fd) || !TakeExclusive(fd) || SetLineSettings(fd, mode) != 0) {
        close(fd);
        return 0;
    }
    HANDLE port = PortHandle(fd);
    PurgeRx(port);
    PurgeTx(port);
    return port;
}

extern "C" HANDLE WINAPI OpenComm(int port, int baud)
{
    if (port < 1)
        return 0;
    // COMn is /dev/ttyS<n-1>, as Wine and Cygwin number them.
    char name[32];
    snprintf(name, sizeof name, "/dev/ttyS%d", port - 1);
    return OpenCommPath(name, baud);
}

extern "C" int WINAPI CloseComm(HANDLE *phPort)
{
    if (phPort == 0 || *phPort == 0)
        return 0;
    const int fd = PortDescriptor(*phPort);
    *phPort = 0;
    ioctl(fd, TIOCNXCL);
    return close(fd) == 0 ? 1 : 0;
}
