// The waits of the protocol, built on the link seam: a wait is a deadline
// and the idle steps taken until it passes. Each pass is one idle step,
// then one reading of the clock; the caller looks at the input queue
// between passes.
#ifndef VOLMIRAX_WAIT_H
#define VOLMIRAX_WAIT_H

#include "link/deadline.h"
#include "link/link.h"

struct Wait {
    HANDLE port;
    Deadline deadline;
    IdleState idle;
};

void BeginWait(Wait *w, HANDLE port, int32_t timeoutMs);

// One idle step (told how many bytes the caller has already seen), then
// the clock: 0 once the time is up, 1 otherwise.
int WaitPass(Wait *w, unsigned pendingSeen);

// The same for a caller that takes the bytes as they come (none stay
// waiting): `took` says whether its last look took any, so that the idle
// step knows the bytes are flowing.
int WaitPassAfterTaking(Wait *w, int took);

// Ends the wait: the host's messages held during it go back to its queue.
void EndWait(Wait *w);

// Waits until at least `count` bytes are pending: 1 when they are, 0 when
// `timeoutMs` passed first, ERR_WRITE when the port was closed meanwhile. Bytes already there are reached without an
// idle step; the queue is looked at once more after the time is up, so
// bytes that came in time are never a time-out. Reads nothing.
int WaitForBytes(HANDLE port, unsigned count, int32_t timeoutMs);

#endif
