#include "protocol/call.h"

#include "link/link.h"

void BeginCall(Call *c, const char *function, HANDLE port)
{
    c->port = port;
    c->trace = TraceBegin(&c->record, function, port);
}

int EndCall(Call *c, int rc)
{
    return TraceEnd(c->trace, rc);
}

int CallWrite(Call *c, const unsigned char *bytes, unsigned count)
{
    const int rc = WriteBytes(c->port, bytes, count);
    if (rc == 0)  // the bytes have left: timed at the write's end
        TraceTx(c->trace, bytes, count);
    return rc;
}

int CallRead(Call *c, unsigned char *buffer, unsigned count)
{
    const int rc = ReadBytes(c->port, buffer, count);
    if (rc == 0)
        TraceRx(c->trace, buffer, count);
    return rc;
}

void CallTimedOut(Call *c, const char *wait, int timeoutMs)
{
    TraceTimeout(c->trace, wait, timeoutMs);
}
