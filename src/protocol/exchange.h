// The two exchanges behind the exports, run in an export call (call.h):
// the command exchange (SendCmd and the device commands) and the abort
// exchange (SendEot, and SendCmd after a time-out).
#ifndef VOLMIRAX_EXCHANGE_H
#define VOLMIRAX_EXCHANGE_H

#include "protocol/call.h"
#include "volmirax.h"

// A command exchange as its caller gives it.
struct Exchange {
    const unsigned char *cmd;
    unsigned cmdLen;
    unsigned char *replyData;
    unsigned *replyLen;
    int ackTimeout, replyTimeout, eotTimeout;
};

int RunExchange(Call *c, const Exchange *x);

int RunAbort(Call *c, int eotTimeout);

// The command exchange as one export call named `function`: the caller's
// arguments `x` recorded, `steps` run (RunExchange, or a command's own
// steps around it), the result recorded.
typedef int (*ExchangeSteps)(Call *c, const Exchange *x);
int ExchangeCall(const char *function, HANDLE port, const Exchange *x, ExchangeSteps steps);

#endif
