#include "fake_link.h"

#include <cstdio>

#include "link/link.h"
#include "link/windows/idle_step.h"
#include "fake_messages.h"
#include "wire_model.h"

FakeLink *g_link = nullptr;

HANDLE FakePort() { return reinterpret_cast<HANDLE>(0x1234); }

std::string Hex(const Bytes &bytes) { return HexOf(bytes); }

Bytes Str(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void FakeLink::Send(const Bytes &bytes, uint32_t delay, uint32_t spacing)
{
    uint32_t t = now + delay;
    for (unsigned char b : bytes) {
        scheduled.emplace_back(t, b);
        t += spacing;
    }
}

void FakeLink::Deliver()
{
    while (!scheduled.empty() && static_cast<int32_t>(now - scheduled.front().first) >= 0) {
        rx.push_back(scheduled.front().second);
        scheduled.pop_front();
    }
}

int FakeLink::Count(const std::string &op) const
{
    int n = 0;
    for (const auto &o : ops)
        n += o.compare(0, op.size(), op) == 0;
    return n;
}

int WriteBytes(HANDLE, const unsigned char *bytes, unsigned count)
{
    FakeLink &f = *g_link;
    int index = f.writes++;
    if (index == f.failWrite || (f.closedAt >= 0 && static_cast<int64_t>(f.now) >= f.closedAt)) {
        f.Record("write-failed");
        return ERR_WRITE;
    }
    unsigned sent = index == f.shortWrite ? count / 2 : count;
    Bytes out(bytes, bytes + sent);
    f.Record("write " + Hex(out));
    f.wire.insert(f.wire.end(), out.begin(), out.end());
    if (f.onWrite)
        f.onWrite(f, out);
    return sent < count ? ERR_WRITE_SHORT : 0;
}

int ReadBytes(HANDLE, unsigned char *buffer, unsigned count)
{
    FakeLink &f = *g_link;
    int index = f.reads++;
    f.Record("read " + std::to_string(count));
    if (index == f.failRead)
        return ERR_READ;
    f.Deliver();
    unsigned want = index == f.shortRead ? count - 1 : count;
    unsigned got = 0;
    while (got < want && !f.rx.empty()) {
        buffer[got++] = f.rx.front();
        f.rx.pop_front();
    }
    return got < count ? ERR_READ_SHORT : 0;
}

int PendingBytes(HANDLE)
{
    FakeLink &f = *g_link;
    if (f.closedAt >= 0 && static_cast<int64_t>(f.now) >= f.closedAt)
        return ERR_WRITE;
    f.Deliver();
    return static_cast<int>(f.rx.size());
}

void Purge(HANDLE)
{
    g_link->Deliver();
    g_link->rx.clear();
    g_link->Record("purge-rx");
    g_link->Record("purge-tx");
}

uint32_t TickCount(void) { return g_link->now; }

void IdleUntilInputOrTime(HANDLE port, unsigned pendingSeen, int32_t remainingMs, IdleState *state)
{
    g_link->Record("idle");
    ++g_link->idles;
    // With a scripted message queue the idle step is the Windows one: the
    // host's procedures run, and may take time on the virtual clock, and the
    // step sleeps on the virtual clock until its next look is due. A step
    // that took no time of its own takes `idleStep`.
    const uint32_t before = g_link->now;
    if (g_messages)
        WindowsIdleStep(port, pendingSeen, remainingMs, state);
    if (g_link->now == before)
        g_link->now += g_link->idleStep;
}

void EndIdle(IdleState *state)
{
    if (g_messages)
        WindowsEndIdle(state);
}
