#include "trace/trace.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "trace/trace_sink.h"

int g_traceOn = 0;

namespace {

const char kHex[] = "0123456789ABCDEF";

// Appends one whole line to the record, writing out what it holds first
// when it would not fit: only whole lines are ever written, and a line
// longer than the record goes out in one write of its own.
void Put(TraceRecord *t, const char *text, unsigned length)
{
    if (t->used + length > TRACE_TEXT_SIZE && t->used > 0) {
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

// The start of every line of a call: event, time, handle (as hex), process.
int LineHead(char *line, unsigned size, const char *event, int64_t us, HANDLE port)
{
    char t[24], h[20], pid[24];
    Decimal(t, us);
    Decimal(pid, (int64_t)TraceSinkProcessId());
    int k = 0;
    for (uintptr_t v = (uintptr_t)port, shift = sizeof v * 8; shift > 0;) {
        shift -= 4;
        const unsigned digit = (unsigned)(v >> shift) & 15;
        if (digit != 0 || k > 0 || shift == 0)
            h[k++] = kHex[digit];
    }
    h[k] = 0;
    return snprintf(line, size, "{\"e\":\"%s\",\"t\":%s,\"handle\":\"0x%s\",\"pid\":%s", event, t, h, pid);
}

// Hex of at most TRACE_RUN_SIZE bytes, two digits a byte: the characters
// written.
int HexOf(char *out, const unsigned char *bytes, unsigned count)
{
    int k = 0;
    for (unsigned i = 0; i < count; ++i) {
        out[k++] = kHex[bytes[i] >> 4];
        out[k++] = kHex[bytes[i] & 15];
    }
    return k;
}

// The pauses of an "rx" line's bytes after its first: "1042,1039,0*3", a
// value repeated three times or more written once with its count.
int GapsOf(char *out, const uint32_t *gaps, unsigned count)
{
    int k = 0;
    for (unsigned i = 0; i < count;) {
        unsigned same = 1;
        while (i + same < count && gaps[i + same] == gaps[i])
            ++same;
        if (k > 0)
            out[k++] = ',';
        k += Decimal(out + k, gaps[i]);
        if (same >= 3) {
            out[k++] = '*';
            k += Decimal(out + k, same);
            i += same;
        } else {
            ++i;
        }
    }
    return k;
}

// A line with bytes as hex (and, for received bytes, their pauses), in
// pieces of at most TRACE_RUN_SIZE bytes so that a line always fits.
void PutBytes(TraceRecord *t, const char *event, int64_t us, const unsigned char *bytes, unsigned count,
              const uint32_t *gaps)
{
    do {
        const unsigned n = count < (unsigned)TRACE_RUN_SIZE ? count : (unsigned)TRACE_RUN_SIZE;
        char line[TRACE_LINE_MAX];
        int k = LineHead(line, 112, event, us, t->port);
        memcpy(line + k, ",\"hex\":\"", 8);
        k += 8;
        k += HexOf(line + k, bytes, n);
        line[k++] = '"';
        unsigned paused = 0;  // bytes that came after a pause; none: no "gaps"
        for (unsigned i = 1; gaps != 0 && i < n; ++i)
            paused += gaps[i] != 0;
        if (paused > 0) {
            memcpy(line + k, ",\"gaps\":\"", 9);
            k += 9;
            k += GapsOf(line + k, gaps + 1, n - 1);
            line[k++] = '"';
        }
        memcpy(line + k, "}\n", 2);
        Put(t, line, (unsigned)k + 2);
        bytes += n;
        count -= n;
        if (gaps != 0)
            gaps += n;
    } while (count > 0);
}

void FlushRun(TraceRecord *t)
{
    if (t->runLength == 0)
        return;
    PutBytes(t, "rx", t->runStartUs, t->run, t->runLength, t->gapUs);
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

// "2026-12-11T08:26:27.123456Z": `us` since 1970-01-01 UTC, by hand (the
// C runtimes the DLL may meet do not all have a thread-safe gmtime).
void WallClockText(char *out, int64_t us)
{
    if (us < 0)
        us = 0;
    int64_t days = us / 86400000000LL;
    const int64_t inDay = us % 86400000000LL;
    // days since 1970 to a civil date (the proleptic Gregorian calendar)
    days += 719468;
    const int64_t era = days / 146097, doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const int day = (int)(doy - (153 * mp + 2) / 5 + 1), month = (int)(mp < 10 ? mp + 3 : mp - 9);
    const int year = (int)(yoe + era * 400 + (month <= 2));
    const int64_t s = inDay / 1000000;
    snprintf(out, 48, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", year, month, day, (int)(s / 3600), (int)(s / 60 % 60),
             (int)(s % 60), (int)(inDay % 1000000));
}

char g_headerPort[300];
int g_headerBaud;

}  // namespace

long long TraceLimitBytes(const char *megabytes, int *refused)
{
    *refused = 0;
    if (megabytes == 0 || megabytes[0] == 0)
        return (long long)TRACE_DEFAULT_MB * 1024 * 1024;
    char *end = 0;
    const double mb = strtod(megabytes, &end);
    // "inf", "nan", 1e300 and the like are refused, not converted
    if (end == megabytes || *end != 0 || !(mb > 0) || !(mb <= TRACE_MAX_MB)) {
        *refused = 1;
        return (long long)TRACE_DEFAULT_MB * 1024 * 1024;
    }
    const long long bytes = (long long)(mb * 1024 * 1024);
    return bytes > 0 ? bytes : 1;
}

unsigned TraceHeader(char *line, unsigned size)
{
    char pid[24], wall[48];
    Decimal(pid, (int64_t)TraceSinkProcessId());
    WallClockText(wall, TraceSinkWallStartUs());
    int k = snprintf(line, size,
                     "{\"e\":\"header\",\"format\":2,\"writer\":\"%s\",\"version\":\"1.0.0.1\",\"port\":%s,"
                     "\"baud\":%d,\"clock\":\"us\",\"wall\":\"%s\",\"pid\":%s}\n",
                     TraceSinkWriter(), g_headerPort, g_headerBaud, wall, pid);
    return k > 0 && (unsigned)k < size ? (unsigned)k : 0;
}

void TraceNameHeader(const char *port, int baud)
{
    JsonString(g_headerPort, sizeof g_headerPort, port);
    g_headerBaud = baud;
}

void TraceStartOnce(const char *port, int baud)
{
    // The first port opened names the header; the sink starts once, and
    // any thread opening its first port meanwhile waits for it.
    if (!TraceIsOn() && TraceSinkStart(port, baud))
        TraceSetOn(1);
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
    char line[TRACE_LINE_MAX];
    int k = LineHead(line, 112, "call", t->startUs, t->port);
    k += snprintf(line + k, 160, ",\"fn\":\"%s\",\"ack\":%d,\"reply\":%d,\"eot\":%d,\"data\":%s,\"len\":%s",
                  t->function, ackTimeout, replyTimeout, eotTimeout, hasReplyData ? "true" : "false",
                  hasReplyLen ? "true" : "false");
    // a long command's line holds its first bytes and says its length
    const unsigned shown = cmd == 0 ? 0 : cmdLen < (unsigned)TRACE_RUN_SIZE ? cmdLen : (unsigned)TRACE_RUN_SIZE;
    if (shown < cmdLen && cmd != 0)
        k += snprintf(line + k, 32, ",\"cmdLen\":%u", cmdLen);
    memcpy(line + k, ",\"cmd\":\"", 8);
    k += 8;
    k += HexOf(line + k, cmd, shown);
    memcpy(line + k, "\"}\n", 3);
    Put(t, line, (unsigned)k + 3);
}

void TraceAbortArgs(TraceRecord *t, int eotTimeout)
{
    if (t == 0)
        return;
    char line[256];
    int k = LineHead(line, sizeof line, "call", t->startUs, t->port);
    k += snprintf(line + k, sizeof line - k, ",\"fn\":\"%s\",\"eot\":%d}\n", t->function, eotTimeout);
    Put(t, line, (unsigned)k);
}

void TraceTx(TraceRecord *t, const unsigned char *bytes, unsigned count)
{
    if (t == 0)
        return;
    FlushRun(t);
    PutBytes(t, "tx", TraceSinkClockUs(), bytes, count, 0);
}

void TraceRx(TraceRecord *t, const unsigned char *bytes, unsigned count)
{
    if (t == 0 || count == 0)
        return;
    const int64_t now = TraceSinkClockUs();
    if (t->runLength > 0 && (now - t->runLastUs > TRACE_GAP_MAX_US || t->runLength + count > TRACE_RUN_SIZE))
        FlushRun(t);
    if (count > TRACE_RUN_SIZE) {
        PutBytes(t, "rx", now, bytes, count, 0);
        return;
    }
    if (t->runLength == 0)
        t->runStartUs = t->runLastUs = now;
    for (unsigned i = 0; i < count; ++i)
        t->gapUs[t->runLength + i] = 0;
    t->gapUs[t->runLength] = (uint32_t)(now - t->runLastUs);
    memcpy(t->run + t->runLength, bytes, count);
    t->runLength += count;
    t->runLastUs = now;
}

void TraceTimeout(TraceRecord *t, const char *wait, int timeoutMs)
{
    if (t == 0)
        return;
    FlushRun(t);
    char line[256];
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
    char line[256];
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
    if (!TraceIsOn())
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
    if (!TraceIsOn())
        return;
    char line[256];
    int k = LineHead(line, sizeof line, "close", TraceSinkClockUs(), handle);
    k += snprintf(line + k, sizeof line - k, ",\"rc\":%d}\n", closed);
    TraceSinkWrite(line, (unsigned)k);
}
