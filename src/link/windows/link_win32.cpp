// Link operations over the Win32 serial API. The port is opened for
// synchronous I/O, so every call here completes before it returns.
#include <windows.h>

#include "link/link.h"
#include "link/windows/comm_handle.h"
#include "link/windows/idle_step.h"

int WriteBytes(HANDLE port, const unsigned char *bytes, unsigned count)
{
    // A host's file, pipe or event is not a port: nothing goes into it.
    if (!IsCommHandle(port))
        return ERR_WRITE;
    DWORD written = 0;
    if (!WriteFile(port, bytes, count, &written, NULL))
        return ERR_WRITE;
    return written < count ? ERR_WRITE_SHORT : 0;
}

int ReadBytes(HANDLE port, unsigned char *buffer, unsigned count)
{
    DWORD read = 0;
    if (!ReadFile(port, buffer, count, &read, NULL))
        return ClosedUnderTheCall() ? ERR_WRITE : ERR_READ;
    return read < count ? ERR_READ_SHORT : 0;
}

int PendingBytes(HANDLE port)
{
    DWORD errors = 0;
    COMSTAT stat;
    // The call also clears the driver's pending line errors, which are of
    // no interest here. A handle closed under the call ends it; a line
    // that fails otherwise (hung up) is left to the wait's time-out.
    if (!ClearCommError(port, &errors, &stat))
        return ClosedUnderTheCall() ? ERR_WRITE : 0;
    return stat.cbInQue < INT32_MAX ? (int)stat.cbInQue : INT32_MAX;
}

void Purge(HANDLE port)
{
    PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR);
    PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
}

uint32_t TickCount(void)
{
    return GetTickCount();
}

void IdleUntilInputOrTime(HANDLE port, unsigned pendingSeen, int32_t remainingMs, IdleState *state)
{
    WindowsIdleStep(port, pendingSeen, remainingMs, state);
}

void EndIdle(IdleState *state)
{
    WindowsEndIdle(state);
}
