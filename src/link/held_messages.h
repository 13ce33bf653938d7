// The host's messages that one wait on Windows takes off the thread's
// queue without consuming them: messages with no window (which dispatching
// would drop) and WM_QUIT. They are kept in order, with their values, and
// given back when the wait ends, the WM_QUIT last. Plain storage that the
// wait owns on its stack; elsewhere it stays empty.
#ifndef VOLMIRAX_HELD_MESSAGES_H
#define VOLMIRAX_HELD_MESSAGES_H

#include <stdint.h>

enum { HELD_MESSAGES_MAX = 256 };

struct HeldMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

struct HeldMessages {
    unsigned count;
    int quitPending;  // a WM_QUIT was taken; quitCode is its exit code
    int quitCode;
    HeldMessage messages[HELD_MESSAGES_MAX];
};

#endif
