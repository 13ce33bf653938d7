#include "link/windows/message_pump.h"

#include <stdlib.h>

#include "link/windows/held_messages.h"
#include "link/windows/message_queue.h"

namespace {

HeldMessages *Resize(HeldMessages *held, unsigned capacity)
{
    const size_t bytes = sizeof(HeldMessages) + (capacity - 1) * sizeof(HeldMessage);
    HeldMessages *grown = (HeldMessages *)realloc(held, bytes);
    if (grown == 0)
        return 0;
    if (held == 0) {
        grown->count = 0;
        grown->quitPending = 0;
        grown->quitCode = 0;
    }
    grown->capacity = capacity;
    return grown;
}

// The wait's record, made when it needs one; null when there is no memory.
HeldMessages *Record(IdleState *state)
{
    if (state->held == 0)
        state->held = Resize(0, HELD_MESSAGES_FIRST);
    return (HeldMessages *)state->held;
}

// The record with room for one more message; null when HELD_MESSAGES_MAX
// are kept or it cannot grow.
HeldMessages *RoomForOne(IdleState *state)
{
    HeldMessages *held = Record(state);
    if (held == 0 || held->count < held->capacity)
        return held;
    if (held->capacity >= HELD_MESSAGES_MAX)
        return 0;
    const unsigned limit = HELD_MESSAGES_MAX;
    const unsigned capacity = held->capacity * 2 < limit ? held->capacity * 2 : limit;
    HeldMessages *grown = Resize(held, capacity);
    if (grown != 0)
        state->held = grown;
    return grown;
}

// Whether dispatching does anything with the message: one for a window, or
// a timer message whose procedure dispatching runs. A timer message is
// never kept, since posting one by hand is not the same as a timer firing.
int IsDispatched(const QueuedMessage &m)
{
    return m.window != 0 || m.message == MESSAGE_TIMER;
}

// What a pass does with one message taken off the queue: 1 when it was
// kept or dispatched, 0 when it could not be kept and went back to the end
// of the queue at once.
int Handle(const QueuedMessage &m, IdleState *state)
{
    if (m.message == MESSAGE_QUIT) {
        HeldMessages *held = Record(state);
        if (held == 0) {
            PostQuit((int)m.wParam);
            return 0;
        }
        held->quitPending = 1;
        held->quitCode = (int)m.wParam;
    } else if (IsDispatched(m)) {
        // Dispatched first and translated after, the reverse of a usual
        // message loop, as the reference's message rules state.
        DispatchTaken(&m);
    } else if (HeldMessages *held = RoomForOne(state)) {
        HeldMessage &h = held->messages[held->count++];
        h.message = m.message;
        h.wParam = m.wParam;
        h.lParam = m.lParam;
    } else {
        PostToThread(m.message, m.wParam, m.lParam);
        return 0;
    }
    return 1;
}

}  // namespace

void PumpMessages(IdleState *state)
{
    const uint32_t passStart = TickCount();
    QueuedMessage m;
    while (TakeMessage(&m)) {
        if (!Handle(m, state))
            return;
        if (TickCount() != passStart) {
            // the pass ends with messages still queued: a timer or paint that
            // is due gets its turn all the same
            if (TakeStarvedMessage(&m))
                Handle(m, state);
            return;
        }
    }
}

void ReturnHeldMessages(IdleState *state)
{
    HeldMessages *held = (HeldMessages *)state->held;
    if (held == 0)
        return;
    if (held->count > 0) {
        // Messages of the thread still queued when the wait ended came after
        // those kept: they are taken too (window messages stay where they
        // are), so that all go back in the order they came. A mark posted
        // now ends the taking: what another thread posts from here on stays
        // where it is, so a thread that never stops posting cannot hold the
        // call. Without the mark (the queue at its limit), the taking ends
        // when the queue is empty or HELD_MESSAGES_MAX are kept.
        const int marked = PostGiveBackMark();
        int markTaken = 0;
        QueuedMessage m;
        while (TakeThreadMessage(&m)) {
            if (marked && IsGiveBackMark(&m)) {
                markTaken = 1;
                break;
            }
            if (!Handle(m, state))
                break;
        }
        if (marked && !markTaken)
            RemoveGiveBackMark();
        held = (HeldMessages *)state->held;
    }
    // A post that fails (the queue at the system's limit) loses that
    // message: there is nowhere else to put it once the call returns.
    for (unsigned i = 0; i < held->count; ++i)
        PostToThread(held->messages[i].message, held->messages[i].wParam, held->messages[i].lParam);
    if (held->quitPending)
        PostQuit(held->quitCode);
    free(held);
    state->held = 0;
}
