#include "device.h"

#include "../common/wire_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace devsim {

namespace {
const unsigned char STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, NAK = 0x15,
                    DLE = 0x10, CR = 0x0D;
const int64_t MS = 1000;

bool Number(const std::string &v, int &out)
{
    char *end = nullptr;
    long n = strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != 0 || n < 0 || n > 600000)
        return false;
    out = static_cast<int>(n);
    return true;
}
}  // namespace

bool ParseBytes(const std::string &text, Bytes &out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            char hex[3] = {text[i + 2], text[i + 3], 0};
            char *end = nullptr;
            long v = strtol(hex, &end, 16);
            if (*end != 0)
                return false;
            out.push_back(static_cast<unsigned char>(v));
            i += 3;
        } else {
            out.push_back(static_cast<unsigned char>(text[i]));
        }
    }
    return true;
}

bool ApplyBehaviour(const std::string &spec, Behaviour &b, std::string &error)
{
    std::stringstream words(spec);
    std::string w;
    while (std::getline(words, w, ',')) {
        std::string key = w, value;
        size_t eq = w.find('=');
        if (eq != std::string::npos) {
            key = w.substr(0, eq);
            value = w.substr(eq + 1);
        }
        int n = 0;
        bool ok = true;
        if (key == "ok") b = Behaviour();
        else if (key == "silent") b.silent = true;
        else if (key == "dead") b.dead = true;
        else if (key == "noreply") b.noReply = true;
        else if (key == "nak") b.nak = true;
        else if (key == "halfack") b.halfAck = true;
        else if (key == "badbcc") b.badBcc = true;
        else if (key == "badecho") b.badEcho = true;
        else if (key == "nocr") b.noCr = true;
        else if (key == "extra") b.extra = true;
        else if (key == "noise") b.noise = true;
        else if (key == "crdata") b.crInData = true;
        else if (key == "early") b.early = true;
        else if (key == "hangup") b.hangup = true;
        else if (key == "eotnone") b.eotNone = true;
        else if (key == "eotwrong") b.eotWrong = true;
        else if (key == "marker" && value.size() == 1) b.marker = value[0];
        else if (key == "status") ok = ParseBytes(value, b.status);
        else if (key == "data") ok = ParseBytes(value, b.data);
        else if (key == "datalen" && Number(value, n)) {
            b.data.clear();
            for (int i = 0; i < n; ++i)
                b.data.push_back(static_cast<unsigned char>('A' + i % 26));
        }
        else if (key == "ackdelay") ok = Number(value, b.ackDelay);
        else if (key == "replydelay") ok = Number(value, b.replyDelay);
        else if (key == "slow") ok = Number(value, b.byteGap);
        else if (key == "split") {
            size_t colon = value.find(':');
            ok = colon != std::string::npos && Number(value.substr(0, colon), b.splitEvery) &&
                 Number(value.substr(colon + 1), b.splitPause) && b.splitEvery > 0;
        }
        else ok = false;
        if (!ok) {
            error = "bad behaviour '" + w + "'";
            return false;
        }
    }
    return true;
}

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
        pending_.push_back(c);
        // A command frame: STX "C" ... ETX BCC CR, with a matching BCC.
        if (pending_[0] == STX) {
            size_t n = pending_.size();
            if (c == CR && n >= 5 && pending_[n - 3] == ETX && WireBcc(pending_, 1, n - 2) == pending_[n - 2]) {
                Bytes frame;
                frame.swap(pending_);
                OnFrame(frame, now, out);
            } else if (n > 4096) {
                pending_.clear();
            }
            continue;
        }
        if (pending_ == Bytes{ENQ, CR}) {
            pending_.clear();
            if (answeredEarly_)
                answeredEarly_ = false;
            else
                OnRequest(now, out);
        } else if (pending_ == Bytes{ENQ} && !inControl_ && !cmd_.empty() && For(cmd_[0]).early) {
            // answers the ENQ before its CR has been written
            answeredEarly_ = true;
            OnRequest(now, out);
        } else if (pending_ == Bytes{DLE, EOT, CR}) {
            pending_.clear();
            OnAbort(now, out);
        } else if (!(pending_ == Bytes{ENQ} || pending_ == Bytes{DLE} || pending_ == Bytes{DLE, EOT})) {
            // noise from the host: dropped, but kept in the wire record
            if (!inControl_) {
                wire.insert(wire.end(), pending_.begin(), pending_.end());
                notes.push_back("noise " + HexOf(pending_));
            }
            pending_.clear();
        }
    }
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

void Device::OnAbort(int64_t now, std::vector<Output> &out)
{
    wire.insert(wire.end(), {DLE, EOT, CR});
    notes.push_back(Describe({DLE, EOT, CR}));
    if (lastFrameOrRequestAt >= 0)
        abortDelay = now - lastFrameOrRequestAt;
    // The abort answers with the manners of the last real command.
    const Behaviour &b = For(lastCode_);
    cmd_.clear();
    if (b.dead || b.eotNone)
        return;
    Emit(out, now, b.eotWrong ? Bytes{DLE, EOT, 0x0A} : Bytes{DLE, EOT, CR});
}

// The simulator's own commands, sent as command "~", parameter " ", and the
// text as data; the answer comes back as reply data.
std::string Device::Control(const std::string &text)
{
    std::stringstream in(text);
    std::string verb;
    in >> verb;
    if (verb == "wire") {
        std::string hex = HexOf(wire);
        wire.clear();
        return hex.size() <= 980 ? hex : "overflow";
    }
    if (verb == "abortdelay") {
        long long ms = abortDelay < 0 ? -1 : abortDelay / MS;
        abortDelay = -1;
        return std::to_string(ms);
    }
    if (verb == "line")
        return lineReport;
    if (verb == "hangup") {
        hangupAfterReply_ = true;
        return "ok";
    }
    if (verb == "reset") {
        behaviours = startBehaviours_;
        fallback = startFallback_;
        wire.clear();
        return "ok";
    }
    if (verb == "on") {
        // on <code> <behaviour>: the code as one character or as hex "0x33"
        std::string code, spec;
        in >> code;
        std::getline(in >> std::ws, spec);
        unsigned char c = code.size() == 1 ? code[0] : static_cast<unsigned char>(strtol(code.c_str(), nullptr, 16));
        Behaviour b;
        std::string error;
        if (!ApplyBehaviour(spec.empty() ? "ok" : spec, b, error))
            return "error " + error;
        behaviours[c] = b;
        return "ok";
    }
    return "error unknown control '" + verb + "'";
}

}  // namespace devsim
