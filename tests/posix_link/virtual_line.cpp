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
int __real_poll(pollfd *, nfds_t, int);
int __real_ioctl(int, unsigned long, void *);
int __real_tcflush(int, int);
int __real_nanosleep(const timespec *, timespec *);
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

int __wrap_poll(pollfd *fds, nfds_t nfds, int timeoutMs)
{
    if (!g_line || nfds != 1 || fds[0].fd != VirtualLine::kFd)
        return __real_poll(fds, nfds, timeoutMs);
    VirtualLine &l = *g_line;
    ++l.polls;
    const int64_t until = timeoutMs < 0 ? INT64_MAX / 4 : l.nowUs + timeoutMs * 1000LL;
    for (;;) {
        short ev = 0;
        if (l.hungUp)
            ev |= POLLHUP;
        if ((fds[0].events & POLLIN) && !l.rx.empty())
            ev |= POLLIN;
        if ((fds[0].events & POLLOUT) && l.out.size() < l.outCapacity)
            ev |= POLLOUT;
        if (ev) {
            fds[0].revents = ev;
            return 1;
        }
        const int64_t next = l.NextEvent();
        if (next > until) {
            l.AdvanceTo(until);
            fds[0].revents = 0;
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

int __wrap_nanosleep(const timespec *req, timespec *rem)
{
    if (!g_line)
        return __real_nanosleep(req, rem);
    ++g_line->sleeps;
    g_line->AdvanceTo(g_line->nowUs + req->tv_sec * 1000000LL + req->tv_nsec / 1000);
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
