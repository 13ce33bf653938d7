#include "virtual_line.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

VirtualLine *g_line = nullptr;

void VirtualLine::Send(const Bytes &bytes, int64_t delayUs)
{
    int64_t t = nowUs + delayUs;
    for (unsigned char b : bytes) {
        t += byteUs;
        in.emplace_back(t, b);
    }
}

int64_t VirtualLine::NextEvent() const
{
    int64_t next = INT64_MAX;
    if (!out.empty() && out.front().first > nowUs)
        next = out.front().first;
    else if (!out.empty())
        next = nowUs;
    if (!in.empty() && in.front().first < next)
        next = in.front().first;
    return next;
}

void VirtualLine::AdvanceTo(int64_t t)
{
    for (;;) {
        const int64_t next = NextEvent();
        if (next > t)
            break;
        nowUs = next > nowUs ? next : nowUs;
        while (!out.empty() && out.front().first <= nowUs) {
            unsigned char b = out.front().second;
            out.pop_front();
            received.push_back(b);
            if (onByte)
                onByte(*this, b);
        }
        while (!in.empty() && in.front().first <= nowUs) {
            rx.push_back(in.front().second);
            in.pop_front();
        }
    }
    if (t > nowUs)
        nowUs = t;
}

unsigned VirtualLine::OutQueued() const
{
    return static_cast<unsigned>(out.size());
}

extern "C" {

ssize_t __real_read(int, void *, size_t);
ssize_t __real_write(int, const void *, size_t);
int __real_ioctl(int, unsigned long, void *);
int __real_tcflush(int, int);
int __real_ppoll(pollfd *, nfds_t, const timespec *, const sigset_t *);
int __real_clock_gettime(clockid_t, timespec *);

ssize_t __wrap_read(int fd, void *buf, size_t n)
{
    if (!g_line || fd != VirtualLine::kFd)
        return __real_read(fd, buf, n);
    VirtualLine &l = *g_line;
    ++l.reads;
    if (l.readErrno || l.hungUp) {
        errno = l.readErrno ? l.readErrno : EIO;
        return -1;
    }
    size_t k = n < l.rx.size() ? n : l.rx.size();
    if (k > 0)
        memcpy(buf, l.rx.data(), k);
    l.rx.erase(l.rx.begin(), l.rx.begin() + k);
    return static_cast<ssize_t>(k);  // 0 when nothing is there: no minimum count, no timer
}

ssize_t __wrap_write(int fd, const void *buf, size_t n)
{
    if (!g_line || fd != VirtualLine::kFd)
        return __real_write(fd, buf, n);
    VirtualLine &l = *g_line;
    ++l.writes;
    size_t room = l.outCapacity - l.out.size();
    size_t k = n < room ? n : room;
    if (k == 0) {
        errno = EAGAIN;
        return -1;
    }
    const unsigned char *b = static_cast<const unsigned char *>(buf);
    for (size_t i = 0; i < k; ++i) {
        int64_t start = l.lineFreeAt > l.nowUs ? l.lineFreeAt : l.nowUs;
        l.lineFreeAt = l.stalled ? INT64_MAX / 2 : start + l.byteUs;
        l.out.emplace_back(l.lineFreeAt, b[i]);
    }
    return static_cast<ssize_t>(k);
}

// The link's sleeps: on the line (fds[0] is the line, or -1 for a plain
// sleep), and on the port's wake-up (fds[1], a real eventfd that a close
// from another thread sets).
int __wrap_ppoll(pollfd *fds, nfds_t nfds, const timespec *ts, const sigset_t *mask)
{
    if (!g_line || nfds != 2 || (fds[0].fd != VirtualLine::kFd && fds[0].fd != -1))
        return __real_ppoll(fds, nfds, ts, mask);
    VirtualLine &l = *g_line;
    const bool onLine = fds[0].fd == VirtualLine::kFd;
    ++(onLine ? l.polls : l.sleeps);
    fds[0].revents = fds[1].revents = 0;
    pollfd wake = {fds[1].fd, POLLIN, 0};
    if (wake.fd >= 0 && poll(&wake, 1, 0) > 0) {
        fds[1].revents = wake.revents;
        return 1;
    }
    const int64_t until = ts == nullptr ? INT64_MAX / 4 : l.nowUs + ts->tv_sec * 1000000LL + ts->tv_nsec / 1000;
    for (;;) {
        short ev = 0;
        if (onLine) {
            if (l.hungUp)
                ev |= POLLHUP;
            if ((fds[0].events & POLLIN) && !l.rx.empty())
                ev |= POLLIN;
            if ((fds[0].events & POLLOUT) && l.out.size() < l.outCapacity)
                ev |= POLLOUT;
        }
        if (ev) {
            fds[0].revents = ev;
            return 1;
        }
        const int64_t next = l.NextEvent();
        if (!onLine || next > until) {
            l.AdvanceTo(until);
            return 0;
        }
        l.AdvanceTo(next);
    }
}

int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!g_line || fd != VirtualLine::kFd)
        return __real_ioctl(fd, request, arg);
    if (request == TIOCOUTQ) {
        ++g_line->outqs;
        g_line->AdvanceTo(g_line->nowUs);
        *static_cast<int *>(arg) = static_cast<int>(g_line->OutQueued());
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

int __wrap_tcflush(int fd, int queue)
{
    if (!g_line || fd != VirtualLine::kFd)
        return __real_tcflush(fd, queue);
    VirtualLine &l = *g_line;
    l.AdvanceTo(l.nowUs);
    if (queue == TCOFLUSH || queue == TCIOFLUSH) {
        l.purgedOut += static_cast<unsigned>(l.out.size());
        l.out.clear();
        l.lineFreeAt = l.nowUs;
    }
    if (queue == TCIFLUSH || queue == TCIOFLUSH)
        l.rx.clear();
    return 0;
}

int __wrap_clock_gettime(clockid_t clock, timespec *ts)
{
    if (!g_line || clock != CLOCK_MONOTONIC)
        return __real_clock_gettime(clock, ts);
    ts->tv_sec = static_cast<time_t>(g_line->nowUs / 1000000);
    ts->tv_nsec = static_cast<long>(g_line->nowUs % 1000000) * 1000L;
    return 0;
}

}  // extern "C"
