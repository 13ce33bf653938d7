// The abort exchange: DLE EOT CR out, the same three bytes back.
#include <string.h>

#include "link/wait.h"
#include "protocol/exchange.h"
#include "protocol/frame.h"

int RunAbort(Call *c, int eotTimeout)
{
    if (c->port == 0)
        return ERR_NO_PORT;
    Purge(c->port);
    int rc = CallWrite(c, kAbort, sizeof kAbort);
    if (rc != 0)
        return rc;
    rc = WaitForBytes(c->port, sizeof kAbort, eotTimeout);
    if (rc < 0)
        return rc;
    if (rc == 0) {
        CallTimedOut(c, "echo", eotTimeout);
        return ERR_EOT_TIMEOUT;
    }
    unsigned char echo[sizeof kAbort];
    rc = CallRead(c, echo, sizeof echo);
    if (rc != 0)
        return rc;
    return memcmp(echo, kAbort, sizeof kAbort) == 0 ? 0 : ERR_EOT_ECHO;
}

extern "C" int WINAPI SendEot(HANDLE hPort, int eotTimeout)
{
    Call call;
    BeginCall(&call, "SendEot", hPort);
    TraceAbortArgs(call.trace, eotTimeout);
    return EndCall(&call, RunAbort(&call, eotTimeout));
}
