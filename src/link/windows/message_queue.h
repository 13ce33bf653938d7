// The calling thread's message queue, as the waits on Windows use it: the
// calls that message_pump.cpp is written against. message_queue_win32.cpp
// maps them onto PeekMessageA, DispatchMessageA, TranslateMessage,
// PostThreadMessageA, PostQuitMessage and MsgWaitForMultipleObjectsEx;
// the unit tests script a queue.
#ifndef VOLMIRAX_MESSAGE_QUEUE_H
#define VOLMIRAX_MESSAGE_QUEUE_H

#include <stdint.h>

enum {
    MESSAGE_QUIT = 0x0012,   // WM_QUIT
    MESSAGE_TIMER = 0x0113   // WM_TIMER
};

// One message, with every field that dispatching it needs.
struct QueuedMessage {
    void *window;  // null for a message of the thread itself
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    uint32_t time;
    int32_t x, y;
};

// Removes the next message of the calling thread (any window, any number):
// 1 when there was one.
int TakeMessage(QueuedMessage *m);

// Removes a WM_TIMER or WM_PAINT that is due, looking past the messages
// posted ahead of it (the system makes these only when nothing is posted, so
// a queue that never empties would starve them): 1 when there was one.
int TakeStarvedMessage(QueuedMessage *m);

// Removes the next message of the thread itself (one with no window),
// leaving window messages where they are: 1 when there was one.
int TakeThreadMessage(QueuedMessage *m);

// Hands the message to its window procedure (or timer procedure), then
// translates it.
void DispatchTaken(const QueuedMessage *m);

// Posts a message of the thread itself (no window) to the end of the
// calling thread's queue: 1 when it was queued.
int PostToThread(uint32_t message, uintptr_t wParam, intptr_t lParam);

// The give-back's mark: a message of the library's own, posted to the end
// of the calling thread's queue (1 when it was queued), known again when
// taken, and removed from wherever it still is.
int PostGiveBackMark(void);
int IsGiveBackMark(const QueuedMessage *m);
void RemoveGiveBackMark(void);

// Asks the calling thread to quit with `exitCode`.
void PostQuit(int exitCode);

// Sleeps until the calling thread's queue holds a message (also one that
// was seen and left there), or `ms` have passed. `*sleeper` is what it
// sleeps on, made at the first sleep of a wait (null before) and kept for
// the next; ReleaseSleeper frees it when the wait ends.
void SleepUntilMessage(int32_t ms, void **sleeper);
void ReleaseSleeper(void **sleeper);

#endif
