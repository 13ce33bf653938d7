// The host's window and thread messages during the waits (Windows).
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "volmirax_codes.h"

#ifdef _WIN32
#include <windows.h>

int g_dispatched = 0, g_reposted = 0, g_windowTimer = 0, g_threadTimer = 0;
bool g_repost = false;
const UINT kCount = WM_APP + 1, kRepost = WM_APP + 2, kBefore = WM_APP + 3, kPostDuring = WM_APP + 4,
           kDuring = WM_APP + 5;

LRESULT CALLBACK TestProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case kCount:
        ++g_dispatched;
        return 0;
    case kRepost:  // idle work that posts itself again
        ++g_reposted;
        if (g_repost)
            PostMessageA(w, kRepost, 0, 0);
        return 0;
    case kPostDuring:  // a message to the thread, posted while the call waits
        PostThreadMessageA(GetCurrentThreadId(), kDuring, 33, 44);
        // the clock moves on, so the pass ends with that message still
        // queued behind the one the wait has kept
        Sleep(30);
        return 0;
    case WM_TIMER:
        ++g_windowTimer;
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

VOID CALLBACK ThreadTimerProc(HWND, UINT, UINT_PTR, DWORD) { ++g_threadTimer; }

// A worker thread that posts numbered thread messages to the waiting thread
// as fast as it can.
struct Producer {
    DWORD target;
    int count;
    volatile DWORD doneAt;  // GetTickCount() when the last one was posted
};

DWORD WINAPI Produce(void *arg)
{
    Producer *p = (Producer *)arg;
    for (int i = 0; i < p->count; ++i)
        while (!PostThreadMessageA(p->target, WM_APP + 9, i, 0))
            Sleep(1);  // the queue is at its limit: try again
    p->doneAt = GetTickCount();
    return 0;
}

// While another thread pours 5000 thread messages in, during a 600-ms wait
// for the acknowledgement, a 20-ms window timer keeps firing (the system
// makes WM_TIMER only when nothing is posted), none is lost, and when the
// producer finished before the first wait could end (the acknowledgement
// comes 600 ms after the frame) they all come back in order. Several runs:
// the timing of the two threads differs from run to run.
void TestFloodFromAnotherThread(HANDLE h, HWND w)
{
    On(h, "T", "ackdelay=600");
    for (int run = 0; run < 3; ++run) {
        const std::string name = "messages: flood from another thread, run " + std::to_string(run + 1);
        Producer p = {GetCurrentThreadId(), 5000, 0};
        g_windowTimer = 0;
        SetTimer(w, 2, 20, NULL);
        const DWORD start = GetTickCount();
        HANDLE worker = CreateThread(NULL, 0, Produce, &p, 0, NULL);
        Outcome o = Exchange(h, "T1", 3000, 3000, 500);
        WaitForSingleObject(worker, INFINITE);
        // a wait that ends while the producer still posts gives its messages
        // back among the producer's newest: order is promised only for
        // messages posted before the wait ended
        const bool finishedFirst = (LONG)(p.doneAt - start) < 600;
        KillTimer(w, 2);
        CloseHandle(worker);
        CheckRc(o.rc, 0, name);
        // about 30 ticks are due in 600 ms; a starved timer fires a few times
        Check(g_windowTimer >= (Emulated() ? 5 : 15), name + ": the window timer kept firing", std::to_string(g_windowTimer) + " times in " +
              std::to_string(o.ms) + " ms");
        MSG msg;
        int inOrder = 0, total = 0;
        while (PeekMessageA(&msg, NULL, WM_APP + 9, WM_APP + 9, PM_REMOVE)) {
            if ((int)msg.wParam == inOrder)
                ++inOrder;
            ++total;
        }
        Check(total == 5000, name + ": none lost", std::to_string(total));
        if (finishedFirst)
            Check(inOrder == 5000, name + ": in order (the producer had finished before the first wait could end)",
                  std::to_string(inOrder) + " in order");
        else
            printf("# %s: the producer was still posting %lu ms after the call began; order not promised\n", name.c_str(),
                   (unsigned long)(p.doneAt - start));
    }
    On(h, "T", "ok");
}

// A 10-ms window timer keeps its rhythm through a 3-s silent wait, which
// sleeps between its looks at the port: the timer wakes it each time, and
// the call still ends with the time-out on time.
void TestTimerThroughASilentWait(HANDLE h, HWND w)
{
    On(h, "T", "dead");
    g_windowTimer = 0;
    SetTimer(w, 3, 10, NULL);
    const unsigned char cmd[2] = {'T', '1'};
    const long long t0 = NowMs();
    const int rc = lib.SendCmd(h, cmd, 2, nullptr, nullptr, 3000, 1000, 200);
    const long long ms = NowMs() - t0;
    KillTimer(w, 3);
    CheckRc(rc, ERR_ACK_TIMEOUT, "messages: 10-ms timer through a 3-s silent wait");
    Check(ms >= 3180 && ms <= 3200 + Late(300), "messages: the silent wait ends on time", std::to_string(ms) + " ms");
    Check(g_windowTimer >= 100, "messages: the window timer kept ticking through the silent wait",
          std::to_string(g_windowTimer) + " ticks in " + std::to_string(ms) + " ms");
    On(h, "T", "ok");
}

// Another thread posts thread messages without pause through a silent call
// (1000-ms acknowledgement, 300-ms echo): what the waits kept goes back
// when each ends, and the call returns within its time-outs plus what the
// give-back adds: one post for each message a wait kept, at most 10,000
// per wait (the cost of a post is measured here, under the same stream);
// none of the messages is lost.
struct Stream {
    DWORD target;
    volatile LONG stop;
    int posted;
};

DWORD WINAPI StreamMessages(void *arg)
{
    Stream *s = (Stream *)arg;
    while (!s->stop) {
        if (PostThreadMessageA(s->target, WM_APP + 10, s->posted, 0))
            ++s->posted;
        else
            Sleep(1);  // the queue is at its limit
    }
    return 0;
}

void TestStreamDuringASilentCall(HANDLE h)
{
    On(h, "T", "dead");
    Stream s = {GetCurrentThreadId(), 0, 0};
    HANDLE worker = CreateThread(NULL, 0, StreamMessages, &s, 0, NULL);
    Sleep(20);
    const int probe = 2000;
    const long long p0 = NowMs();
    for (int i = 0; i < probe; ++i)
        PostThreadMessageA(GetCurrentThreadId(), WM_APP + 11, 0, 0);
    MSG drop;
    while (PeekMessageA(&drop, NULL, WM_APP + 11, WM_APP + 11, PM_REMOVE)) {
    }
    // one post and one take, as the give-back does for each message
    const double postMs = (double)(NowMs() - p0 + 1) / probe;
    const unsigned char cmd[2] = {'T', '1'};
    const long long t0 = NowMs();
    const int rc = lib.SendCmd(h, cmd, 2, nullptr, nullptr, 1000, 1000, 300);
    const long long ms = NowMs() - t0;
    // two waits, each at most 10,000 taken and posted back; the stream's
    // load varies, hence the margin
    const long long giveBack = (long long)(2 * 10000 * postMs * 3);
    InterlockedExchange(&s.stop, 1);
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    MSG msg;
    int total = 0;
    while (PeekMessageA(&msg, NULL, WM_APP + 10, WM_APP + 10, PM_REMOVE))
        ++total;
    CheckRc(rc, ERR_ACK_TIMEOUT, "messages: silent call under a stream of thread messages");
    Check(ms <= 1300 + giveBack + Late(300), "messages: a stream of thread messages adds at most the give-back's posts",
          std::to_string(ms) + " ms (bound " + std::to_string(1300 + giveBack) + "), " + std::to_string(s.posted) + " posted, " +
              std::to_string(postMs * 1000) + " us a post");
    Check(total == s.posted, "messages: none of the stream lost", std::to_string(total) + " of " + std::to_string(s.posted));
    On(h, "T", "ok");
}

// Removes the thread messages in [first, last] and tells them as
// "message:wParam:lParam" in queue order.
std::string TakeThreadMessages(UINT first, UINT last)
{
    std::string out;
    MSG msg;
    while (PeekMessageA(&msg, NULL, first, last, PM_REMOVE))
        if (msg.hwnd == NULL)
            out += (out.empty() ? "" : " ") + std::to_string(msg.message - WM_APP) + ":" + std::to_string(msg.wParam) + ":" +
                   std::to_string(msg.lParam);
    return out;
}

void TestMessages(HANDLE h)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = TestProc;
    wc.lpszClassName = "VolmiraxE2E";
    RegisterClassA(&wc);
    HWND w = CreateWindowA("VolmiraxE2E", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    Check(w != NULL, "a message-only window for the test");
    On(h, "T", "replydelay=150");
    PostMessageA(w, kCount, 0, 0);
    PostMessageA(w, kCount, 0, 0);
    Outcome o = Exchange(h, "T1");
    CheckRc(o.rc, 0, "messages: exchange with window messages waiting");
    Check(g_dispatched == 2, "messages: the window procedure ran while the call waited",
          std::to_string(g_dispatched) + " dispatched");

    // A window that keeps posting to itself cannot hold a silent exchange:
    // the abort goes out after the acknowledgement time and the call ends
    // after the abort's time, as without messages.
    On(h, "T", "dead");
    g_repost = true;
    PostMessageA(w, kRepost, 0, 0);
    const unsigned char cmd[2] = {'T', '1'};
    long long t0 = NowMs();
    int rc = lib.SendCmd(h, cmd, 2, nullptr, nullptr, 300, 300, 300);
    long long ms = NowMs() - t0;
    g_repost = false;
    MSG msg;
    while (PeekMessageA(&msg, w, kRepost, kRepost, PM_REMOVE)) {
    }
    long long abortAt = atoll(Ctl(h, "abortdelay").c_str());
    CheckRc(rc, ERR_ACK_TIMEOUT, "messages: self-posting window, silent device");
    Check(abortAt >= 280 && abortAt <= 300 + Late(150), "messages: self-posting window: abort after 300 ms", std::to_string(abortAt) + " ms");
    Check(ms >= 580 && ms <= 600 + Late(250), "messages: self-posting window: call ends after about 600 ms", std::to_string(ms) + " ms");
    Check(g_reposted > 100, "messages: self-posting window kept running", std::to_string(g_reposted) + " dispatched");

    // Thread messages, one posted before the call and one while it waits,
    // are still queued afterwards, in order, with their values.
    On(h, "T", "replydelay=150");
    PostThreadMessageA(GetCurrentThreadId(), kBefore, 11, 22);
    PostMessageA(w, kPostDuring, 0, 0);
    o = Exchange(h, "T1");
    CheckRc(o.rc, 0, "messages: exchange with thread messages");
    std::string kept = TakeThreadMessages(kBefore, kDuring);
    Check(kept == "3:11:22 5:33:44", "messages: thread messages kept for the host", kept);

    // More thread messages than a wait kept at first (the queue holds up to
    // 10,000): all come back in the order they were posted, through every
    // wait of the call. The reply comes late enough that even a loaded
    // machine's waits reach the window message behind them.
    On(h, "T", "replydelay=600");
    const int flood = 3000;
    for (int i = 0; i < flood; ++i)
        PostThreadMessageA(GetCurrentThreadId(), kBefore, i, 0);
    PostMessageA(w, kCount, 0, 0);
    g_dispatched = 0;
    o = Exchange(h, "T1", 1000, 2000, 500);
    CheckRc(o.rc, 0, "messages: exchange behind 3000 thread messages");
    Check(g_dispatched == 1, "messages: the window message behind them was dispatched");
    int inOrder = 0, total = 0;
    while (PeekMessageA(&msg, NULL, kBefore, kBefore, PM_REMOVE)) {
        if (msg.hwnd == NULL && (int)msg.wParam == inOrder)
            ++inOrder;
        ++total;
    }
    Check(total == flood && inOrder == flood, "messages: 3000 thread messages back in their order",
          std::to_string(inOrder) + " in order of " + std::to_string(total));

    // A thread timer with a procedure keeps running during a wait.
    On(h, "T", "replydelay=400");
    UINT_PTR timer = SetTimer(NULL, 0, 20, ThreadTimerProc);
    o = Exchange(h, "T1", 300, 1000, 200);
    KillTimer(NULL, timer);
    CheckRc(o.rc, 0, "messages: exchange with a thread timer");
    Check(g_threadTimer >= 5, "messages: the thread timer's procedure ran during the wait", std::to_string(g_threadTimer) + " times");

    TestFloodFromAnotherThread(h, w);
    TestTimerThroughASilentWait(h, w);
    TestStreamDuringASilentCall(h);

    // While a WM_QUIT waits, a 20 ms window timer keeps firing, and the
    // WM_QUIT is there after the call with its exit code.
    SetTimer(w, 1, 20, NULL);
    PostQuitMessage(7);
    o = Exchange(h, "T1", 300, 1000, 200);
    KillTimer(w, 1);
    CheckRc(o.rc, 0, "messages: exchange with WM_QUIT posted");
    Check(g_windowTimer >= 5, "messages: the window timer fired while a WM_QUIT waited", std::to_string(g_windowTimer) + " times");
    bool quit = PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7;
    Check(quit, "messages: WM_QUIT with its exit code is still there after the call");
    DestroyWindow(w);
}
#else
void TestMessages(HANDLE) {}
#endif
