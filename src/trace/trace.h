// The library's own recording of what it does, when the host's environment
// names a file in VOLMIRAX_TRACE: each export call with the arguments that
// shape its exchange, the bytes written and read with their times, the
// waits that timed out, and the result with the call's duration, as JSON
// Lines (the capture format of docs/reference.md).
//
// Off by default; the variable is read once, when the first port is
// opened. Off, every hook below is a test of a flag. On, an export call
// collects its lines in a record on its own stack and writes them whole
// when it returns, so that lines of calls on several threads never
// interleave and a call's lines are in the file once it has returned.
// Where the lines go (the file, its size limit, the clock) is the
// platform's (trace_sink.h).
#ifndef VOLMIRAX_TRACE_H
#define VOLMIRAX_TRACE_H

#include <stdint.h>

#include "volmirax.h"

// Set once, when the trace's file is open; read by every call.
extern int g_traceOn;
static inline int TraceIsOn(void) { return __atomic_load_n(&g_traceOn, __ATOMIC_ACQUIRE); }
static inline void TraceSetOn(int on) { __atomic_store_n(&g_traceOn, on, __ATOMIC_RELEASE); }

enum {
    TRACE_TEXT_SIZE = 2048,  // lines held before they are written
    TRACE_RUN_SIZE = 1000,   // received bytes held as one "rx" line; also the most
                             // bytes of one "tx" line and of a "call" line's command
    TRACE_GAP_MAX_US = 99999999,  // a longer pause between two received bytes starts a new "rx" line
    // The longest line there can be: an "rx" line of TRACE_RUN_SIZE bytes,
    // each after a pause of its own (a "call" line holds at most
    // TRACE_RUN_SIZE command bytes; a longer command's line says its length
    // in "cmdLen", and all its bytes are in the "tx" lines of its frame).
    TRACE_LINE_MAX = 384 + 2 * TRACE_RUN_SIZE + 9 * TRACE_RUN_SIZE
};

struct TraceRecord {
    HANDLE port;
    const char *function;
    int64_t startUs;
    unsigned used;
    char text[TRACE_TEXT_SIZE];
    // Received bytes not yet written: the reads between two other lines make
    // one "rx" line, timed at its first byte, with each further byte's pause
    // after the one before it (0 for bytes of the same read).
    unsigned runLength;
    int64_t runStartUs, runLastUs;
    unsigned char run[TRACE_RUN_SIZE];
    uint32_t gapUs[TRACE_RUN_SIZE];
};

// Starts the record of one export call in `storage`: null when the trace
// is off, and every hook takes null as "nothing to do".
TraceRecord *TraceBeginOn(TraceRecord *storage, const char *function, HANDLE port);
static inline TraceRecord *TraceBegin(TraceRecord *storage, const char *function, HANDLE port)
{
    return TraceIsOn() ? TraceBeginOn(storage, function, port) : 0;
}

// The call's arguments: those of an exchange, or the abort's time-out.
void TraceExchange(TraceRecord *t, const unsigned char *cmd, unsigned cmdLen, int ackTimeout,
                   int replyTimeout, int eotTimeout, int hasReplyData, int hasReplyLen);
void TraceAbortArgs(TraceRecord *t, int eotTimeout);

// Bytes the call wrote, timed when the write has returned (their end on
// the line: the waits count from there), and bytes it read, timed when
// read.
void TraceTx(TraceRecord *t, const unsigned char *bytes, unsigned count);
void TraceRx(TraceRecord *t, const unsigned char *bytes, unsigned count);

// A wait that timed out: "ack", "reply" or "echo".
void TraceTimeout(TraceRecord *t, const char *wait, int timeoutMs);

// Ends the record: the result and the call's duration; writes the call's
// lines. Returns `rc`.
int TraceEnd(TraceRecord *t, int rc);

// The port lifecycle. TraceStartOnce reads the environment the first time
// a port is opened; the header then names that port and rate (the sink
// calls TraceNameHeader once, under its own lock, before any header is
// written).
void TraceStartOnce(const char *port, int baud);
void TraceNameHeader(const char *port, int baud);
void TraceOpen(const char *port, int baud, HANDLE handle, unsigned long reason);
void TraceClose(HANDLE handle, int closed);

// The first line of every trace file (also after the file was moved to
// PATH.1 for its size): `size` bytes of room, the line's length back.
unsigned TraceHeader(char *line, unsigned size);

#endif
