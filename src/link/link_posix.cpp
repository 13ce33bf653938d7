// Link operations over a POSIX serial line opened non-blocking. Writes and
// reads are bounded by the same time-outs as on Windows; waits sleep in
// poll() instead of spinning, since there are no window messages to serve.
#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "line_mode.h"
#include "link.h"
#include "posix_handle.h"
#include "posix_speed.h"

namespace {

// Waits until the descriptor is ready for `events` or `limitMs` from
// `start` have passed; false on time-out or when the line has gone.
bool PollUntil(int fd, short events, uint32_t start, int32_t limitMs)
{
    for (;;) {
        int32_t left = RemainingMs(start, limitMs);
        pollfd p = {fd, events, 0};
        int r = poll(&p, 1, left);
        if (r > 0)
            return (p.revents & events) != 0;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

void SleepUs(int64_t us)
{
    timespec ts = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// A quarter of the time one byte takes at the line's rate, within 0.1 to
// 1 ms: how long to wait for the rest of bytes that are partly there.
int64_t PartialWaitUs(int fd)
{
    termios t;
    const int baud = tcgetattr(fd, &t) == 0 ? BaudOfSpeed(cfgetispeed(&t)) : 9600;
    const int64_t slice = 10 * 1000000LL / baud / 4;
    return slice < 100 ? 100 : slice > 1000 ? 1000 : slice;
}

// The driver time-out of a transfer of `count` bytes, as on Windows.
int32_t TotalTimeoutMs(int32_t perByte, int32_t constant, unsigned count)
{
    const int64_t total = (int64_t)perByte * count + constant;
    return total > INT32_MAX ? INT32_MAX : (int32_t)total;
}

// Moves all `count` bytes one way within the driver's time-out for that
// many: 0; the failure code when the call fails or the line has hung up (a
// read of 0); the short code when the time-out passes first.
int Transfer(int fd, unsigned char *bytes, unsigned count, bool writing)
{
    const uint32_t start = TickCount();
    const int32_t limit = writing ? TotalTimeoutMs(WRITE_TOTAL_MULTIPLIER, WRITE_TOTAL_CONSTANT, count)
                                  : TotalTimeoutMs(READ_TOTAL_MULTIPLIER, READ_TOTAL_CONSTANT, count);
    unsigned done = 0;
    while (done < count) {
        ssize_t n = writing ? write(fd, bytes + done, count - done) : read(fd, bytes + done, count - done);
        if (n > 0) {
            done += (unsigned)n;
        } else if ((n == 0 && !writing) || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return writing ? ERR_WRITE : ERR_READ;
        } else if (!PollUntil(fd, writing ? POLLOUT : POLLIN, start, limit)) {
            return writing ? ERR_WRITE_SHORT : ERR_READ_SHORT;
        }
    }
    return 0;
}

}  // namespace

int WriteBytes(HANDLE port, const unsigned char *bytes, unsigned count)
{
    // write() does not change the bytes; the cast only lets one loop serve both ways
    return Transfer(PortDescriptor(port), const_cast<unsigned char *>(bytes), count, true);
}

int ReadBytes(HANDLE port, unsigned char *buffer, unsigned count)
{
    return Transfer(PortDescriptor(port), buffer, count, false);
}

unsigned PendingBytes(HANDLE port)
{
    int n = 0;
    if (ioctl(PortDescriptor(port), FIONREAD, &n) != 0 || n < 0)
        return 0;
    return (unsigned)n;
}

int PurgeRx(HANDLE port)
{
    tcflush(PortDescriptor(port), TCIFLUSH);
    return 0;
}

int PurgeTx(HANDLE port)
{
    tcflush(PortDescriptor(port), TCOFLUSH);
    return 0;
}

uint32_t TickCount(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

void IdleUntilInputOrTime(HANDLE port, unsigned pendingSeen, int32_t remainingMs)
{
    if (remainingMs <= 0)
        return;
    const int fd = PortDescriptor(port);
    if (pendingSeen > 0) {
        // Some bytes are there but not enough: poll() would return at once,
        // so wait a fraction of a byte time instead.
        const int64_t us = PartialWaitUs(fd);
        SleepUs(us < remainingMs * 1000LL ? us : remainingMs * 1000LL);
        return;
    }
    pollfd p = {fd, POLLIN, 0};
    int r = poll(&p, 1, remainingMs);
    if (r > 0 && !(p.revents & POLLIN)) {
        // The line has hung up: nothing will arrive, but do not spin.
        SleepUs((remainingMs < 10 ? remainingMs : 10) * 1000LL);
    }
}
