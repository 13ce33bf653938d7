#include "link/wait.h"

void BeginWait(Wait *w, HANDLE port, int32_t timeoutMs)
{
    w->port = port;
    w->deadline = DeadlineIn(timeoutMs);
    const IdleState fresh = {0, 0, 0, 0, 0, 0, 0};
    w->idle = fresh;
}

int WaitPass(Wait *w, unsigned pendingSeen)
{
    // The remaining time only bounds the idle step; the decision is taken
    // on a fresh reading of the clock, so time spent in the host's window
    // procedures counts in full.
    IdleUntilInputOrTime(w->port, pendingSeen, DeadlineRemainingMs(w->deadline), &w->idle);
    return !DeadlinePassed(w->deadline);
}

int WaitPassAfterTaking(Wait *w, int took)
{
    w->idle.took = took;
    return WaitPass(w, 0);
}

void EndWait(Wait *w)
{
    EndIdle(&w->idle);
}

int WaitForBytes(HANDLE port, unsigned count, int32_t timeoutMs)
{
    Wait w;
    BeginWait(&w, port, timeoutMs);
    int pending = PendingBytes(port);
    // once the time is up the queue is looked at once more: bytes that
    // came in time count, however late the last pass ran
    int inTime = 1;
    while (pending >= 0 && (unsigned)pending < count && inTime) {
        inTime = WaitPass(&w, (unsigned)pending);
        pending = PendingBytes(port);
    }
    EndWait(&w);
    return pending < 0 ? pending : (unsigned)pending >= count;
}
