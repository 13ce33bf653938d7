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

namespace {

// Waits until the descriptor is ready for `events` or `deadline` passes;
// false on time-out or when the line has gone.
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

void SleepMs(int32_t ms)
{
    timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

int WriteBytes(HANDLE port, const unsigned char *bytes, unsigned count)
{
    const int fd = PortDescriptor(port);
    const uint32_t start = TickCount();
    const int32_t limit = (int32_t)(WRITE_TOTAL_MULTIPLIER * (int64_t)count + WRITE_TOTAL_CONSTANT > INT32_MAX
                                        ? INT32_MAX
                                        : WRITE_TOTAL_MULTIPLIER * (int64_t)count + WRITE_TOTAL_CONSTANT);
    unsigned done = 0;
    while (done < count) {
        ssize_t n = write(fd, bytes + done, count - done);
        if (n > 0) {
            done += (unsigned)n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return ERR_WRITE;
        } else if (!PollUntil(fd, POLLOUT, start, limit)) {
            return ERR_WRITE_SHORT;  // the write time-out passed
        }
    }
    return 0;
}

int ReadBytes(HANDLE port, unsigned char *buffer, unsigned count)
{
    const int fd = PortDescriptor(port);
    const uint32_t start = TickCount();
    const int64_t total = (int64_t)READ_TOTAL_MULTIPLIER * count + READ_TOTAL_CONSTANT;
    const int32_t limit = total > INT32_MAX ? INT32_MAX : (int32_t)total;
    unsigned done = 0;
    while (done < count) {
        ssize_t n = read(fd, buffer + done, count - done);
        if (n > 0) {
            done += (unsigned)n;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return ERR_READ;  // the line has hung up or failed
        } else if (!PollUntil(fd, POLLIN, start, limit)) {
            return ERR_READ_SHORT;
        }
    }
    return 0;
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
    if (pendingSeen > 0) {
        // Some bytes are there but not enough: poll() would return at once,
        // so wait about one byte time instead.
        SleepMs(1);
        return;
    }
    pollfd p = {PortDescriptor(port), POLLIN, 0};
    int r = poll(&p, 1, remainingMs);
    if (r > 0 && !(p.revents & POLLIN)) {
        // The line has hung up: nothing will arrive, but do not spin.
        SleepMs(remainingMs < 10 ? remainingMs : 10);
    }
}
