// A serial line with a rate and an output queue, on a virtual clock, in
// place of the system calls that the POSIX link makes (linked with
// -Wl,--wrap). A pseudo-terminal has neither, so this is where the link's
// writes, purges and waits meet a line that behaves like a UART.
#ifndef VOLMIRAX_VIRTUAL_LINE_H
#define VOLMIRAX_VIRTUAL_LINE_H

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "wire_model.h"  // Bytes

struct VirtualLine {
    static const int kFd = 1000;  // the descriptor the port record carries

    int64_t nowUs = 0;
    int64_t byteUs = 1042;     // 9600 baud, 10 bits a byte
    unsigned outCapacity = 4096;
    bool stalled = false;      // nothing leaves the output queue (flow control, a stuck adapter)
    bool hungUp = false;       // poll() reports a hang-up, read() fails with EIO
    int readErrno = 0;         // non-zero: read() fails with it

    std::deque<std::pair<int64_t, unsigned char>> out;  // (time it has left, byte)
    int64_t lineFreeAt = 0;
    std::deque<std::pair<int64_t, unsigned char>> in;   // (arrival time, byte)
    Bytes rx;                  // arrived, not read
    Bytes received;            // every byte that reached the device
    unsigned purgedOut = 0;    // bytes an output purge took back before they left

    // The device: sees each byte as it arrives at its end of the line.
    std::function<void(VirtualLine &, unsigned char)> onByte;

    int polls = 0, sleeps = 0, reads = 0, writes = 0, outqs = 0;

    // Bytes that start arriving `delayUs` from now, at the line's rate.
    void Send(const Bytes &bytes, int64_t delayUs = 0);
    void AdvanceTo(int64_t t);
    int64_t NextEvent() const;  // INT64_MAX when nothing is due
    unsigned OutQueued() const;
    int SystemCalls() const { return polls + sleeps + reads + writes + outqs; }
};

extern VirtualLine *g_line;

#endif
