// One export call: the port it works on and, when the trace is on, the
// record of what crossed the seam during it. The exchanges reach the line
// only through the call's operations below, so the bytes are recorded where
// they cross (a write that succeeded, a read) and the exchanges themselves
// never mention the trace.
#ifndef VOLMIRAX_CALL_H
#define VOLMIRAX_CALL_H

#include "trace/trace.h"
#include "volmirax.h"

struct Call {
    HANDLE port;
    TraceRecord *trace;  // null when the trace is off
    TraceRecord record;  // where `trace` points when it is on
};

// Starts an export call named `function` on `port`; EndCall records its
// result (the trace's lines go out whole then) and returns `rc`.
void BeginCall(Call *c, const char *function, HANDLE port);
int EndCall(Call *c, int rc);

// The seam's write and read (link.h), recorded when they succeed.
int CallWrite(Call *c, const unsigned char *bytes, unsigned count);
int CallRead(Call *c, unsigned char *buffer, unsigned count);

// A wait ran out of time: "ack", "reply" or "echo", recorded.
void CallTimedOut(Call *c, const char *wait, int timeoutMs);

#endif
