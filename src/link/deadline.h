// A time limit on the 32-bit millisecond clock. Differences of two
// readings are taken modulo 2^32 and read as signed, so a limit holds
// across the clock's wrap; the time is up once the elapsed time is greater
// than or equal to the limit (a limit of 0 or less is up at once).
#ifndef VOLMIRAX_DEADLINE_H
#define VOLMIRAX_DEADLINE_H

#include <stdint.h>

#include "link/link.h"

struct Deadline {
    uint32_t start;
    int32_t limitMs;
};

static inline Deadline DeadlineIn(int32_t limitMs)
{
    Deadline d = {TickCount(), limitMs};
    return d;
}

static inline int32_t DeadlineElapsedMs(Deadline d)
{
    return (int32_t)(TickCount() - d.start);
}

static inline int DeadlinePassed(Deadline d)
{
    return DeadlineElapsedMs(d) >= d.limitMs;
}

// Milliseconds left, never negative.
static inline int32_t DeadlineRemainingMs(Deadline d)
{
    int64_t left = (int64_t)d.limitMs - DeadlineElapsedMs(d);
    return left > 0 ? (int32_t)left : 0;
}

#endif
