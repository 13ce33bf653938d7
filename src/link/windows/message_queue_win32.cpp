// The calling thread's message queue through the Win32 calls.
#include <windows.h>

#include "link/windows/message_queue.h"

// Removes the next message for `window` (NULL: any; (HWND)-1: only those
// of the thread itself) in the range `first`..`last` (0, 0: all).
static int Take(HWND window, QueuedMessage *m, UINT first = 0, UINT last = 0)
{
    MSG msg;
    if (!PeekMessageA(&msg, window, first, last, PM_REMOVE))
        return 0;
    m->window = msg.hwnd;
    m->message = msg.message;
    m->wParam = msg.wParam;
    m->lParam = msg.lParam;
    m->time = msg.time;
    m->x = msg.pt.x;
    m->y = msg.pt.y;
    return 1;
}

int TakeMessage(QueuedMessage *m)
{
    return Take(NULL, m);
}

int TakeStarvedMessage(QueuedMessage *m)
{
    // a filter that leaves the posted messages out lets the system make
    // the timer and paint messages that are due
    return Take(NULL, m, WM_TIMER, WM_TIMER) || Take(NULL, m, WM_PAINT, WM_PAINT);
}

int TakeThreadMessage(QueuedMessage *m)
{
    return Take((HWND)-1, m);
}

void DispatchTaken(const QueuedMessage *m)
{
    MSG msg;
    ZeroMemory(&msg, sizeof msg);
    msg.hwnd = (HWND)m->window;
    msg.message = m->message;
    msg.wParam = m->wParam;
    msg.lParam = m->lParam;
    msg.time = m->time;
    msg.pt.x = m->x;
    msg.pt.y = m->y;
    DispatchMessageA(&msg);
    TranslateMessage(&msg);
}

int PostToThread(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return PostThreadMessageA(GetCurrentThreadId(), message, wParam, lParam) ? 1 : 0;
}

// A message number of the library's own (the system hands out the same
// number for the same name in every process), with a value no host sends.
static UINT MarkMessage(void)
{
    static UINT number = 0;  // the same for every thread: a race writes the same value
    if (number == 0)
        number = RegisterWindowMessageA("VOLMIRAX give-back mark");
    return number;
}

static const LPARAM kMarkValue = (LPARAM)0x564F4C4D;  // "VOLM"

int PostGiveBackMark(void)
{
    const UINT number = MarkMessage();
    return number != 0 && PostThreadMessageA(GetCurrentThreadId(), number, 0, kMarkValue) ? 1 : 0;
}

int IsGiveBackMark(const QueuedMessage *m)
{
    return m->window == 0 && m->message == MarkMessage() && m->lParam == kMarkValue;
}

void RemoveGiveBackMark(void)
{
    const UINT number = MarkMessage();
    MSG msg;
    PeekMessageA(&msg, (HWND)-1, number, number, PM_REMOVE);
}

void PostQuit(int exitCode)
{
    PostQuitMessage(exitCode);
}

// The sleeper is a high-resolution waitable timer where the system has one
// (Windows 10, version 1803 on): it ends the sleep on time without raising
// the timer resolution of the whole machine. Elsewhere the sleep is the
// wait's own time-out, at the system's timer resolution. NO_TIMER marks a
// wait that found no such timer, so that it asks only once.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
static void *const NO_TIMER = (void *)-1;

void SleepUntilMessage(int32_t ms, void **sleeper)
{
    if (*sleeper == 0) {
        HANDLE timer = CreateWaitableTimerExW(NULL, NULL, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        *sleeper = timer != NULL ? (void *)timer : NO_TIMER;
    }
    LARGE_INTEGER due;
    due.QuadPart = -(LONGLONG)ms * 10000;  // relative, in 100-ns units
    if (*sleeper != NO_TIMER && SetWaitableTimer((HANDLE)*sleeper, &due, 0, NULL, NULL, FALSE)) {
        HANDLE timer = (HANDLE)*sleeper;
        // the wait's own time-out only guards against a timer that never fires
        MsgWaitForMultipleObjectsEx(1, &timer, (DWORD)ms + 16, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        return;
    }
    MsgWaitForMultipleObjectsEx(0, NULL, (DWORD)ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void ReleaseSleeper(void **sleeper)
{
    if (*sleeper != 0 && *sleeper != NO_TIMER)
        CloseHandle((HANDLE)*sleeper);
    *sleeper = 0;
}
