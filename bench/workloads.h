// The benchmark's workloads: what the simulator is told to do for each, and
// the wire time an exchange of it cannot beat. The run and the report share
// this table.
#ifndef VOLMIRAX_BENCH_WORKLOADS_H
#define VOLMIRAX_BENCH_WORKLOADS_H

#include "volmirax.h"

struct Workload {
    const char *name;
    char code;             // command code the simulator answers
    unsigned replyData;    // caller data in the reply: status bytes + data
    const char *behaviour; // extra simulator words
    int ackTimeout;
    int expect;            // the result every exchange must give
    int share;             // of N exchanges it runs (1 = N, 10 = N / 10)
};

// The device's think time before the acknowledgement and before the reply.
const int kAckThinkMs = 5;
const int kReplyThinkMs = 10;

const Workload kWorkloads[] = {
    {"EjectCard", '3', 2, "", 1000, 0, 1},
    {"GetMachineVersion", '<', 18, "", 1000, 0, 1},
    {"SendCmd 500 B", 'M', 502, "", 1000, 0, 2},
    {"SendCmd 993 B", 'B', 993, "", 1000, 0, 1},
    // one acknowledgement byte of two, then nothing: the wait is held for
    // its whole time-out with part of what it waits for already there
    {"partial acknowledgement, 1 s", 'H', 2, "halfack,eotnone,", 1000, ERR_ACK_TIMEOUT, 10},
};

// One byte on the line at `baud`, 10 bits with start and stop, in ms.
inline double ByteMs(int baud)
{
    return 10.0 * 1000.0 / baud;
}

// The wire time of all bytes of one exchange both ways (command frame, ENQ
// CR, the acknowledgement, the reply frame) plus the think time: no host
// can be faster.
inline double FloorMs(const Workload &w, int baud)
{
    const unsigned bytes = (2 + 5) + 2 + 2 + (w.replyData + 7);
    return bytes * ByteMs(baud) + kAckThinkMs + kReplyThinkMs;
}

#endif
