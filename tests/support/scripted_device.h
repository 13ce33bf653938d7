// A card device for the fake link: acknowledges each command frame,
// answers ENQ CR with its reply and echoes the abort sequence, each with
// its own delay, or stays silent where a test says so.
#ifndef VOLMIRAX_SCRIPTED_DEVICE_H
#define VOLMIRAX_SCRIPTED_DEVICE_H

#include "fake_link.h"
#include "wire_model.h"  // ReplyFrame, CommandFrame

struct ScriptedDevice {
    bool ackSilent = false;
    Bytes ack = wire::kAck;
    uint32_t ackDelay = 5;
    Bytes afterAck;              // sent right after the acknowledgement
    bool replySilent = false;
    Bytes reply;                 // the whole reply, its CR included
    uint32_t replyDelay = 5, replySpacing = 0;
    bool eotSilent = false;
    Bytes eotEcho = wire::kAbort;
    uint32_t eotDelay = 2;

    void Attach(FakeLink &link);
};


#endif
