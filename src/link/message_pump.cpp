#include "message_pump.h"

#include "link.h"
#include "message_queue.h"

namespace {

// Whether dispatching does anything with the message: one for a window, or
// a timer message whose procedure dispatching runs. A timer message is
// never kept, since posting one by hand is not the same as a timer firing.
int IsDispatched(const QueuedMessage &m)
{
    return m.window != 0 || m.message == MESSAGE_TIMER;
}

// What a pass does with one message taken off the queue: 1 when it was
// kept or dispatched, 0 when the kept messages are full and it went back
// to the end of the queue at once.
int Handle(const QueuedMessage &m, HeldMessages *held)
{
    if (m.message == MESSAGE_QUIT) {
        held->quitPending = 1;
        held->quitCode = (int)m.wParam;
    } else if (IsDispatched(m)) {
        // Dispatched first and translated after, the reverse of a usual
        // message loop: the library has always done it so, and hosts
        // may rely on it.
        DispatchTaken(&m);
    } else if (held->count < HELD_MESSAGES_MAX) {
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

void PumpMessages(HeldMessages *held)
{
    const uint32_t passStart = TickCount();
    QueuedMessage m;
    while (TakeMessage(&m)) {
        if (!Handle(m, held) || TickCount() != passStart)
            return;
    }
}

void ReturnHeldMessages(HeldMessages *held)
{
    // Messages of the thread still queued came after those kept: they are
    // taken too (window messages stay where they are), so that all go back
    // in the order they came.
    QueuedMessage m;
    while (held->count < HELD_MESSAGES_MAX && TakeThreadMessage(&m))
        Handle(m, held);
    for (unsigned i = 0; i < held->count; ++i)
        PostToThread(held->messages[i].message, held->messages[i].wParam, held->messages[i].lParam);
    if (held->quitPending)
        PostQuit(held->quitCode);
    held->count = 0;
    held->quitPending = 0;
}
