// Small helpers over POSIX descriptors and system errors, for the tools.
#ifndef VOLMIRAX_FD_IO_H
#define VOLMIRAX_FD_IO_H

#include <cstddef>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

// The system's error of the call just made: GetLastError() or errno.
inline unsigned long LastSystemError()
{
#ifdef _WIN32
    return GetLastError();
#else
    return (unsigned long)errno;
#endif
}

#ifndef _WIN32
// Writes all `n` bytes to a non-blocking descriptor, waiting while it is
// full, so that nothing is dropped when the other side is slow: false when
// the descriptor fails.
inline bool WriteAll(int fd, const unsigned char *b, size_t n)
{
    while (n > 0) {
        ssize_t k = write(fd, b, n);
        if (k > 0) {
            b += k;
            n -= (size_t)k;
        } else if (k < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
    return true;
}
#endif

#endif
