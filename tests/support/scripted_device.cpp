#include "scripted_device.h"

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
