// Every byte sequence that crosses the line, and the block check.
#ifndef VOLMIRAX_FRAME_H
#define VOLMIRAX_FRAME_H

#include <stdint.h>

enum {
    STX = 0x02,
    ETX = 0x03,
    EOT = 0x04,
    ENQ = 0x05,
    ACK = 0x06,
    DLE = 0x10,
    CR = 0x0D,
    COMMAND_MARKER = 0x43,  // "C"
    POSITIVE_MARKER = 0x50  // "P"
};

// Request sequence: asks the device for its reply frame.
static const unsigned char kRequest[2] = {ENQ, CR};
// Abort sequence; the device echoes it unchanged.
static const unsigned char kAbort[3] = {DLE, EOT, CR};
// Bytes of the acknowledgement; only the first is examined.
enum { ACK_LENGTH = 2 };

// Command frame: STX "C" <command bytes> ETX BCC CR, BCC over "C" to ETX.
enum { FRAME_OVERHEAD = 5 };

// Reply frame, as collected up to (not counting) its CR:
// STX marker code param s1 s2 <data> ETX BCC.
enum {
    REPLY_BUFFER_SIZE = 1000,             // the CR included
    REPLY_MAX_COUNT = REPLY_BUFFER_SIZE - 1,
    REPLY_MIN_COUNT = 6,                  // STX marker code param ETX BCC
    REPLY_MARKER = 1,
    REPLY_CODE = 2,
    REPLY_PARAM = 3,
    REPLY_DATA = 4                        // caller data: status bytes, then data
};

// Running XOR of `count` bytes, from 0.
unsigned char ComputeBcc(const unsigned char *bytes, unsigned count);

// Writes the cmdLen + FRAME_OVERHEAD frame bytes into `frame`.
void BuildCommandFrame(const unsigned char *cmd, unsigned cmdLen, unsigned char *frame);

// Checks of a collected reply of `n` >= REPLY_MIN_COUNT bytes.
int ReplyBccIsCorrect(const unsigned char *reply, unsigned n);
int ReplyEchoesCommand(const unsigned char *reply, const unsigned char *cmd);
int ReplyIsPositive(const unsigned char *reply);
unsigned ReplyDataLength(unsigned n);

// s1 * 256 + s2 - "00": the result code of a negative reply.
int32_t DeviceStatusCode(unsigned char s1, unsigned char s2);

#endif
