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

}  // namespace

void PumpMessages(HeldMessages *held)
{
    const uint32_t passStart = TickCount();
    QueuedMessage m;
    while (TakeMessage(&m)) {
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
            return;
        }
        if (TickCount() != passStart)
            return;
    }
}

void ReturnHeldMessages(HeldMessages *held)
{
    for (unsigned i = 0; i < held->count; ++i)
        PostToThread(held->messages[i].message, held->messages[i].wParam, held->messages[i].lParam);
    if (held->quitPending)
        PostQuit(held->quitCode);
    held->count = 0;
    held->quitPending = 0;
}
