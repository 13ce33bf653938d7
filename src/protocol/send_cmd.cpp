// One command exchange: command frame, acknowledgement, request, reply,
// checks. Only the two time-outs tell the device to abort.
#include <stdlib.h>
#include <string.h>

#include "link/wait.h"
#include "protocol/exchange.h"
#include "protocol/frame.h"

namespace {

// Sends the command frame, built in memory that lives only for the write.
int WriteCommandFrame(Call *c, const unsigned char *cmd, unsigned cmdLen)
{
    unsigned char *frame = (unsigned char *)malloc(cmdLen + FRAME_OVERHEAD);
    if (frame == 0)
        return ERR_WRITE;  // nothing was sent
    BuildCommandFrame(cmd, cmdLen, frame);
    const int rc = CallWrite(c, frame, cmdLen + FRAME_OVERHEAD);
    free(frame);
    return rc;
}

// Reads the two acknowledgement bytes once they are there; 1 when they
// came, 0 on time-out, negative when the port failed.
int AwaitAcknowledgement(Call *c, unsigned char *reply, int32_t ackTimeout)
{
    int rc = WaitForBytes(c->port, ACK_LENGTH, ackTimeout);
    if (rc <= 0)
        return rc;
    rc = CallRead(c, reply, ACK_LENGTH);
    return rc != 0 ? rc : 1;
}

// Takes the bytes already waiting (one read, at most a reply's worth) into
// the reply, in order, until its first CR: 1 when the CR came, 0 when the
// reply is not complete yet, negative on a read failure. `*n` counts the
// bytes before the CR; bytes past REPLY_MAX_COUNT are dropped and
// `*overlong` is set. Bytes that came after the CR in the same read are
// dropped, as the next exchange's purge would drop them. `*took` says
// whether any were taken.
int TakeWaitingReplyBytes(Call *c, unsigned char *reply, unsigned *n, int *overlong, int *took)
{
    *took = 0;
    unsigned char chunk[REPLY_BUFFER_SIZE];
    const int pending = PendingBytes(c->port);
    if (pending <= 0)
        return pending;
    // one read a pass, so that a device that never stops sending still
    // leaves the clock and the host's messages their turn
    unsigned count = (unsigned)pending < sizeof chunk ? (unsigned)pending : (unsigned)sizeof chunk;
    int rc = CallRead(c, chunk, count);
    if (rc != 0)
        return rc;
    *took = 1;
    for (unsigned i = 0; i < count; ++i) {
        // *n never passes REPLY_MAX_COUNT, so the place is always inside
        // the buffer; once the reply is overlong, the last place is
        // overwritten by every further byte.
        reply[*n] = chunk[i];
        if (chunk[i] == CR)
            return 1;
        if (*n < REPLY_MAX_COUNT)
            ++*n;
        else
            *overlong = 1;
    }
    return 0;
}

// Collects the reply frame up to its first CR. Each pass takes every byte
// already waiting, then takes one idle step and one look at the clock. When
// the clock says the time is up, the queue is looked at once more: a byte
// that came in time is never taken for a time-out, however late the pass
// that saw the clock ran. 1 when the CR came, 0 on time-out, negative on a
// read failure.
int CollectReply(Call *c, unsigned char *reply, unsigned *n, int *overlong, int32_t replyTimeout)
{
    Wait w;
    BeginWait(&w, c->port, replyTimeout);
    int rc, took, inTime = 1;
    for (;;) {
        rc = TakeWaitingReplyBytes(c, reply, n, overlong, &took);
        if (rc != 0 || !inTime)
            break;
        inTime = WaitPassAfterTaking(&w, took);
    }
    EndWait(&w);
    return rc;
}

// A wait of the exchange ran out of time: the device is told to abort, and
// the call's result is `code` whatever the abort gives.
int AbortAfterTimeout(Call *c, const char *wait, int timeoutMs, int eotTimeout, int code)
{
    CallTimedOut(c, wait, timeoutMs);
    RunAbort(c, eotTimeout);
    return code;
}

// The checks of a complete reply, in their order: form and BCC, echo,
// marker. Hands out the caller data only when form, BCC and echo hold.
int CheckReply(const unsigned char *reply, unsigned n, int overlong,
               const unsigned char *cmd, unsigned char *replyData, unsigned *replyLen)
{
    if (overlong || n < REPLY_MIN_COUNT || !ReplyBccIsCorrect(reply, n))
        return ERR_BCC;
    if (!ReplyEchoesCommand(reply, cmd))
        return ERR_ECHO;
    const unsigned length = ReplyDataLength(n);
    if (replyData != 0)
        memcpy(replyData, reply + REPLY_DATA, length);
    if (replyLen != 0)
        *replyLen = length;
    if (ReplyIsPositive(reply))
        return 0;
    return DeviceStatusCode(reply[REPLY_DATA], reply[REPLY_DATA + 1]);
}

}  // namespace

int RunExchange(Call *c, const Exchange *x)
{
    if (c->port == 0)
        return ERR_NO_PORT;
    if (x->cmd == 0 || x->cmdLen < 2 || x->cmdLen > UINT32_MAX - FRAME_OVERHEAD)
        return ERR_ARGUMENT;

    unsigned char reply[REPLY_BUFFER_SIZE];
    memset(reply, 0, sizeof reply);

    Purge(c->port);
    int rc = WriteCommandFrame(c, x->cmd, x->cmdLen);
    if (rc != 0)
        return rc;

    rc = AwaitAcknowledgement(c, reply, x->ackTimeout);
    if (rc == 0)
        return AbortAfterTimeout(c, "ack", x->ackTimeout, x->eotTimeout, ERR_ACK_TIMEOUT);
    if (rc < 0)
        return rc;
    if (reply[0] != ACK)
        return ERR_NO_ACK;

    // Whatever followed the acknowledgement is dropped here.
    Purge(c->port);
    rc = CallWrite(c, kRequest, sizeof kRequest);
    if (rc != 0)
        return rc;

    unsigned n = 0;
    int overlong = 0;
    rc = CollectReply(c, reply, &n, &overlong, x->replyTimeout);
    if (rc == 0)
        return AbortAfterTimeout(c, "reply", x->replyTimeout, x->eotTimeout, ERR_REPLY_TIMEOUT);
    if (rc < 0)
        return rc;
    return CheckReply(reply, n, overlong, x->cmd, x->replyData, x->replyLen);
}

int ExchangeCall(const char *function, HANDLE port, const Exchange *x, ExchangeSteps steps)
{
    Call call;
    BeginCall(&call, function, port);
    TraceExchange(call.trace, x->cmd, x->cmdLen, x->ackTimeout, x->replyTimeout, x->eotTimeout, x->replyData != 0,
                  x->replyLen != 0);
    return EndCall(&call, steps(&call, x));
}

extern "C" int WINAPI SendCmd(HANDLE hPort, const unsigned char *cmd, unsigned int cmdLen,
                              unsigned char *replyData, unsigned int *replyLen,
                              int ackTimeout, int replyTimeout, int eotTimeout)
{
    const Exchange x = {cmd, cmdLen, replyData, replyLen, ackTimeout, replyTimeout, eotTimeout};
    return ExchangeCall("SendCmd", hPort, &x, RunExchange);
}
