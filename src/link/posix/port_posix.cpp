// Opening, configuring and closing a serial line with termios.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "link/port_settings.h"
#include "link/link.h"
#include "trace/trace.h"
#include "link/posix/posix_port.h"
#include "link/posix/posix_speed.h"

namespace {

// Raw mode at `baud`, 8 data bits, no parity, 1 stop bit, no flow control.
int SetLineSettings(int fd, int baud)
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
    const speed_t speed = SpeedOfBaud(baud);
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0 || tcsetattr(fd, TCSANOW, &t) != 0)
        return ERR_LINE_SETTINGS;
    return 0;
}

// Held exclusively, as on Windows: a lock that also holds within one
// process, and the terminal's own exclusive mode.
bool TakeExclusive(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            errno = EBUSY;  // held by another open: "in use"
        return false;
    }
    ioctl(fd, TIOCEXCL);
    return true;
}

// Closes the descriptor of a failed open, keeping the reason of the step
// that failed for the caller.
HANDLE FailOpen(int fd)
{
    const int reason = errno;
    close(fd);
    errno = reason;
    return 0;
}

HANDLE OpenPort(const char *device, int baud)
{
    if (device == 0) {
        errno = EINVAL;
        return 0;
    }
    const int rate = SupportedBaud(baud);
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    if (!isatty(fd) || !TakeExclusive(fd))
        return FailOpen(fd);
    if (SetLineSettings(fd, rate) != 0)
        return FailOpen(fd);
    PosixPort *p = ReservePort();
    if (p == 0)
        return FailOpen(fd);
    p->fd = fd;
    p->byteUs = (unsigned)(10 * 1000000 / rate);  // 10 bits a byte
    p->gone = 0;
    p->start = p->end = 0;
    HANDLE port = AddPort(p);
    Purge(port);
    return port;
}

}  // namespace

extern "C" HANDLE OpenCommPath(const char *device, int baud)
{
    TraceStartOnce(device, SupportedBaud(baud));
    HANDLE port = OpenPort(device, baud);
    const int reason = errno;
    TraceOpen(device, SupportedBaud(baud), port, port ? 0 : (unsigned long)reason);
    errno = reason;
    return port;
}

extern "C" HANDLE WINAPI OpenComm(int port, int baud)
{
    if (port < 1) {
        errno = ENOENT;  // there is no COM0
        return 0;
    }
    // COMn is /dev/ttyS<n-1>, as Wine and Cygwin number them.
    char name[32];
    snprintf(name, sizeof name, "/dev/ttyS%d", port - 1);
    return OpenCommPath(name, baud);
}

extern "C" int WINAPI CloseComm(HANDLE *phPort)
{
    if (phPort == 0 || *phPort == 0)
        return 0;
    // A handle that is not a live port is cleared too, as a failed close is
    // on Windows; errno is then EBADF.
    const HANDLE handle = *phPort;
    const int fd = RemovePort(handle);
    *phPort = 0;
    int closed = fd == PORT_CLOSED_LATER;
    if (fd >= 0) {
        ioctl(fd, TIOCNXCL);
        closed = close(fd) == 0;
    }
    const int reason = errno;
    TraceClose(handle, closed);
    errno = reason;
    return closed;
}
