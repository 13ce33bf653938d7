// The two exchanges behind the exports, with the trace record of the export
// call they run in (null when the trace is off): the command exchange
// (SendCmd and the device commands) and the abort exchange (SendEot, and
// SendCmd after a time-out).
#ifndef VOLMIRAX_EXCHANGE_H
#define VOLMIRAX_EXCHANGE_H

#include "trace/trace.h"
#include "volmirax.h"

int RunExchange(HANDLE port, const unsigned char *cmd, unsigned cmdLen, unsigned char *replyData,
                unsigned *replyLen, int ackTimeout, int replyTimeout, int eotTimeout, TraceRecord *trace);

int RunAbort(HANDLE port, int eotTimeout, TraceRecord *trace);

// The command exchange as an export call of its own: traced under
// `function` when the trace is on.
int TracedExchange(const char *function, HANDLE port, const unsigned char *cmd, unsigned cmdLen,
                   unsigned char *replyData, unsigned *replyLen, int ackTimeout, int replyTimeout, int eotTimeout);

#endif
