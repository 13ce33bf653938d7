#include "exchanges.h"

#include <algorithm>
#include <map>

#include "volmirax_codes.h"

using namespace wire;

namespace {

WireSequence::Kind KindOf(bool fromHost, const LineDecoder::Message &m)
{
    const std::string &s = m.meaning;
    auto has = [&](const char *w) { return s.find(w) != std::string::npos; };
    if (fromHost)
        return has("command") ? WireSequence::COMMAND : has("request") ? WireSequence::REQUEST
             : has("abort") ? WireSequence::ABORT : WireSequence::NOISE;
    if (has("abort echo"))
        return has("wrong") ? WireSequence::BAD_ECHO : WireSequence::ECHO;
    if (has("acknowledgement"))
        return m.bytes.size() == 2 && m.bytes[0] == ACK ? WireSequence::ACK : WireSequence::NOT_ACK;
    if (has("unasked"))
        return WireSequence::UNASKED;
    if (has("BCC WRONG") || has("no CR") || !has("reply"))
        return WireSequence::BAD_REPLY;
    return has("negative") ? WireSequence::NEGATIVE : WireSequence::REPLY;
}

std::string Outcome(int rc)
{
    if (rc == 0)
        return "0 OK";
    const VolmiraxCode *c = VolmiraxFindCode(rc);
    return std::to_string(rc) + (c ? std::string(" ") + c->name : " device status");
}

// The outcome of an exchange of a tool's capture, from the wire alone.
void JudgeFromWire(ExchangeRecord &x)
{
    std::string outcome = "no reply";
    for (const WireSequence &s : x.sequences) {
        switch (s.kind) {
        case WireSequence::REPLY: outcome = "answered"; break;
        case WireSequence::NEGATIVE: outcome = "negative reply"; break;
        case WireSequence::BAD_REPLY: outcome = "bad reply"; break;
        case WireSequence::NOT_ACK: outcome = "not acknowledged"; break;
        case WireSequence::ABORT: outcome = "aborted"; break;
        default: break;
        }
        if (s.kind == WireSequence::ABORT)
            break;
    }
    x.outcome = outcome;
    x.failed = outcome != "answered";
}

void Delays(ExchangeRecord &x)
{
    int64_t frameEnd = -1, requestEnd = -1;
    for (const WireSequence &s : x.sequences) {
        if (s.kind == WireSequence::COMMAND)
            frameEnd = s.end;
        else if (s.kind == WireSequence::REQUEST)
            requestEnd = s.end;
        else if ((s.kind == WireSequence::ACK || s.kind == WireSequence::NOT_ACK) && frameEnd >= 0 && x.ackDelay < 0)
            x.ackDelay = s.end - frameEnd;
        else if ((s.kind == WireSequence::REPLY || s.kind == WireSequence::NEGATIVE || s.kind == WireSequence::BAD_REPLY) &&
                 requestEnd >= 0 && x.replyDelay < 0)
            x.replyDelay = s.end - requestEnd;
    }
    auto within = [](int64_t delay, int timeoutMs) {
        return delay >= 0 && timeoutMs > 0 && delay * 10 >= (int64_t)timeoutMs * 1000 * 8;
    };
    x.near = within(x.ackDelay, x.ackTimeout) || within(x.replyDelay, x.replyTimeout);
}

}  // namespace

std::vector<ExchangeRecord> SplitExchanges(const Capture &capture)
{
    std::vector<ExchangeRecord> out;
    std::map<std::string, LineDecoder> decoders;
    std::map<std::string, long> current;        // per port: its exchange in `out`, -1 for none
    std::map<std::string, int64_t> pending[2];  // per port and direction: when the sequence being cut began
    std::map<std::string, int64_t> byteUs;      // per port of the library: one byte's time on the line
    std::map<std::string, std::string> damagedSince;  // per port: a damaged line since its last call
    int64_t offset = 0, sessionEnd = 0;
    int session = 0;
    for (const CaptureEvent &e : capture.events) {
        if (e.session != session) {
            session = e.session;
            offset = sessionEnd;  // sessions are laid one after the other
            decoders.clear();
            current.clear();
            pending[0].clear();
            pending[1].clear();
            damagedSince.clear();
        }
        const int64_t t = offset + e.t;
        sessionEnd = std::max(sessionEnd, t);
        const std::string &h = e.handle;
        auto exchange = [&]() -> ExchangeRecord * {
            auto it = current.find(h);
            if ((it == current.end() || it->second < 0) && damagedSince.count(h) && !h.empty() &&
                e.kind != CaptureEvent::CALL && e.kind != CaptureEvent::OPEN && e.kind != CaptureEvent::CLOSE) {
                ExchangeRecord x;
                x.start = t;
                x.damaged = damagedSince[h];
                current[h] = (long)out.size();
                out.push_back(x);
                it = current.find(h);
            }
            return it == current.end() || it->second < 0 ? nullptr : &out[it->second];
        };
        switch (e.kind) {
        case CaptureEvent::DAMAGED: {
            // the exchange under way on the line's port (every port when
            // its port cannot be read) is marked; bytes and results that
            // follow with no call before them make a damaged exchange of
            // their own rather than join one they may not belong to
            const std::string why = "line " + std::to_string(e.line) + ": " + e.reason;
            for (auto &c : current)
                if ((e.handle.empty() || c.first == e.handle) && c.second >= 0 && out[c.second].damaged.empty())
                    out[c.second].damaged = why;
            if (e.handle.empty())
                for (auto &c : current)
                    damagedSince[c.first] = why;
            damagedSince[e.handle] = why;
            decoders.erase(e.handle);
            pending[0].erase(e.handle);
            pending[1].erase(e.handle);
            break;
        }
        case CaptureEvent::OPEN:  // the library's writes: their line time is estimated from the rate
            if (e.baud > 0)
                byteUs[h] = 10000000 / e.baud;
            break;
        case CaptureEvent::CALL: {
            damagedSince.erase(h);
            ExchangeRecord x;
            x.start = t;
            x.fn = e.fn;
            if (e.bytes.size() >= 2) {
                x.code = e.bytes[0];
                x.param = e.bytes[1];
            }
            x.ackTimeout = e.ack;
            x.replyTimeout = e.reply;
            x.eotTimeout = e.eot;
            current[h] = (long)out.size();
            out.push_back(x);
            break;
        }
        case CaptureEvent::TIMEOUT:
            if (ExchangeRecord *x = exchange())
                x->timedOut.push_back(e.wait);
            break;
        case CaptureEvent::RESULT:
            if (ExchangeRecord *x = exchange()) {
                x->hasResult = true;
                x->rc = e.rc;
                x->outcome = Outcome(e.rc);
                x->failed = e.rc != 0;
            }
            current[h] = -1;
            break;
        case CaptureEvent::TX:
        case CaptureEvent::RX: {
            const bool fromHost = e.kind == CaptureEvent::TX;
            auto &started = pending[fromHost ? 0 : 1];
            if (!started.count(h))
                started[h] = t;
            // the library times a write when it has returned: its bytes began
            // their line time earlier
            const int64_t per = byteUs.count(h) ? byteUs[h] : 0;
            const int64_t end = t;
            if (fromHost && !h.empty() && started[h] == t)
                started[h] = t - per * (int64_t)e.bytes.size();
            const auto messages = decoders[h].Feed(fromHost ? LineDecoder::HOST_TO_DEVICE : LineDecoder::DEVICE_TO_HOST, e.bytes);
            for (const auto &m : messages) {
                WireSequence s{KindOf(fromHost, m), fromHost, started[h], end, m.bytes, m.meaning};
                if (s.kind == WireSequence::COMMAND && h.empty()) {
                    // a tool's capture has no calls: each command frame starts an exchange
                    ExchangeRecord x;
                    x.start = s.start;
                    x.code = m.bytes.size() > 3 ? m.bytes[2] : -1;
                    x.param = m.bytes.size() > 3 ? m.bytes[3] : -1;
                    out.push_back(x);
                    current[h] = (long)out.size() - 1;
                }
                if (ExchangeRecord *x = exchange())
                    x->sequences.push_back(s);
            }
            if (!messages.empty())
                started.erase(h);
            break;
        }
        default: break;
        }
    }
    for (ExchangeRecord &x : out) {
        // a write's line time is an estimate (a pseudo-terminal has none):
        // it never starts before what came before it
        for (size_t j = 1; j < x.sequences.size(); ++j) {
            WireSequence &s = x.sequences[j];
            if (s.fromHost && s.start < x.sequences[j - 1].end)
                s.start = std::min(s.end, x.sequences[j - 1].end);
        }
        if (!x.sequences.empty() && x.sequences[0].start < x.start)
            x.sequences[0].start = std::min(x.sequences[0].end, x.start);
        if (!x.hasResult && x.fn.empty())
            JudgeFromWire(x);
        else if (!x.hasResult)
            x.outcome = "no result (the capture ends)";
        Delays(x);
        if (!x.damaged.empty()) {
            x.outcome = "damaged";
            x.failed = true;
        }
    }
    return out;
}
