#include "link/windows/idle_step.h"

#include "link/windows/message_pump.h"
#include "link/windows/message_queue.h"

int32_t LookPeriodMs(int32_t silentMs, int flowing)
{
    if (flowing && silentMs < LOOK_FLOWING_MS)
        return 0;
    if (silentMs < LOOK_EAGER_MS)
        return 1;
    return LOOK_SLOW_MS;
}

void WindowsIdleStep(HANDLE port, unsigned pendingSeen, int32_t remainingMs, IdleState *state)
{
    const uint32_t stepStart = TickCount();
    if (!state->paced) {
        state->paced = 1;
        state->paceStart = stepStart;
    }
    PumpMessages(state);
    const int pending = PendingBytes(port);
    const uint32_t now = TickCount();
    if (pending < 0)
        return;  // closed under the call: the caller's look ends it
    // new bytes, seen by the caller's last look or by this one: looked at
    // again at once while they keep coming
    const int arrived = state->took || pendingSeen > state->lastSeen || (unsigned)pending > pendingSeen;
    state->lastSeen = pendingSeen;
    state->took = 0;
    if (arrived) {
        state->paceStart = now;
        state->flowing = 1;
    }
    if ((unsigned)pending > pendingSeen)
        return;  // the caller takes them now
    int32_t sleepMs = LookPeriodMs((int32_t)(now - state->paceStart), state->flowing);
    const int32_t left = remainingMs - (int32_t)(now - stepStart);
    if (sleepMs > left)
        sleepMs = left;
    if (sleepMs > 0)
        SleepUntilMessage(sleepMs, &state->sleeper);
}

void WindowsEndIdle(IdleState *state)
{
    ReturnHeldMessages(state);
    ReleaseSleeper(&state->sleeper);
}
