// Ports closed by another thread while calls run on them, on pseudo-
// terminals, built under ThreadSanitizer with the library's own sources:
// a call whose port is closed under it ends with ERR_WRITE and never
// reaches the port opened in its place, and nothing races.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "volmirax.h"

extern "C" HANDLE OpenCommPath(const char *device, int baud);

namespace {

int g_failures = 0;

int64_t NowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void Expect(bool ok, const std::string &what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
        ++g_failures;
    }
}

struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        int s = -1;
        char name[128];
        if (openpty(&master, &s, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        close(s);  // the library opens it by name
        slave = name;
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() { close(master); }
    // Reads what has arrived for `ms` milliseconds: the number of bytes.
    size_t Drain(int ms) const
    {
        size_t total = 0;
        char buf[4096];
        for (int waited = 0; waited < ms; waited += 10) {
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) {
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0)
                    total += (size_t)n;
            }
        }
        return total;
    }
};

// Two threads open the process's first ports at the same moment: the trace
// starts once, its header named after one of them, without a race.
void FirstOpensAtOnce()
{
    Pty a, b;
    std::atomic<int> ready{0};
    HANDLE ha = 0, hb = 0;
    auto open = [&](const Pty &p, HANDLE &h) {
        ++ready;
        while (ready < 2) {
        }
        h = OpenCommPath(p.slave.c_str(), 9600);
    };
    std::thread ta(open, std::cref(a), std::ref(ha)), tb(open, std::cref(b), std::ref(hb));
    ta.join();
    tb.join();
    Expect(ha != 0 && hb != 0, "both first ports open");
    CloseComm(&ha);
    CloseComm(&hb);
}

// A long command stalls in its write on a line nobody reads; another thread
// closes the port and opens a second one, which takes the first one's place
// in the table and, with the old code, its descriptor number.
void StalledWriteNeverReachesThePortOpenedInItsPlace()
{
    Pty first, second;
    HANDLE h1 = OpenCommPath(first.slave.c_str(), 9600);
    Expect(h1 != 0, "first port opens");
    std::vector<unsigned char> cmd(400000, 'x');
    std::atomic<int> rc{1};
    std::thread caller([&] {
        rc = SendCmd(h1, cmd.data(), (unsigned)cmd.size(), nullptr, nullptr, 200, 200, 200);
    });
    usleep(300 * 1000);  // the caller is stalled on the full line by now
    HANDLE closing = h1;
    Expect(CloseComm(&closing) == 1, "close during the call succeeds");
    HANDLE h2 = OpenCommPath(second.slave.c_str(), 9600);
    Expect(h2 != 0, "second port opens");
    // the first line drains now: the stalled write could go on
    const size_t firstGot = first.Drain(600);
    const size_t secondGot = second.Drain(600);
    caller.join();
    Expect(rc == ERR_WRITE, "the call ends with ERR_WRITE, got " + std::to_string(rc.load()));
    Expect(secondGot == 0, "the second port received " + std::to_string(secondGot) + " bytes of the first one's command");
    Expect(firstGot < cmd.size(), "the first port's command was cut off at the close");
    CloseComm(&h2);
}

// A call asleep in its wait for a silent device, its port closed by another
// thread: the wait wakes at the close, not at its 5-s time-out.
void CloseWakesAWaitingCall()
{
    Pty line;
    HANDLE h = OpenCommPath(line.slave.c_str(), 115200);
    Expect(h != 0, "port opens");
    const unsigned char cmd[2] = {'3', '0'};
    std::atomic<int> rc{1};
    std::atomic<int64_t> endedAt{0};
    std::thread caller([&] {
        rc = SendCmd(h, cmd, 2, nullptr, nullptr, 5000, 5000, 5000);
        endedAt = NowMs();
    });
    usleep(300 * 1000);  // the caller is asleep in the acknowledgement's wait
    HANDLE closing = h;
    const int64_t closedAt = NowMs();
    Expect(CloseComm(&closing) == 1, "close during the wait succeeds");
    caller.join();
    const int64_t late = endedAt - closedAt;
    Expect(rc == ERR_WRITE, "the waiting call ends with ERR_WRITE, got " + std::to_string(rc.load()));
    // woken at once; the margin is for a loaded machine under ThreadSanitizer
    Expect(late < 1000, "the waiting call ended " + std::to_string(late) + " ms after the close");
}

// Calls on several ports while other threads close and reopen them.
void CallsAndClosesOnManyThreads()
{
    const int kPorts = 4;
    std::vector<Pty> lines(kPorts);
    std::atomic<HANDLE> handles[kPorts];
    for (int i = 0; i < kPorts; ++i)
        handles[i] = OpenCommPath(lines[i].slave.c_str(), 115200);
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0}, odd{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kPorts; ++t)
        threads.emplace_back([&, t] {
            const unsigned char cmd[2] = {'3', '0'};
            unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
            unsigned len = 0;
            while (!stop) {
                const int rc = SendCmd(handles[t].load(), cmd, 2, data, &len, 5, 5, 5);
                ++calls;
                if (rc != ERR_ACK_TIMEOUT && rc != ERR_WRITE && rc != ERR_NO_PORT)
                    ++odd;
            }
        });
    threads.emplace_back([&] {
        for (int round = 0; !stop; ++round) {
            const int i = round % kPorts;
            HANDLE h = handles[i].exchange(nullptr);
            CloseComm(&h);
            handles[i] = OpenCommPath(lines[i].slave.c_str(), 115200);
            usleep(2000);
        }
    });
    std::thread reader([&] {
        while (!stop)
            for (auto &l : lines)
                l.Drain(10);
    });
    usleep(3 * 1000 * 1000);
    stop = true;
    for (auto &t : threads)
        t.join();
    reader.join();
    for (auto &h : handles) {
        HANDLE x = h.load();
        CloseComm(&x);
    }
    Expect(calls > 100, "calls ran: " + std::to_string(calls.load()));
    Expect(odd == 0, std::to_string(odd.load()) + " calls ended with an unexpected code");
}

}  // namespace

int main()
{
    FirstOpensAtOnce();  // first: the trace starts with the process's first open
    StalledWriteNeverReachesThePortOpenedInItsPlace();
    CloseWakesAWaitingCall();
    CallsAndClosesOnManyThreads();
    if (g_failures == 0)
        std::printf("ok\n");
    return g_failures == 0 ? 0 : 1;
}
