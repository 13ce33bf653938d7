// The byte-level operations on an open port that the protocol is written
// against, and the millisecond clock. One implementation per platform
// (link_win32.cpp, link_posix.cpp); the unit tests link a scripted fake.
#ifndef VOLMIRAX_LINK_H
#define VOLMIRAX_LINK_H

#include <stdint.h>

#include "volmirax.h"

// Writes all `count` bytes: 0, ERR_WRITE when the write fails,
// ERR_WRITE_SHORT when fewer bytes went out.
int WriteBytes(HANDLE port, const unsigned char *bytes, unsigned count);

// Reads exactly `count` bytes: 0, ERR_READ when the read fails,
// ERR_READ_SHORT when fewer bytes came in. Called only for bytes that
// PendingBytes has reported, so it returns at once.
int ReadBytes(HANDLE port, unsigned char *buffer, unsigned count);

// Number of received bytes waiting in the input queue (0 when the driver
// cannot tell).
unsigned PendingBytes(HANDLE port);

// Discard pending input / output. Always 0.
int PurgeRx(HANDLE port);
int PurgeTx(HANDLE port);

// Milliseconds from a free-running 32-bit clock. Elapsed times are
// differences taken modulo 2^32 and read as signed.
uint32_t TickCount(void);

// What a wait does between two looks at the input queue. On Windows it
// drains the calling thread's message queue once and returns at once,
// whatever the arguments say. On Linux, where there are no window
// messages, it sleeps until more than `pendingSeen` bytes may be waiting
// or `remainingMs` have passed. Either way the caller then reads the
// clock and looks at the queue again, so time-outs, the order of the
// steps and the results are the same on both.
void IdleUntilInputOrTime(HANDLE port, unsigned pendingSeen, int32_t remainingMs);

// Waits until at least `count` bytes are pending: 1 when they are,
// 0 when `timeoutMs` passed first. Reads nothing.
int WaitForBytes(HANDLE port, unsigned count, int32_t timeoutMs);

// Elapsed milliseconds since `start`, as a signed value.
static inline int32_t ElapsedSince(uint32_t start)
{
    return (int32_t)(TickCount() - start);
}

// Milliseconds left of `timeoutMs` counted from `start`, never negative.
static inline int32_t RemainingMs(uint32_t start, int32_t timeoutMs)
{
    int64_t left = (int64_t)timeoutMs - ElapsedSince(start);
    return left > 0 ? (int32_t)left : 0;
}

#endif
