// A scripted message queue of the calling thread, for the waits' message
// rules on the fake link: what is posted, what the host's procedures do
// when a message is dispatched to them, and what is left for the host.
#ifndef VOLMIRAX_FAKE_MESSAGES_H
#define VOLMIRAX_FAKE_MESSAGES_H

#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "link/windows/message_queue.h"

struct FakeMessages {
    std::deque<QueuedMessage> queue;  // posted, not yet taken
    bool quit = false;                // a WM_QUIT is pending, as Windows keeps it: apart, after posted messages
    int quitCode = 0;
    std::vector<QueuedMessage> dispatched;
    int posts = 0;                    // messages posted back by the library
    int takes = 0;                    // looks at the queue that removed a message or found none
    // A timer, fired as Windows fires one: a WM_TIMER made when the queue
    // has nothing else, at most once per period of the virtual clock.
    uint32_t timerPeriod = 0;  // ms; 0: no timer
    void *timerWindow = nullptr;
    intptr_t timerProc = 0;    // non-zero: a thread timer with a procedure
    uint32_t nextTimer = 0;
    uint32_t takeCost = 0;     // ms of the virtual clock that each message taken costs
    // Messages that another thread posts at a virtual time (kept in order).
    std::deque<std::pair<uint32_t, QueuedMessage>> later;
    std::vector<int32_t> sleeps;  // every sleep the idle step asked for, ms
    // The host's window or timer procedure: runs for every dispatched message.
    std::function<void(FakeMessages &, const QueuedMessage &)> onDispatch;

    void Post(void *window, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0)
    {
        queue.push_back(QueuedMessage{window, message, wParam, lParam, 0, 0, 0});
    }
    void PostAt(uint32_t at, void *window, uint32_t message, uintptr_t wParam = 0)
    {
        later.emplace_back(at, QueuedMessage{window, message, wParam, 0, 0, 0, 0});
    }
    void PostQuitMessage(int code)
    {
        quit = true;
        quitCode = code;
    }
};

// The queue the message calls act on; null when a test has none (the idle
// step then only passes time).
extern FakeMessages *g_messages;

#endif
