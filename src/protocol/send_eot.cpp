// The abort exchange: DLE EOT CR out, the same three bytes back.
#include <string.h>

#include "link/wait.h"
#include "protocol/frame.h"

extern "C" int WINAPI SendEot(HANDLE hPort, int eotTimeout)
{
    if (hPort == 0)
        return ERR_NO_PORT;
    Purge(hPort);
    int rc = WriteBytes(hPort, kAbort, sizeof kAbort);
    if (rc != 0)
        return rc;
    if (!WaitForBytes(hPort, sizeof kAbort, eotTimeout))
        return ERR_EOT_TIMEOUT;
    unsigned char echo[sizeof kAbort];
    rc = ReadBytes(hPort, echo, sizeof echo);
    if (rc != 0)
        return rc;
    return memcmp(echo, kAbort, sizeof kAbort) == 0 ? 0 : ERR_EOT_ECHO;
}
