// The link seam: everything a platform provides to the protocol, and
// nothing else. A handle that is not, or no longer, an open port (closed
// under the call by another thread) gives ERR_WRITE from every operation
// that returns a code, with the system's "bad handle" reason. One implementation per platform (windows/link_win32.cpp,
// posix/link_posix.cpp); the unit tests and the fuzzer link a scripted fake.
// The waits built on these operations are in wait.h.
#ifndef VOLMIRAX_LINK_H
#define VOLMIRAX_LINK_H

#include <stdint.h>

#include "volmirax.h"

// Writes all `count` bytes: 0, ERR_WRITE when the write fails,
// ERR_WRITE_SHORT when fewer bytes went out. Returns once the bytes have
// left the driver, so that a wait that follows counts from the end of the
// write.
int WriteBytes(HANDLE port, const unsigned char *bytes, unsigned count);

// Reads exactly `count` bytes: 0, ERR_READ when the read fails or the line
// has hung up, ERR_READ_SHORT when fewer bytes came in within the read
// time-out. Called only for bytes that PendingBytes has reported, so it
// returns at once.
int ReadBytes(HANDLE port, unsigned char *buffer, unsigned count);

// Number of received bytes waiting to be read (0 when the driver cannot
// tell), or ERR_WRITE when the handle is not, or no longer, an open port
// (closed under the call by another thread): the call ends there.
int PendingBytes(HANDLE port);

// Discards what is pending in the driver: received bytes first, then bytes
// not yet sent. An exchange starts from empty queues.
void Purge(HANDLE port);

// Milliseconds from a free-running 32-bit clock. Elapsed times are
// differences taken modulo 2^32 and read as signed (deadline.h).
uint32_t TickCount(void);

// What the idle steps of one wait keep from one pass to the next: the
// platform's own, opaque here. On Windows: the host's messages that the
// wait took off the queue and must give back (allocated only when one is
// kept), the timer it sleeps on, and the pace of its looks at the port;
// nothing on Linux. All zero when a wait begins; EndIdle releases it.
struct IdleState {
    void *held;
    void *sleeper;
    uint32_t paceStart;  // when the wait began, or last saw new bytes
    int paced;           // paceStart is set
    int flowing;         // paceStart is the time of new bytes
    unsigned lastSeen;   // the bytes the caller had seen at the last step
    int took;            // the caller took bytes since the last step (WaitPassAfterTaking)
};

// What a wait does between two looks at the input queue: it returns once
// more than `pendingSeen` bytes may be waiting, or `remainingMs` have
// passed, and the caller then reads the clock and looks at the queue
// again, so time-outs, the order of the steps and the results are the
// same on both platforms. On Windows it services the calling thread's
// message queue (message_pump.h), keeping in `state` the messages that
// are not the library's to consume, then sleeps until a message comes or
// the next look at the port is due (idle_step.h). On Linux, where there
// are no window messages, it sleeps in poll() until new bytes come.
void IdleUntilInputOrTime(HANDLE port, unsigned pendingSeen, int32_t remainingMs,
                          IdleState *state);

// Called once when a wait ends: gives what its idle steps kept back to the
// calling thread's queue and releases `state` (Windows); nothing elsewhere.
void EndIdle(IdleState *state);

#endif
