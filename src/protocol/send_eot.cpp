// The abort exchange: DLE EOT CR out, the same three bytes back.
#include <string.h>

#include "link/wait.h"
#include "protocol/exchange.h"
#include "protocol/frame.h"

int RunAbort(HANDLE hPort, int eotTimeout, TraceRecord *trace)
{
    if (hPort == 0)
        return ERR_NO_PORT;
    Purge(hPort);
    int rc = WriteBytes(hPort, kAbort, sizeof kAbort);
    if (rc != 0)
        return rc;
    TraceTx(trace, kAbort, sizeof kAbort);
    rc = WaitForBytes(hPort, sizeof kAbort, eotTimeout);
    if (rc < 0)
        return rc;
    if (rc == 0) {
        TraceTimeout(trace, "echo", eotTimeout);
        return ERR_EOT_TIMEOUT;
    }
    unsigned char echo[sizeof kAbort];
    rc = ReadBytes(hPort, echo, sizeof echo);
    if (rc != 0)
        return rc;
    TraceRx(trace, echo, sizeof echo);
    return memcmp(echo, kAbort, sizeof kAbort) == 0 ? 0 : ERR_EOT_ECHO;
}

extern "C" int WINAPI SendEot(HANDLE hPort, int eotTimeout)
{
    TraceRecord record;
    TraceRecord *trace = TraceBegin(&record, "SendEot", hPort);
    TraceAbortArgs(trace, eotTimeout);
    return TraceEnd(trace, RunAbort(hPort, eotTimeout, trace));
}
