// The idle step of a wait on Windows: the host's messages serviced, then a
// sleep until a message comes or the next look at the port is due.
//
// The port's handle is synchronous (the host may use it with its own
// calls), so nothing wakes the thread when a byte arrives: the port is
// looked at on a period. The period is short while an answer is likely and
// grows while the line stays silent, so that a device that answers at once
// is seen at once and a long silent wait costs almost nothing:
// - bytes flowing (new ones came within LOOK_FLOWING_MS): no sleep;
// - the first LOOK_EAGER_MS of silence: a look every millisecond;
// - then every LOOK_SLOW_MS.
// A message for the thread (also one seen and left in the queue) ends the
// sleep at once, and the sleep never passes the wait's deadline.
#ifndef VOLMIRAX_IDLE_STEP_H
#define VOLMIRAX_IDLE_STEP_H

#include "link/link.h"

enum {
    LOOK_FLOWING_MS = 2,
    LOOK_EAGER_MS = 50,
    LOOK_SLOW_MS = 16
};

// How long to sleep before the next look, `silentMs` after the wait began
// (`flowing` 0) or after new bytes were last seen (`flowing` 1).
int32_t LookPeriodMs(int32_t silentMs, int flowing);

// One idle step: PumpMessages, then, unless more than `pendingSeen` bytes
// are waiting already, a sleep of the period, cut short by a message and
// never past `remainingMs` from the step's start.
void WindowsIdleStep(HANDLE port, unsigned pendingSeen, int32_t remainingMs, IdleState *state);

// The end of a wait: what it kept goes back to the thread, its timer is
// released.
void WindowsEndIdle(IdleState *state);

#endif
