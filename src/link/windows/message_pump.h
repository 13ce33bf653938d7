// The idle step of a wait on Windows: it keeps the host's messages flowing
// and keeps back those that are not the library's to consume.
//
// A pass takes messages off the calling thread's queue one by one:
// - a message for a window, or a WM_TIMER, is dispatched and then
//   translated (dispatching runs a thread timer's procedure; a WM_TIMER is
//   never kept, since posting one by hand is not a timer firing);
// - WM_QUIT is kept (its exit code) and given back last, when the wait ends;
// - any other message with no window, which dispatching would drop, is kept
//   in order with its values and given back when the wait ends, ahead of
//   the WM_QUIT. Past HELD_MESSAGES_MAX kept messages (or when no memory is
//   left to keep one), each further one is posted back at once to the end
//   of the queue and the pass ends there.
// The pass ends when the queue is empty, or after a message once the clock
// has moved on since the pass began; a pass that ends with messages still
// queued also takes one WM_TIMER or WM_PAINT that is due, which the system
// makes only when nothing is posted (a flood of posted messages would
// otherwise starve the host's timers). The wait reads the clock and looks at
// the input queue after every pass, so a stream of messages can neither
// hold a wait past its time-out nor keep it from seeing its bytes, beyond
// the time that the host's procedure spends in the one message being
// handled. It never sleeps.
#ifndef VOLMIRAX_MESSAGE_PUMP_H
#define VOLMIRAX_MESSAGE_PUMP_H

#include "link/link.h"

// One pass; what it holds back goes into state->held (a HeldMessages record).
void PumpMessages(IdleState *state);

// When the wait kept messages: takes the thread's messages that were still
// queued behind them when the wait ended too, posts all back to the thread's queue in the order they
// came, then the WM_QUIT, and frees the record. When it kept nothing, it
// touches no queue.
void ReturnHeldMessages(IdleState *state);

#endif
