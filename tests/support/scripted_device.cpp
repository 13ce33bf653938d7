#include "scripted_device.h"

static unsigned char Xor(const Bytes &b, size_t from, size_t to)
{
    unsigned char x = 0;
    for (size_t i = from; i < to; ++i)
        x ^= b[i];
    return x;
}

Bytes ReplyFrame(unsigned char marker, unsigned char code, unsigned char param,
                 const Bytes &callerData, unsigned char bccDelta)
{
    Bytes f = {0x02, marker, code, param};
    f.insert(f.end(), callerData.begin(), callerData.end());
    f.push_back(0x03);
    f.push_back(Xor(f, 1, f.size()) ^ bccDelta);
    f.push_back(0x0D);
    return f;
}

Bytes CommandFrame(const Bytes &cmd)
{
    Bytes f = {0x02, 0x43};
    f.insert(f.end(), cmd.begin(), cmd.end());
    f.push_back(0x03);
    f.push_back(Xor(f, 1, f.size()));
    f.push_back(0x0D);
    return f;
}

void ScriptedDevice::Attach(FakeLink &link)
{
    link.onWrite = [this](FakeLink &l, const Bytes &w) {
        if (!w.empty() && w[0] == 0x02) {
            if (!ackSilent) {
                l.Send(ack, ackDelay);
                l.Send(afterAck, ackDelay);
            }
        } else if (w == Bytes{0x05, 0x0D}) {
            if (!replySilent)
                l.Send(reply, replyDelay, replySpacing);
        } else if (w == Bytes{0x10, 0x04, 0x0D}) {
            if (!eotSilent)
                l.Send(eotEcho, eotDelay);
        }
    };
}
