#include "device.h"

#include "wire_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace devsim {

using namespace wire;

namespace {
const int64_t MS = 1000;

}  // namespace

const Behaviour &Device::For(unsigned char code) const
{
    auto it = behaviours.find(code);
    return it == behaviours.end() ? fallback : it->second;
}

void Device::Emit(std::vector<Output> &out, int64_t at, const Bytes &bytes, int gap, bool hangup)
{
    if (bytes.empty() && !hangup)
        return;
    const size_t first = out.size();
    at = std::max(at, busyUntil_);
    if (gap == 0 && paceBaud <= 0) {
        out.push_back({at, bytes, hangup, Describe(bytes)});
        busyUntil_ = at;
        return;
    }
    // On a paced line a byte reaches the host once its bits have passed.
    const int64_t start = at;
    for (size_t i = 0; i < bytes.size(); ++i) {
        at = start + (int64_t)((i + 1) * ByteTimeUs() + 0.5) + (int64_t)i * gap * MS;
        out.push_back({at, Bytes{bytes[i]}, false, ""});
    }
    busyUntil_ = at;
    if (hangup)
        out.push_back({at, {}, true, "hangs up"});
    if (first < out.size())
        out[first].what = Describe(bytes);
}

Bytes Device::ReplyFrame(const Behaviour &b) const
{
    Bytes callerData = b.status;
    if (b.crInData && !callerData.empty())
        callerData[callerData.size() - 1] = CR;
    callerData.insert(callerData.end(), b.data.begin(), b.data.end());
    unsigned char param = cmd_.size() > 1 ? cmd_[1] : 0;
    Bytes frame = ::ReplyFrame(static_cast<unsigned char>(b.marker), cmd_.empty() ? 0 : cmd_[0],
                               b.badEcho ? static_cast<unsigned char>(param + 1) : param, callerData,
                               b.badBcc ? 0x01 : 0x00);
    if (b.noCr)
        frame.pop_back();
    if (b.noise)
        frame.insert(frame.begin(), {0x7F, 'z', 0x00});
    if (b.extra)
        frame.insert(frame.end(), {'j', 'u', 'n', 'k'});
    return frame;
}

void Device::Receive(const Bytes &bytes, int64_t arrived, std::vector<Output> &out)
{
    for (unsigned char c : bytes) {
        // On a paced line a byte has not fully arrived before its 10 bit
        // times have passed, so the device answers no earlier than that.
        int64_t now = arrived;
        if (paceBaud > 0) {
            inputBusyUntil_ = std::max(inputBusyUntil_, arrived) + (int64_t)(ByteTimeUs() + 0.5);
            now = inputBusyUntil_;
        }
        Bytes done;
        switch (host_.Add(c, done)) {
        case HostSplitter::PARTIAL:
            if (host_.Pending() == Bytes{ENQ} && !inControl_ && !cmd_.empty() && For(cmd_[0]).early) {
                // answers the ENQ before its CR has been written
                answeredEarly_ = true;
                OnRequest(now, out);
            }
            break;
        case HostSplitter::COMMAND:
            if (Garbled() && !(control && done.size() > 3 && done[2] == CONTROL_CODE)) {
                HeardAsGarbage(done);
                break;
            }
            OnFrame(done, now, out);
            break;
        case HostSplitter::REQUEST:
            if (Garbled() && !inControl_)
                HeardAsGarbage(done);
            else if (answeredEarly_)
                answeredEarly_ = false;
            else
                OnRequest(now, out);
            break;
        case HostSplitter::ABORT:
            if (Garbled() && !inControl_)
                HeardAsGarbage(done);
            else
                OnAbort(now, out);
            break;
        case HostSplitter::NOISE:
            // noise from the host: dropped, but kept in the wire record
            if (!inControl_) {
                wire.insert(wire.end(), done.begin(), done.end());
                notes.push_back("noise " + HexOf(done));
            }
            break;
        case HostSplitter::OVERLONG: break;  // a frame that never ended: dropped
        }
    }
}

void Device::HeardAsGarbage(const Bytes &bytes)
{
    inControl_ = false;
    cmd_.clear();
    wire.insert(wire.end(), bytes.begin(), bytes.end());
    notes.push_back("heard as garbage, not answered: the host's line is at " + std::to_string(hostBaud) +
                    " baud, the device's at " + std::to_string(lineBaud));
}

void Device::OnFrame(const Bytes &frame, int64_t now, std::vector<Output> &out)
{
    cmd_.assign(frame.begin() + 2, frame.end() - 3);
    inControl_ = control && cmd_.size() >= 2 && cmd_[0] == CONTROL_CODE;
    if (!inControl_) {
        wire.insert(wire.end(), frame.begin(), frame.end());
        lastFrameOrRequestAt = now;
        notes.push_back(Describe(frame));
    }
    if (inControl_) {
        out.push_back({now, {ACK, CR}, false, "", true});
        return;
    }
    lastCode_ = cmd_.empty() ? 0 : cmd_[0];
    const Behaviour &b = For(lastCode_);
    if (b.dead || b.silent)
        return;
    // What follows the acknowledgement goes out in the same write.
    Bytes ack = {b.nak ? NAK : ACK, CR};
    if (b.halfAck)
        ack.pop_back();
    if (b.extra)
        ack.insert(ack.end(), {STX, 'P', 'x', 'x'});
    Emit(out, now + b.ackDelay * MS, ack);
}

void Device::OnRequest(int64_t now, std::vector<Output> &out)
{
    if (inControl_) {
        std::string text(cmd_.begin() + 2, cmd_.end());
        std::string answer = Control(text);
        Bytes frame = ControlReply(answer);
        out.push_back({now, frame, hangupAfterReply_, "", true});
        hangupAfterReply_ = false;
        inControl_ = false;
        cmd_.clear();
        return;
    }
    wire.push_back(ENQ);
    wire.push_back(CR);
    lastFrameOrRequestAt = now;
    notes.push_back(Describe({ENQ, CR}));
    if (cmd_.empty())
        return;
    const Behaviour &b = For(cmd_[0]);
    if (b.dead || b.silent || b.noReply)
        return;
    Bytes frame = ReplyFrame(b);
    int64_t at = now + b.replyDelay * MS;
    if (b.hangup) {
        Emit(out, at, Bytes(frame.begin(), frame.begin() + frame.size() / 2), b.byteGap, true);
    } else if (b.splitEvery > 0) {
        for (size_t i = 0; i < frame.size(); i += b.splitEvery) {
            size_t end = std::min(frame.size(), i + b.splitEvery);
            Emit(out, at, Bytes(frame.begin() + i, frame.begin() + end), b.byteGap);
            at = busyUntil_ + b.splitPause * MS;
        }
    } else {
        Emit(out, at, frame, b.byteGap);
    }
}

void Device::CancelPending(std::vector<Output> &out, int64_t now)
{
    out.erase(std::remove_if(out.begin(), out.end(), [&](const Output &o) { return !o.control && o.at > now; }),
              out.end());
    busyUntil_ = now;
    for (const Output &o : out)
        busyUntil_ = std::max(busyUntil_, o.at);
}

void Device::OnAbort(int64_t now, std::vector<Output> &out)
{
    wire.insert(wire.end(), {DLE, EOT, CR});
    notes.push_back(Describe({DLE, EOT, CR}));
    if (lastFrameOrRequestAt >= 0)
        abortDelay = now - lastFrameOrRequestAt;
    // The abort stops what the device was doing: an answer it had not
    // begun to send is dropped, so that neither the echo nor the next
    // exchange queues up behind a reply the host has given up on.
    CancelPending(out, now);
    // The abort answers with the manners of the last real command.
    const Behaviour &b = For(lastCode_);
    cmd_.clear();
    if (b.dead || b.eotNone)
        return;
    Emit(out, now, b.eotWrong ? Bytes{DLE, EOT, 0x0A} : Bytes{DLE, EOT, CR});
}

}  // namespace devsim
