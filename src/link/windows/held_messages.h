// The host's messages that one wait on Windows takes off the thread's
// queue without consuming them: messages with no window (which dispatching
// would drop) and WM_QUIT. They are kept in order, with their values, and
// given back when the wait ends, the WM_QUIT last. The record is allocated
// when the first one is kept, grows as more come and is freed when the
// wait ends, so a wait that keeps nothing allocates nothing.
#ifndef VOLMIRAX_HELD_MESSAGES_H
#define VOLMIRAX_HELD_MESSAGES_H

#include <stdint.h>

enum {
    // The system's own limit on the messages posted to one thread's queue:
    // a wait never keeps more than the queue could give back.
    HELD_MESSAGES_MAX = 10000,
    HELD_MESSAGES_FIRST = 64  // room in a new record
};

struct HeldMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

struct HeldMessages {
    unsigned count, capacity;
    int quitPending;  // a WM_QUIT was taken; quitCode is its exit code
    int quitCode;
    HeldMessage messages[1];  // `capacity` of them
};

#endif
