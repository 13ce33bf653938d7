#include "scripted_device.h"

void ScriptedDevice::Attach(FakeLink &link)
{
    link.onWrite = [this](FakeLink &l, const Bytes &w) {
        if (!w.empty() && w[0] == wire::STX) {
            if (!ackSilent) {
                l.Send(ack, ackDelay);
                l.Send(afterAck, ackDelay);
            }
        } else if (w == wire::kRequest) {
            if (!replySilent)
                l.Send(reply, replyDelay, replySpacing);
        } else if (w == wire::kAbort) {
            if (!eotSilent)
                l.Send(eotEcho, eotDelay);
        }
    };
}
