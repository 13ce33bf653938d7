// Link operations over a POSIX serial line opened non-blocking. Writes
// return once the bytes have left the driver and reads are bounded by the
// same time-outs as on Windows; waits sleep in poll() until new input
// arrives, since there are no window messages to serve.
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "link/deadline.h"
#include "link/port_settings.h"
#include "link/link.h"
#include "link/posix/posix_port.h"

namespace {

// Sleeps until the line is ready for `events` (none: only the time), the
// port is closed by another thread, or `us` have passed: 1 when there is
// something to look at (the line ready, or the port closed: the caller
// finds the handle dead), 0 on time-out, -1 when the line reports a
// hang-up or an error instead.
int SleepUntil(const PosixPort *p, short events, int64_t us)
{
    pollfd fds[2] = {{events ? p->fd : -1, events, 0}, {p->wakeFd, POLLIN, 0}};
    timespec ts = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000L};
    for (;;) {
        const int r = ppoll(fds, 2, &ts, 0);
        if (r > 0)
            return fds[1].revents || (fds[0].revents & events) ? 1 : -1;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

// The same until a deadline, read anew after every wake-up.
int PollUntil(const PosixPort *p, short events, Deadline deadline)
{
    for (;;) {
        const int r = SleepUntil(p, events, (int64_t)DeadlineRemainingMs(deadline) * 1000);
        if (r != 0 || DeadlinePassed(deadline))
            return r;
    }
}

// The driver time-out of a transfer of `count` bytes, as on Windows.
Deadline TransferDeadline(int32_t perByte, int32_t constant, unsigned count)
{
    const int64_t total = (int64_t)perByte * count + constant;
    return DeadlineIn(total > INT32_MAX ? INT32_MAX : (int32_t)total);
}

unsigned Buffered(const PosixPort *p) { return p->end - p->start; }

// The port's record, held for the operation in this scope: null when the
// handle is not a live port (errno EBADF).
struct PortInUse {
    HANDLE handle;
    PosixPort *p;
    explicit PortInUse(HANDLE h) : handle(h), p(UsePort(h)) {}
    ~PortInUse()
    {
        if (p != 0)
            LeavePort(handle);
    }
};

// Reads what the driver holds into the read-ahead: the number of bytes
// read. The line is opened with no minimum count and no read timer, so a
// read of 0 means nothing is there; a failed read (EIO once the line has
// hung up) marks the line gone, with errno telling why.
unsigned Fill(PosixPort *p)
{
    if (p->start == p->end)
        p->start = p->end = 0;
    if (p->end == READ_AHEAD_SIZE && p->start > 0) {
        memmove(p->ahead, p->ahead + p->start, Buffered(p));
        p->end -= p->start;
        p->start = 0;
    }
    if (p->end == READ_AHEAD_SIZE)
        return 0;
    ssize_t n = read(p->fd, p->ahead + p->end, READ_AHEAD_SIZE - p->end);
    if (n > 0) {
        p->end += (unsigned)n;
        return (unsigned)n;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        p->gone = 1;
    return 0;
}

// The line reports itself readable but gives nothing: it has hung up.
void MarkGone(PosixPort *p)
{
    p->gone = 1;
    errno = EIO;
}

unsigned Take(PosixPort *p, unsigned char *buffer, unsigned count)
{
    const unsigned n = Buffered(p) < count ? Buffered(p) : count;
    memcpy(buffer, p->ahead + p->start, n);
    p->start += n;
    return n;
}

// Bytes still in the driver's output queue (0 when it cannot tell).
unsigned OutputQueued(int fd)
{
    int n = 0;
    if (ioctl(fd, TIOCOUTQ, &n) != 0 || n < 0)
        return 0;
    return (unsigned)n;
}

// Waits until the driver's output queue is empty, sleeping about as long as
// the queued bytes take on the line, then longer each time they have not
// gone: 0, ERR_WRITE_SHORT when the deadline passes first, ERR_WRITE when
// the port is closed meanwhile.
int AwaitOutputDrained(HANDLE port, const PosixPort *p, Deadline deadline)
{
    int64_t backoffUs = 0;
    for (unsigned queued; (queued = OutputQueued(p->fd)) > 0;) {
        if (!StillOpen(port))
            return ERR_WRITE;
        if (DeadlinePassed(deadline))
            return ERR_WRITE_SHORT;
        int64_t us = (int64_t)queued * p->byteUs;
        if (us < backoffUs)
            us = backoffUs;
        // never past the deadline by more than a tick of the clock, so that
        // the next look finds the time up
        const int64_t left = (int64_t)DeadlineRemainingMs(deadline) * 1000 + 1000;
        SleepUntil(p, 0, us < left ? us : left);
        backoffUs = us * 2 < 10000 ? us * 2 : 10000;
    }
    return 0;
}

// A write that did not complete leaves nothing queued behind it to reach
// the device after the call has returned, as a timed-out write on Windows
// does not carry on.
int AbandonWrite(const PosixPort *p, int rc)
{
    const int reason = errno;
    tcflush(p->fd, TCOFLUSH);
    errno = reason;
    return rc;
}

}  // namespace

int WriteBytes(HANDLE port, const unsigned char *bytes, unsigned count)
{
    PortInUse use(port);
    const PosixPort *p = use.p;
    if (p == 0)
        return ERR_WRITE;
    const Deadline deadline = TransferDeadline(WRITE_TOTAL_MULTIPLIER, WRITE_TOTAL_CONSTANT, count);
    unsigned done = 0;
    while (done < count) {
        // closed by another thread while the line was full: nothing more
        if (!StillOpen(port))
            return ERR_WRITE;
        ssize_t n = write(p->fd, bytes + done, count - done);
        if (n > 0)
            done += (unsigned)n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return AbandonWrite(p, ERR_WRITE);
        else if (PollUntil(p, POLLOUT, deadline) <= 0)
            return AbandonWrite(p, ERR_WRITE_SHORT);
    }
    // The bytes are queued; they count as written once they have left.
    const int rc = AwaitOutputDrained(port, p, deadline);
    return rc == 0 || rc == ERR_WRITE ? rc : AbandonWrite(p, rc);
}

int ReadBytes(HANDLE port, unsigned char *buffer, unsigned count)
{
    PortInUse use(port);
    PosixPort *p = use.p;
    if (p == 0)
        return ERR_WRITE;
    unsigned done = Take(p, buffer, count);
    if (done == count)
        return 0;
    const Deadline deadline = TransferDeadline(READ_TOTAL_MULTIPLIER, READ_TOTAL_CONSTANT, count);
    for (bool readable = false;; readable = true) {
        if (!StillOpen(port))
            return ERR_WRITE;
        const unsigned got = Fill(p);
        done += Take(p, buffer + done, count - done);
        if (done == count)
            return 0;
        if (readable && got == 0 && !p->gone)
            MarkGone(p);  // readable but nothing to read: hung up
        if (p->gone)
            return ERR_READ;
        const int ready = PollUntil(p, POLLIN, deadline);
        if (ready == 0)
            return ERR_READ_SHORT;
        if (ready < 0) {
            MarkGone(p);
            return ERR_READ;
        }
    }
}

int PendingBytes(HANDLE port)
{
    PortInUse use(port);
    PosixPort *p = use.p;
    if (p == 0)
        return ERR_WRITE;
    if (Buffered(p) == 0 && !p->gone)
        Fill(p);
    return (int)Buffered(p);
}

void Purge(HANDLE port)
{
    PortInUse use(port);
    PosixPort *p = use.p;
    if (p == 0)
        return;
    tcflush(p->fd, TCIFLUSH);
    p->start = p->end = 0;
    p->gone = 0;  // looked at again by the next read
    tcflush(p->fd, TCOFLUSH);
}

uint32_t TickCount(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

void IdleUntilInputOrTime(HANDLE port, unsigned pendingSeen, int32_t remainingMs, IdleState *)
{
    PortInUse use(port);
    PosixPort *p = use.p;
    if (p == 0)
        return;  // closed under the call: the next look ends it
    if (remainingMs <= 0 || Buffered(p) > pendingSeen)
        return;
    // The read-ahead holds all that the driver had, so poll() sleeps until
    // new bytes come.
    const Deadline deadline = DeadlineIn(remainingMs);
    while (!p->gone) {
        const int ready = PollUntil(p, POLLIN, deadline);
        if (ready == 0 || !StillOpen(port))
            return;
        if (ready > 0 && Fill(p) > 0)
            return;
        if (!p->gone)
            MarkGone(p);  // readable but nothing to read, or a hang-up reported
    }
    // Nothing will come on a line that has gone; sleep out the time.
    SleepUntil(p, 0, (int64_t)DeadlineRemainingMs(deadline) * 1000);
}

void EndIdle(IdleState *)
{
    // An idle step here keeps nothing.
}
