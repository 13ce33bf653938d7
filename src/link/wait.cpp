#include "link/wait.h"

void BeginWait(Wait *w, HANDLE port, int32_t timeoutMs)
{
    w->port = port;
    w->deadline = DeadlineIn(timeoutMs);
    w->idle.kept = 0;
}

int WaitPass(Wait *w, unsigned pendingSeen)
{
    // The remaining time only bounds the idle step; the decision is taken
    // on a fresh reading of the clock, so time spent in the host's window
    // procedures counts in full.
    IdleUntilInputOrTime(w->port, pendingSeen, DeadlineRemainingMs(w->deadline), &w->idle);
    return !DeadlinePassed(w->deadline);
}

void EndWait(Wait *w)
{
    EndIdle(&w->idle);
}

int WaitForBytes(HANDLE port, unsigned count, int32_t timeoutMs)
{
    Wait w;
    BeginWait(&w, port, timeoutMs);
    unsigned pending = PendingBytes(port);
    int reached = pending >= count;
    // once the time is up the queue is looked at once more: bytes that
    // came in time count, however late the last pass ran
    int inTime = 1;
    while (!reached && inTime) {
        inTime = WaitPass(&w, pending);
        pending = PendingBytes(port);
        reached = pending >= count;
    }
    EndWait(&w);
    return reached;
}
