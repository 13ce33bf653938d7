// The fuzz input read front to back; past its end every value is 0, which
// makes a silent device with no failures.
#ifndef VOLMIRAX_FUZZ_INPUT_H
#define VOLMIRAX_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct FuzzInput {
    const uint8_t *data;
    size_t size, at = 0;

    uint8_t Byte() { return at < size ? data[at++] : 0; }
    unsigned U16() { return Byte() | (Byte() << 8); }
    std::vector<unsigned char> Bytes(size_t n)
    {
        std::vector<unsigned char> b;
        for (size_t i = 0; i < n; ++i)
            b.push_back(Byte());
        return b;
    }
};

// Layout, for the seeds (make_seeds.cpp) and the target alike:
//   op, flags, 3 x time-out (u16), idle step, 4 x failure index, cmdLen, cmd,
//   then per host write: mode, delay (u16), spacing, and the mode's bytes.
enum FuzzOp { OP_SEND_CMD, OP_SEND_EOT, OP_RESET, OP_EJECT, OP_VERSION, OP_COUNT };
enum FuzzFlag { NULL_PORT = 1, NULL_DATA = 2, NULL_LEN = 4, NULL_CMD = 8, TRACE_ON = 16 };
enum FuzzMode { MODE_RAW, MODE_ACK, MODE_REPLY, MODE_ECHO, MODE_NOTHING, MODE_COUNT };

static inline int FuzzTimeout(unsigned u16) { return (int)(u16 % 4100) - 50; }
static inline int FuzzFailure(uint8_t b) { return b < 0xF0 ? -1 : b - 0xF0; }

#endif
