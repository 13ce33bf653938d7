// The tools' and tests' clock: microseconds from a monotonic clock, on
// Windows (QueryPerformanceCounter) and POSIX (CLOCK_MONOTONIC) alike.
#ifndef VOLMIRAX_TOOL_CLOCK_H
#define VOLMIRAX_TOOL_CLOCK_H

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

inline int64_t MonotonicUs()
{
#ifdef _WIN32
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (int64_t)(c.QuadPart / f.QuadPart * 1000000 + c.QuadPart % f.QuadPart * 1000000 / f.QuadPart);
#else
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
#endif
}

inline long long MonotonicMs() { return MonotonicUs() / 1000; }

#endif
