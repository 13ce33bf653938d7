// A scripted fake of the link operations with a virtual millisecond clock.
// The device side is a callback that sees every write of the host and
// schedules the bytes it sends back at virtual times.
#ifndef VOLMIRAX_FAKE_LINK_H
#define VOLMIRAX_FAKE_LINK_H

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "volmirax.h"

using Bytes = std::vector<unsigned char>;

struct FakeLink {
    uint32_t now = 0;             // virtual clock, ms
    uint32_t idleStep = 1;        // ms that pass in one idle step
    Bytes wire;                   // every byte the host wrote
    std::vector<std::string> ops; // "purge-rx", "purge-tx", "write <hex>", "read <n>", "idle"
    bool recordOps = true;        // the fuzzer runs without the log
    std::deque<std::pair<uint32_t, unsigned char>> scheduled;  // (arrival time, byte)
    std::deque<unsigned char> rx;                               // arrived, not read
    std::function<void(FakeLink &, const Bytes &)> onWrite;     // the device

    // Failure injection, by 0-based index of the write / read call.
    int failWrite = -1, shortWrite = -1, failRead = -1, shortRead = -1;
    int writes = 0, reads = 0, idles = 0;
    // From this virtual time on the port is closed (by another thread):
    // PendingBytes refuses it as the platforms' links do.
    int64_t closedAt = -1;

    // Bytes that arrive `delay` ms from now, `spacing` ms apart.
    void Send(const Bytes &bytes, uint32_t delay = 0, uint32_t spacing = 0);
    void Deliver();  // moves arrived bytes into the input queue
    int Count(const std::string &op) const;
    void Record(const std::string &op)
    {
        if (recordOps)
            ops.push_back(op);
    }
};

// The fake the link operations act on while a test runs; any non-null
// handle reaches it.
extern FakeLink *g_link;
HANDLE FakePort();

std::string Hex(const Bytes &bytes);
Bytes Str(const std::string &s);
Bytes Cat(Bytes a, const Bytes &b);

#endif
