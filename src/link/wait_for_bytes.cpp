#include "link.h"

int WaitForBytes(HANDLE port, unsigned count, int32_t timeoutMs)
{
    const uint32_t start = TickCount();
    unsigned pending = PendingBytes(port);
    if (pending >= count)
        return 1;
    for (;;) {
        // The remaining time only tells a sleeping platform how long it may
        // sleep; the decision below is taken on a fresh reading of the clock.
        IdleUntilInputOrTime(port, pending, RemainingMs(start, timeoutMs));
        if (ElapsedSince(start) >= timeoutMs)
            return 0;
        pending = PendingBytes(port);
        if (pending >= count)
            return 1;
    }
}
