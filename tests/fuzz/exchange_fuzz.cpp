// Drives SendCmd, SendEot and the three commands through the scripted fake
// link with everything the device does drawn from the input: its bytes,
// when they arrive, failing and short reads and writes, the time-outs and
// the command bytes. Checks on every run what a host relies on.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake_trace_sink.h"
#include "scripted_device.h"
#include "volmirax_codes.h"
#include "fuzz_input.h"

namespace {

const unsigned char GUARD = 0xA5;
const size_t GUARD_SIZE = 16;

void Fail(const char *what)
{
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
}

bool IsLibraryCode(int rc) { return rc != 0 && VolmiraxFindCode(rc) != nullptr; }

Bytes Reply(FuzzInput &in, const Bytes &lastCmd)
{
    unsigned char marker = in.Byte();
    Bytes status = in.Bytes(2);
    size_t dataLen = in.U16() % 1100;
    unsigned char fill = in.Byte();
    uint8_t flags = in.Byte();
    unsigned char code = lastCmd.size() > 2 ? lastCmd[2] : 0;
    unsigned char param = lastCmd.size() > 3 ? lastCmd[3] : 0;
    if (flags & 1)
        param ^= 1;  // wrong echo
    Bytes callerData = status;
    callerData.insert(callerData.end(), dataLen, fill);
    Bytes f = ReplyFrame(marker, code, param, callerData, flags & 2 ? 0x20 : 0);
    if (flags & 4)
        f.pop_back();  // no CR
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    FakeLink link;
    link.recordOps = false;
    g_link = &link;

    const int op = in.Byte() % OP_COUNT;
    const uint8_t flags = in.Byte();
    const int ack = FuzzTimeout(in.U16()), reply = FuzzTimeout(in.U16()), eot = FuzzTimeout(in.U16());
    link.idleStep = 1 + in.Byte() % 25;
    link.now = 0xFFFFF000u + in.Byte() * 16u;  // the clock may wrap during the call
    link.failWrite = FuzzFailure(in.Byte());
    link.shortWrite = FuzzFailure(in.Byte());
    link.failRead = FuzzFailure(in.Byte());
    link.shortRead = FuzzFailure(in.Byte());
    Bytes cmd = in.Bytes(in.Byte() % 24);

    int aborts = 0;
    Bytes lastFrame;
    link.onWrite = [&](FakeLink &l, const Bytes &w) {
        if (w == wire::kAbort)
            ++aborts;
        if (!w.empty() && w[0] == wire::STX)
            lastFrame = w;
        const int mode = in.Byte() % MODE_COUNT;
        const uint32_t delay = in.U16() % 5000, spacing = in.Byte() % 30;
        switch (mode) {
        case MODE_RAW: l.Send(in.Bytes(in.Byte()), delay, spacing); break;
        case MODE_ACK: l.Send({wire::ACK, in.Byte()}, delay, spacing); break;
        case MODE_REPLY: l.Send(Reply(in, lastFrame), delay, spacing); break;
        case MODE_ECHO: l.Send(wire::kAbort, delay, spacing); break;
        default: break;
        }
    };

    HANDLE port = (flags & NULL_PORT) ? nullptr : FakePort();
    // the trace's lines are built too, from whatever the device sent
    g_traceOn = (flags & TRACE_ON) ? 1 : 0;
    g_traceText.clear();
    unsigned char host[GUARD_SIZE + VOLMIRAX_MAX_REPLY_DATA + GUARD_SIZE];
    memset(host, GUARD, sizeof host);
    unsigned char *buffer = host + GUARD_SIZE;
    unsigned len = 0xFFFFFFFFu;
    const uint32_t start = link.now;
    size_t room = VOLMIRAX_MAX_REPLY_DATA;
    int rc = 0;
    int budget = std::max(ack, 0) + std::max(reply, 0) + std::max(eot, 0);
    auto arg = [&](size_t i) { return i < cmd.size() ? cmd[i] : 0; };

    switch (op) {
    case OP_SEND_CMD:
        rc = SendCmd(port, (flags & NULL_CMD) ? nullptr : cmd.data(), (unsigned)cmd.size(),
                     (flags & NULL_DATA) ? nullptr : buffer, (flags & NULL_LEN) ? nullptr : &len, ack, reply, eot);
        break;
    case OP_SEND_EOT:
        rc = SendEot(port, eot);
        budget = std::max(eot, 0);
        break;
    case OP_RESET:
        rc = ReSet(port, arg(0), arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), arg(7));
        budget = 4500;
        break;
    case OP_EJECT:
        rc = EjectCard(port, arg(0) | (arg(1) << 8));
        budget = 4500;
        break;
    case OP_VERSION:
        room = VOLMIRAX_MAX_VERSION;
        rc = GetMachineVersion(port, (flags & NULL_DATA) ? nullptr : buffer);
        budget = 4500;
        break;
    }

    // The result is 0, a library code, or a value of the status formula.
    if (!(rc == 0 || IsLibraryCode(rc) || (rc >= -12336 && rc <= 53199)))
        Fail("result out of range");
    // Nothing written around the host's buffers.
    for (size_t i = 0; i < GUARD_SIZE; ++i)
        if (host[i] != GUARD || host[GUARD_SIZE + room + i] != GUARD)
            Fail("write outside the host's buffer");
    // replyLen at most 993 and matching what was written.
    size_t written = 0;
    for (size_t i = 0; i < room; ++i)
        if (buffer[i] != GUARD)
            written = i + 1;
    if (op == OP_SEND_CMD) {
        if (len != 0xFFFFFFFFu && len > VOLMIRAX_MAX_REPLY_DATA)
            Fail("replyLen over 993");
        if (len != 0xFFFFFFFFu && written > len)
            Fail("more written than replyLen says");
        if (len == 0xFFFFFFFFu && !(flags & NULL_LEN) && written > 0)
            Fail("data written without a length");
        // A failed call writes nothing; a library code with the buffers
        // written can only be a device status that equals it.
        if (IsLibraryCode(rc) && len != 0xFFFFFFFFu && len >= 2 && !(flags & NULL_DATA) &&
            buffer[0] * 256 + buffer[1] - 0x3030 != rc)
            Fail("buffers written on a failed call");
        // The abort goes out only after a time-out, and then once.
        if (aborts > 0 && !(rc == ERR_ACK_TIMEOUT || rc == ERR_REPLY_TIMEOUT))
            Fail("abort without a time-out");
        if (aborts > 1)
            Fail("more than one abort");
    }
    if (op == OP_VERSION && rc != 0 && written > 0)
        Fail("version written on a failed call");
    // The call ends within its time-outs, plus a pass of the idle step per wait.
    if ((int64_t)(uint32_t)(link.now - start) > (int64_t)budget + 3 * link.idleStep)
        Fail("call held beyond its time-outs");

    if (g_traceOn && (g_traceText.empty() || g_traceText.back() != '\n'))
        Fail("the trace does not end with a whole line");
    g_traceOn = 0;
    g_link = nullptr;
    return 0;
}
