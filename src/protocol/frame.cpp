#include "protocol/frame.h"

#include <string.h>

unsigned char ComputeBcc(const unsigned char *bytes, unsigned count)
{
    unsigned char bcc = 0;
    for (unsigned i = 0; i < count; ++i)
        bcc ^= bytes[i];
    return bcc;
}

void BuildCommandFrame(const unsigned char *cmd, unsigned cmdLen, unsigned char *frame)
{
    frame[0] = STX;
    frame[1] = COMMAND_MARKER;
    memcpy(frame + 2, cmd, cmdLen);
    frame[2 + cmdLen] = ETX;
    frame[3 + cmdLen] = ComputeBcc(frame + 1, cmdLen + 2);
    frame[4 + cmdLen] = CR;
}

int ReplyBccIsCorrect(const unsigned char *reply, unsigned n)
{
    return ComputeBcc(reply + 1, n - 2) == reply[n - 1];
}

int ReplyEchoesCommand(const unsigned char *reply, const unsigned char *cmd)
{
    return reply[REPLY_CODE] == cmd[0] && reply[REPLY_PARAM] == cmd[1];
}

int ReplyIsPositive(const unsigned char *reply)
{
    return reply[REPLY_MARKER] == POSITIVE_MARKER;
}

unsigned ReplyDataLength(unsigned n)
{
    return n - REPLY_MIN_COUNT;
}

int32_t DeviceStatusCode(unsigned char s1, unsigned char s2)
{
    return (int32_t)s1 * 256 + (int32_t)s2 - 0x3030;
}
