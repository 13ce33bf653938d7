#include "trace/trace.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "trace/trace_sink.h"

volatile int g_traceOn = 0;

namespace {

const char kHex[] = "0123456789ABCDEF";

// Appends text to the record, writing out what it holds first when it
// would not fit (only whole lines are ever written).
void Put(TraceRecord *t, const char *text, unsigned length)
{
    if (t->used + length > TRACE_TEXT_SIZE) {
        TraceSinkWrite(t->text, t->used);
        t->used = 0;
    }
    if (length > TRACE_TEXT_SIZE) {
        TraceSinkWrite(text, length);
        return;
    }
    memcpy(t->text + t->used, text, length);
    t->used += length;
}

// A number in decimal, written by hand: the C runtimes that the DLL may
// meet do not all print 64-bit numbers with the same format.
int Decimal(char *out, int64_t value)
{
    char digits[24];
    int n = 0;
    uint64_t v = value < 0 ? 0 - (uint64_t)value : (uint64_t)value;
    do {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v > 0);
    int k = 0;
    if (value < 0)
        out[k++] = '-';
    while (n > 0)
        out[k++] = digits[--n];
    out[k] = 0;
    return k;
}

// The start of every line of a call: event, time, handle (as hex).
int LineHead(char *line, unsigned size, const char *event, int64_t us, HANDLE port)
{
    char t[24], h[20];
    Decimal(t, us);
    int k = 0;
    for (uintptr_t v = (uintptr_t)port, shift = sizeof v * 8; shift > 0;) {
        shift -= 4;
        const unsigned digit = (unsigned)(v >> shift) & 15;
        if (digit != 0 || k > 0 || shift == 0)
            h[k++] = kHex[digit];
    }
    h[k] = 0;
    return snprintf(line, size, "{\"e\":\"%s\",\"t\":%s,\"handle\":\"0x%s\"", event, t, h);
}

// A line with bytes as spaced hex, written in pieces of at most
// TRACE_RUN_SIZE bytes so that a line always fits the record.
void PutBytes(TraceRecord *t, const char *event, int64_t us, const unsigned char *bytes, unsigned count)
{
    do {
        const unsigned n = count < (unsigned)TRACE_RUN_SIZE ? count : (unsigned)TRACE_RUN_SIZE;
        char line[64 + 3 * TRACE_RUN_SIZE];
        int k = LineHead(line, 64, event, us, t->port);
        memcpy(line + k, ",\"hex\":\"", 8);
        k += 8;
        for (unsigned i = 0; i < n; ++i) {
            if (i > 0)
                line[k++] = ' ';
            line[k++] = kHex[bytes[i] >> 4];
            line[k++] = kHex[bytes[i] & 15];
        }
        memcpy(line + k, "\"}\n", 3);
        Put(t, line, (unsigned)k + 3);
        bytes += n;
        count -= n;
    } while (count > 0);
}

void FlushRun(TraceRecord *t)
{
    if (t->runLength == 0)
        return;
    PutBytes(t, "rx", t->runStartUs, t->run, t->runLength);
    t->runLength = 0;
}

// A JSON string of bytes from the host (a device path): printable ASCII as
// it is, everything else escaped, so the line stays valid whatever it holds.
int JsonString(char *out, unsigned size, const char *s)
{
    unsigned k = 0;
    out[k++] = '"';
    for (; s && *s && k + 8 < size; ++s) {
        const unsigned char c = (unsigned char)*s;
        if (c == '"' || c == '\\') {
            out[k++] = '\\';
            out[k++] = (char)c;
        } else if (c < 0x20 || c >= 0x7F) {
            k += (unsigned)snprintf(out + k, size - k, "\\u%04X", c);
        } else {
            out[k++] = (char)c;
        }
    }
    out[k++] = '"';
    out[k] = 0;
    return (int)k;
}

char g_headerPort[300];
int g_headerBaud;

}  // namespace

long long TraceLimitBytes(const char *megabytes)
{
    char *end = 0;
    double mb = megabytes ? strtod(megabytes, &end) : 0;
    if (megabytes == 0 || end == megabytes || *end != 0 || !(mb > 0))
        mb = 32;
    return (long long)(mb * 1024 * 1024);
}

unsigned TraceHeader(char *line, unsigned size)
{
    int k = snprintf(line, size,
                     "{\"e\":\"header\",\"format\":1,\"writer\":\"%s\",\"version\":\"1.0.0.1\",\"port\":%s,"
                     "\"baud\":%d,\"clock\":\"us\"}\n",
                     TraceSinkWriter(), g_headerPort, g_headerBaud);
    return k > 0 && (unsigned)k < size ? (unsigned)k : 0;
}

void TraceStartOnce(const char *port, int baud)
{
    if (g_traceOn || g_headerPort[0] != 0)
        return;
    // The first port opened names the header; a second thread opening its
    // first port at the same moment may name its own instead.
    JsonString(g_headerPort, sizeof g_headerPort, port);
    g_headerBaud = baud;
    if (TraceSinkStart())
        g_traceOn = 1;
}

TraceRecord *TraceBeginOn(TraceRecord *storage, const char *function, HANDLE port)
{
    storage->port = port;
    storage->function = function;
    storage->startUs = TraceSinkClockUs();
    storage->used = 0;
    storage->runLength = 0;
    return storage;
}

void TraceExchange(TraceRecord *t, const unsigned char *cmd, unsigned cmdLen, int ackTimeout, int replyTimeout,
                   int eotTimeout, int hasReplyData, int hasReplyLen)
{
    if (t == 0)
        return;
    char line[160];
    int k = LineHead(line, sizeof line, "call", t->startUs, t->port);
    k += snprintf(line + k, sizeof line - k, ",\"fn\":\"%s\",\"ack\":%d,\"reply\":%d,\"eot\":%d,\"data\":%s,\"len\":%s",
                  t->function, ackTimeout, replyTimeout, eotTimeout, hasReplyData ? "true" : "false",
                  hasReplyLen ? "true" : "false");
    Put(t, line, (unsigned)k);
    // the command bytes last, in pieces that fit (a host may send long ones)
    Put(t, ",\"cmd\":\"", 8);
    for (unsigned i = 0; cmd != 0 && i < cmdLen; ++i) {
        char h[3] = {i ? ' ' : '\0', kHex[cmd[i] >> 4], kHex[cmd[i] & 15]};
        if (i == 0)
            Put(t, h + 1, 2);
        else
            Put(t, h, 3);
    }
    Put(t, "\"}\n", 3);
}

void TraceAbortArgs(TraceRecord *t, int eotTimeout)
{
    if (t == 0)
        return;
    char line[128];
    int k = LineHead(line, sizeof line, "call", t->startUs, t->port);
    k += snprintf(line + k, sizeof line - k, ",\"fn\":\"%s\",\"eot\":%d}\n", t->function, eotTimeout);
    Put(t, line, (unsigned)k);
}

void TraceTx(TraceRecord *t, const unsigned char *bytes, unsigned count)
{
    if (t == 0)
        return;
    FlushRun(t);
    PutBytes(t, "tx", TraceSinkClockUs(), bytes, count);
}

void TraceRx(TraceRecord *t, const unsigned char *bytes, unsigned count)
{
    if (t == 0)
        return;
    const int64_t now = TraceSinkClockUs();
    if (t->runLength > 0 && (now - t->runLastUs > 1000 || t->runLength + count > TRACE_RUN_SIZE))
        FlushRun(t);
    if (t->runLength == 0)
        t->runStartUs = now;
    if (count > TRACE_RUN_SIZE) {
        PutBytes(t, "rx", now, bytes, count);
        return;
    }
    memcpy(t->run + t->runLength, bytes, count);
    t->runLength += count;
    t->runLastUs = now;
}

void TraceTimeout(TraceRecord *t, const char *wait, int timeoutMs)
{
    if (t == 0)
        return;
    FlushRun(t);
    char line[128];
    int k = LineHead(line, sizeof line, "timeout", TraceSinkClockUs(), t->port);
    k += snprintf(line + k, sizeof line - k, ",\"wait\":\"%s\",\"ms\":%d}\n", wait, timeoutMs);
    Put(t, line, (unsigned)k);
}

int TraceEnd(TraceRecord *t, int rc)
{
    if (t == 0)
        return rc;
    FlushRun(t);
    const int64_t now = TraceSinkClockUs();
    char line[160];
    int k = LineHead(line, sizeof line, "result", now, t->port);
    char us[24];
    Decimal(us, now - t->startUs);
    k += snprintf(line + k, sizeof line - k, ",\"fn\":\"%s\",\"rc\":%d,\"us\":%s}\n", t->function, rc, us);
    Put(t, line, (unsigned)k);
    TraceSinkWrite(t->text, t->used);
    t->used = 0;
    return rc;
}

void TraceOpen(const char *port, int baud, HANDLE handle, unsigned long reason)
{
    if (!g_traceOn)
        return;
    char name[300];
    JsonString(name, sizeof name, port);
    char line[512];
    int k = LineHead(line, 128, "open", TraceSinkClockUs(), handle);
    k += snprintf(line + k, sizeof line - k, ",\"port\":%s,\"baud\":%d", name, baud);
    if (handle == 0)
        k += snprintf(line + k, sizeof line - k, ",\"error\":%u", (unsigned)reason);
    k += snprintf(line + k, sizeof line - k, "}\n");
    TraceSinkWrite(line, (unsigned)k);
}

void TraceClose(HANDLE handle, int closed)
{
    if (!g_traceOn)
        return;
    char line[128];
    int k = LineHead(line, sizeof line, "close", TraceSinkClockUs(), handle);
    k += snprintf(line + k, sizeof line - k, ",\"rc\":%d}\n", closed);
    TraceSinkWrite(line, (unsigned)k);
}
