#include "fake_messages.h"

#include "fake_link.h"

FakeMessages *g_messages = nullptr;

namespace {

// Moves the messages posted by now from `later` into the queue.
void Arrive(FakeMessages &q)
{
    while (!q.later.empty() && static_cast<int32_t>(g_link->now - q.later.front().first) >= 0) {
        q.queue.push_back(q.later.front().second);
        q.later.pop_front();
    }
}

// A WM_TIMER when the timer is due.
int TakeDueTimer(FakeMessages &q, QueuedMessage *m)
{
    if (q.timerPeriod && static_cast<int32_t>(g_link->now - q.nextTimer) >= 0) {
        q.nextTimer = g_link->now + q.timerPeriod;
        *m = QueuedMessage{q.timerWindow, MESSAGE_TIMER, 1, q.timerProc, 0, 0, 0};
        return 1;
    }
    return 0;
}

}  // namespace

int TakeMessage(QueuedMessage *m)
{
    FakeMessages &q = *g_messages;
    ++q.takes;
    Arrive(q);
    if (!q.queue.empty()) {
        *m = q.queue.front();
        q.queue.pop_front();
        g_link->now += q.takeCost;
        return 1;
    }
    if (q.quit) {
        q.quit = false;
        *m = QueuedMessage{nullptr, MESSAGE_QUIT, static_cast<uintptr_t>(q.quitCode), 0, 0, 0, 0};
        return 1;
    }
    return TakeDueTimer(q, m);
}

int TakeStarvedMessage(QueuedMessage *m)
{
    // the fake has no paint: a due timer, past whatever is posted
    ++g_messages->takes;
    return TakeDueTimer(*g_messages, m);
}

int TakeThreadMessage(QueuedMessage *m)
{
    FakeMessages &q = *g_messages;
    ++q.takes;
    Arrive(q);
    for (auto it = q.queue.begin(); it != q.queue.end(); ++it) {
        if (it->window == nullptr) {
            *m = *it;
            q.queue.erase(it);
            return 1;
        }
    }
    if (q.quit) {
        q.quit = false;
        *m = QueuedMessage{nullptr, MESSAGE_QUIT, static_cast<uintptr_t>(q.quitCode), 0, 0, 0, 0};
        return 1;
    }
    return 0;
}

void DispatchTaken(const QueuedMessage *m)
{
    g_messages->dispatched.push_back(*m);
    if (g_messages->onDispatch)
        g_messages->onDispatch(*g_messages, *m);
}

int PostToThread(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    ++g_messages->posts;
    g_messages->Post(nullptr, message, wParam, lParam);
    return 1;
}

void PostQuit(int exitCode)
{
    g_messages->PostQuitMessage(exitCode);
}

void SleepUntilMessage(int32_t ms, void **sleeper)
{
    // as MsgWaitForMultipleObjectsEx with MWMO_INPUTAVAILABLE: a message
    // already queued ends the sleep at once, one posted later wakes it when
    // it comes, a timer when it is due
    FakeMessages &q = *g_messages;
    q.sleeps.push_back(ms);
    *sleeper = &q;
    Arrive(q);
    if (!q.queue.empty() || q.quit)
        return;
    uint32_t until = g_link->now + static_cast<uint32_t>(ms);
    if (!q.later.empty() && static_cast<int32_t>(q.later.front().first - until) < 0)
        until = q.later.front().first;
    if (q.timerPeriod && static_cast<int32_t>(q.nextTimer - until) < 0)
        until = static_cast<int32_t>(q.nextTimer - g_link->now) > 0 ? q.nextTimer : g_link->now;
    g_link->now = until;
}

void ReleaseSleeper(void **sleeper)
{
    *sleeper = nullptr;
}

namespace {
const uint32_t kMark = 0xC0DE;
}

int PostGiveBackMark(void)
{
    g_messages->Post(nullptr, kMark, 0, 0x564F4C4D);
    return 1;
}

int IsGiveBackMark(const QueuedMessage *m)
{
    return m->window == nullptr && m->message == kMark && m->lParam == 0x564F4C4D;
}

void RemoveGiveBackMark(void)
{
    auto &q = g_messages->queue;
    for (auto it = q.begin(); it != q.end(); ++it)
        if (IsGiveBackMark(&*it)) {
            q.erase(it);
            return;
        }
}
