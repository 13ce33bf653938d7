#include "tap.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "fd_io.h"
#include "wire_model.h"
#include "serial_ports.h"

namespace {

volatile sig_atomic_t g_stop = 0;

double NowSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The settings of the line that the host has set on its pseudo-terminal,
// carried over to the device: rate, character size, parity, stop bits.
void FollowSettings(int hostSide, int device, tcflag_t &lastFlags, speed_t &lastSpeed)
{
    termios h, d;
    if (tcgetattr(hostSide, &h) != 0 || tcgetattr(device, &d) != 0)
        return;
    const tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB;
    const speed_t speed = cfgetospeed(&h);
    if ((h.c_cflag & mask) == lastFlags && speed == lastSpeed)
        return;
    lastFlags = h.c_cflag & mask;
    lastSpeed = speed;
    d.c_cflag = (d.c_cflag & ~mask) | lastFlags;
    cfsetispeed(&d, speed);
    cfsetospeed(&d, speed);
    tcsetattr(device, TCSANOW, &d);
}

void SetRaw(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

void Trace(FILE *trace, double t0, const std::vector<LineDecoder::Message> &messages)
{
    if (!trace)
        return;
    for (const auto &m : messages)
        fprintf(trace, "%s\n",
                TraceLine(NowSeconds() - t0, m.direction == LineDecoder::HOST_TO_DEVICE ? "host>dev" : "dev>host",
                          m.bytes, m.meaning)
                    .c_str());
    fflush(trace);
}

}  // namespace

int RunTap(const std::string &devicePath, const std::string &link, FILE *trace)
{
    // The device is held exclusively, as the library holds a port: nothing
    // else may read its bytes while the tap forwards them.
    const int device = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int reason = device < 0 ? errno : 0;
    if (device >= 0 && !isatty(device))
        reason = ENOTTY;
    else if (device >= 0 && flock(device, LOCK_EX | LOCK_NB) != 0)
        reason = EBUSY;
    else if (device >= 0)
        ioctl(device, TIOCEXCL);
    if (reason != 0) {
        fprintf(stderr, "volmirax: %s\n", OpenFailureMessage(devicePath, (unsigned long)reason).c_str());
        return 3;
    }
    SetRaw(device);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        perror("volmirax: pseudo-terminal");
        return 1;
    }
    const std::string slavePath = ptsname(master);
    // Kept open, so that the line stays up between the host's opens and
    // its settings can be read.
    const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    SetRaw(slave);
    unlink(link.c_str());
    if (symlink(slavePath.c_str(), link.c_str()) != 0) {
        perror("volmirax: link");
        return 1;
    }
    fprintf(stderr, "volmirax: tap %s <-> %s (host side %s)\n", link.c_str(), devicePath.c_str(), slavePath.c_str());
    signal(SIGINT, [](int) { g_stop = 1; });
    signal(SIGTERM, [](int) { g_stop = 1; });

    LineDecoder decoder;
    tcflag_t flags = 0;
    speed_t speed = 0;
    const double t0 = NowSeconds();
    unsigned char buf[4096];
    while (!g_stop) {
        FollowSettings(slave, device, flags, speed);
        pollfd p[2] = {{master, POLLIN, 0}, {device, POLLIN, 0}};
        // settings are looked at again at least every 50 ms, and before any
        // byte the host writes goes on
        if (poll(p, 2, 50) <= 0)
            continue;
        if (p[0].revents & POLLIN) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) {
                FollowSettings(slave, device, flags, speed);
                if (!WriteAll(device, buf, (size_t)n))
                    break;
                Trace(trace, t0, decoder.Feed(LineDecoder::HOST_TO_DEVICE, Bytes(buf, buf + n)));
            }
        }
        if (p[1].revents & POLLIN) {
            ssize_t n = read(device, buf, sizeof buf);
            if (n > 0) {
                WriteAll(master, buf, (size_t)n);
                Trace(trace, t0, decoder.Feed(LineDecoder::DEVICE_TO_HOST, Bytes(buf, buf + n)));
            }
        }
        if (p[1].revents & (POLLHUP | POLLERR)) {
            fprintf(stderr, "volmirax: the device has gone\n");
            break;
        }
    }
    unlink(link.c_str());
    close(slave);
    close(master);
    close(device);
    return 0;
}
