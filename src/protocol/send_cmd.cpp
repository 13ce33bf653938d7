// One command exchange: command frame, acknowledgement, request, reply,
// checks. Only the two time-outs tell the device to abort.
#include <stdlib.h>
#include <string.h>

#include "link/wait.h"
#include "protocol/exchange.h"
#include "protocol/frame.h"

namespace {

// Sends the command frame, built in memory that lives only for the write.
int WriteCommandFrame(HANDLE port, const unsigned char *cmd, unsigned cmdLen, TraceRecord *trace)
{
    unsigned char *frame = (unsigned char *)malloc(cmdLen + FRAME_OVERHEAD);
    if (frame == 0)
        return ERR_WRITE;  // nothing was sent
    BuildCommandFrame(cmd, cmdLen, frame);
    int rc = WriteBytes(port, frame, cmdLen + FRAME_OVERHEAD);
    if (rc == 0)  // tx: the bytes have left
        TraceTx(trace, frame, cmdLen + FRAME_OVERHEAD);
    free(frame);
    return rc;
}

// Reads the two acknowledgement bytes once they are there; 1 when they
// came, 0 on time-out, negative when the port failed.
int AwaitAcknowledgement(HANDLE port, unsigned char *reply, int32_t ackTimeout, TraceRecord *trace)
{
    int rc = WaitForBytes(port, ACK_LENGTH, ackTimeout);
    if (rc <= 0)
        return rc;
    rc = ReadBytes(port, reply, ACK_LENGTH);
    if (rc != 0)
        return rc;
    TraceRx(trace, reply, ACK_LENGTH);
    return 1;
}

// Takes the bytes already waiting (one read, at most a reply's worth) into
// the reply, in order, until its first CR: 1 when the CR came, 0 when the
// reply is not complete yet, negative on a read failure. `*n` counts the bytes before the CR; bytes past
// REPLY_MAX_COUNT are dropped and `*overlong` is set. Bytes that came after
// the CR in the same read are dropped, as the next exchange's purge would
// drop them.
int TakeWaitingReplyBytes(HANDLE port, unsigned char *reply, unsigned *n, int *overlong, TraceRecord *trace)
{
    unsigned char chunk[REPLY_BUFFER_SIZE];
    const int pending = PendingBytes(port);
    if (pending <= 0)
        return pending;
    // one read a pass, so that a device that never stops sending still
    // leaves the clock and the host's messages their turn
    unsigned count = (unsigned)pending < sizeof chunk ? (unsigned)pending : (unsigned)sizeof chunk;
    int rc = ReadBytes(port, chunk, count);
    if (rc != 0)
        return rc;
    for (unsigned i = 0; i < count; ++i) {
        // *n never passes REPLY_MAX_COUNT, so the place is always inside
        // the buffer; once the reply is overlong, the last place is
        // overwritten by every further byte.
        reply[*n] = chunk[i];
        if (chunk[i] == CR) {
            TraceRx(trace, chunk, i + 1);
            return 1;
        }
        if (*n < REPLY_MAX_COUNT)
            ++*n;
        else
            *overlong = 1;
    }
    TraceRx(trace, chunk, count);
    return 0;
}

// Collects the reply frame up to its first CR. Each pass takes every byte
// already waiting, then takes one idle step and one look at the clock. When
// the clock says the time is up, the queue is looked at once more: a byte
// that came in time is never taken for a time-out, however late the pass
// that saw the clock ran. 1 when the CR came, 0 on time-out, negative on a
// read failure.
int CollectReply(HANDLE port, unsigned char *reply, unsigned *n, int *overlong,
                 int32_t replyTimeout, TraceRecord *trace)
{
    Wait w;
    BeginWait(&w, port, replyTimeout);
    int rc, inTime = 1;
    for (;;) {
        rc = TakeWaitingReplyBytes(port, reply, n, overlong, trace);
        if (rc != 0 || !inTime)
            break;
        inTime = WaitPass(&w, 0);
    }
    EndWait(&w);
    return rc;
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

int RunExchange(HANDLE hPort, const unsigned char *cmd, unsigned cmdLen, unsigned char *replyData,
                unsigned *replyLen, int ackTimeout, int replyTimeout, int eotTimeout, TraceRecord *trace)
{
    if (hPort == 0)
        return ERR_NO_PORT;
    if (cmd == 0 || cmdLen < 2 || cmdLen > UINT32_MAX - FRAME_OVERHEAD)
        return ERR_ARGUMENT;

    unsigned char reply[REPLY_BUFFER_SIZE];
    memset(reply, 0, sizeof reply);

    Purge(hPort);
    int rc = WriteCommandFrame(hPort, cmd, cmdLen, trace);
    if (rc != 0)
        return rc;

    rc = AwaitAcknowledgement(hPort, reply, ackTimeout, trace);
    if (rc == 0) {
        TraceTimeout(trace, "ack", ackTimeout);
        RunAbort(hPort, eotTimeout, trace);
        return ERR_ACK_TIMEOUT;
    }
    if (rc < 0)
        return rc;
    if (reply[0] != ACK)
        return ERR_NO_ACK;

    // Whatever followed the acknowledgement is dropped here.
    Purge(hPort);
    rc = WriteBytes(hPort, kRequest, sizeof kRequest);
    if (rc != 0)
        return rc;
    TraceTx(trace, kRequest, sizeof kRequest);

    unsigned n = 0;
    int overlong = 0;
    rc = CollectReply(hPort, reply, &n, &overlong, replyTimeout, trace);
    if (rc == 0) {
        TraceTimeout(trace, "reply", replyTimeout);
        RunAbort(hPort, eotTimeout, trace);
        return ERR_REPLY_TIMEOUT;
    }
    if (rc < 0)
        return rc;
    return CheckReply(reply, n, overlong, cmd, replyData, replyLen);
}

int TracedExchange(const char *function, HANDLE hPort, const unsigned char *cmd, unsigned cmdLen,
                   unsigned char *replyData, unsigned *replyLen, int ackTimeout, int replyTimeout, int eotTimeout)
{
    TraceRecord record;
    TraceRecord *trace = TraceBegin(&record, function, hPort);
    TraceExchange(trace, cmd, cmdLen, ackTimeout, replyTimeout, eotTimeout, replyData != 0, replyLen != 0);
    return TraceEnd(trace, RunExchange(hPort, cmd, cmdLen, replyData, replyLen, ackTimeout, replyTimeout,
                                       eotTimeout, trace));
}

extern "C" int WINAPI SendCmd(HANDLE hPort, const unsigned char *cmd, unsigned int cmdLen,
                              unsigned char *replyData, unsigned int *replyLen,
                              int ackTimeout, int replyTimeout, int eotTimeout)
{
    return TracedExchange("SendCmd", hPort, cmd, cmdLen, replyData, replyLen, ackTimeout, replyTimeout, eotTimeout);
}
