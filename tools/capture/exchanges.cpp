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

// The outcome of an exchange of a tool's capture, from the wire alone,
// judged as the library judges it: a bad block check, then the echo of
// the command code and parameter code, then the marker.
void JudgeFromWire(ExchangeRecord &x)
{
    std::string outcome = "no reply";
    for (const WireSequence &s : x.sequences) {
        switch (s.kind) {
        case WireSequence::REPLY:
        case WireSequence::NEGATIVE:
            if (s.bytes.size() > 3 && x.code >= 0 && (s.bytes[2] != x.code || s.bytes[3] != x.param))
                outcome = "wrong echo (ERR_ECHO)";
            else
                outcome = s.kind == WireSequence::REPLY ? "answered" : "negative reply";
            break;
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

// What an exchange is once it has ended: a write's line time is an
// estimate (a pseudo-terminal has none), so it never starts before what came
// before it; the outcome of a tool's capture from the wire; the delays.
void Conclude(ExchangeRecord &x)
{
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

}  // namespace

struct ExchangeSplitter::Port {
    LineDecoder decoder;
    std::unique_ptr<ExchangeRecord> current;
    int64_t pending[2] = {-1, -1};  // per direction: when the sequence being cut began
    int64_t byteUs = 0;             // the library's port: one byte's time on the line
    std::string damagedSince;       // a damaged line since its last call
    int session = 0;
};

ExchangeSplitter::ExchangeSplitter(std::function<void(ExchangeRecord &)> done) : done_(std::move(done)) {}

ExchangeSplitter::~ExchangeSplitter() = default;

ExchangeSplitter::Port &ExchangeSplitter::PortOf(const CaptureEvent &e)
{
    std::unique_ptr<Port> &p = ports_[e.portId];
    if (!p) {
        p.reset(new Port);
        p->session = e.session;
    }
    return *p;
}

void ExchangeSplitter::Begin(Port &p, const CaptureEvent &e, int64_t start)
{
    End(p);
    p.current.reset(new ExchangeRecord);
    p.current->number = ++count_;
    p.current->start = start;
    p.current->session = e.session;
    p.current->pid = e.pid;
}

void ExchangeSplitter::End(Port &p)
{
    if (!p.current)
        return;
    Conclude(*p.current);
    done_(*p.current);
    p.current.reset();
}

// The exchange under way on the event's port; after a damaged line, bytes
// and results with no call before them make a damaged exchange of their
// own rather than join one they may not belong to.
ExchangeRecord *ExchangeSplitter::Current(Port &p, const CaptureEvent &e)
{
    if (!p.current && !p.damagedSince.empty() && !e.handle.empty()) {
        Begin(p, e, e.at);
        p.current->damaged = p.damagedSince;
    }
    return p.current.get();
}

void ExchangeSplitter::Feed(const CaptureEvent &e)
{
    const int64_t t = e.at;
    switch (e.kind) {
    case CaptureEvent::DAMAGED: {
        // the exchange under way on the line's port (every port of its
        // session when its port cannot be read) is marked
        const std::string why = "line " + std::to_string(e.line) + ": " + e.reason;
        for (auto &entry : ports_) {
            Port &p = *entry.second;
            if (p.session != e.session || (!e.handle.empty() && entry.first != e.portId))
                continue;
            if (p.current && p.current->damaged.empty())
                p.current->damaged = why;
            p.damagedSince = why;
        }
        Port &p = PortOf(e);
        p.damagedSince = why;
        p.decoder = LineDecoder();
        p.pending[0] = p.pending[1] = -1;
        break;
    }
    case CaptureEvent::HEADER:
        // a process's new session: what its old one left under way has ended
        for (auto &entry : ports_)
            if (entry.second->current && entry.second->current->pid == e.pid &&
                entry.second->current->session != e.session)
                End(*entry.second);
        break;
    case CaptureEvent::OPEN:  // the library's writes: their line time is estimated from the rate
        if (e.baud > 0)
            PortOf(e).byteUs = 10000000 / e.baud;
        break;
    case CaptureEvent::CALL: {
        Port &p = PortOf(e);
        p.damagedSince.clear();
        Begin(p, e, t);
        ExchangeRecord &x = *p.current;
        x.fn = e.fn;
        if (e.bytes.size() >= 2) {
            x.code = e.bytes[0];
            x.param = e.bytes[1];
        }
        x.ackTimeout = e.ack;
        x.replyTimeout = e.reply;
        x.eotTimeout = e.eot;
        break;
    }
    case CaptureEvent::TIMEOUT:
        if (ExchangeRecord *x = Current(PortOf(e), e))
            x->timedOut.push_back(e.wait);
        break;
    case CaptureEvent::RESULT: {
        Port &p = PortOf(e);
        if (ExchangeRecord *x = Current(p, e)) {
            x->hasResult = true;
            x->rc = e.rc;
            x->outcome = Outcome(e.rc);
            x->failed = e.rc != 0;
        }
        End(p);
        break;
    }
    case CaptureEvent::TX:
    case CaptureEvent::RX: {
        Port &p = PortOf(e);
        const bool fromHost = e.kind == CaptureEvent::TX;
        int64_t &started = p.pending[fromHost ? 0 : 1];
        if (started < 0) {
            started = t;
            // the library times a write when it has returned: its bytes
            // began their line time earlier
            if (fromHost && !e.handle.empty())
                started = t - p.byteUs * (int64_t)e.bytes.size();
        }
        const auto messages =
            p.decoder.Feed(fromHost ? LineDecoder::HOST_TO_DEVICE : LineDecoder::DEVICE_TO_HOST, e.bytes);
        for (const auto &m : messages) {
            WireSequence s{KindOf(fromHost, m), fromHost, started, t, m.bytes, m.meaning};
            if (s.kind == WireSequence::COMMAND && e.handle.empty()) {
                // a tool's capture has no calls: each command frame starts an exchange
                Begin(p, e, s.start);
                p.current->code = m.bytes.size() > 3 ? m.bytes[2] : -1;
                p.current->param = m.bytes.size() > 3 ? m.bytes[3] : -1;
            }
            if (ExchangeRecord *x = Current(p, e)) {
                if (x->sequences.size() < kMaxSequences)
                    x->sequences.push_back(s);
                else
                    ++x->droppedSequences;
            }
        }
        if (!messages.empty())
            started = -1;
        break;
    }
    default: break;
    }
}

void ExchangeSplitter::Finish()
{
    std::vector<Port *> open;
    for (auto &entry : ports_)
        if (entry.second->current)
            open.push_back(entry.second.get());
    std::sort(open.begin(), open.end(), [](Port *a, Port *b) { return a->current->number < b->current->number; });
    for (Port *p : open)
        End(*p);
}

std::vector<ExchangeRecord> SplitExchanges(const Capture &capture)
{
    std::vector<ExchangeRecord> out;
    ExchangeSplitter splitter([&](ExchangeRecord &x) { out.push_back(std::move(x)); });
    for (const CaptureEvent &e : capture.events)
        splitter.Feed(e);
    splitter.Finish();
    std::sort(out.begin(), out.end(),
              [](const ExchangeRecord &a, const ExchangeRecord &b) { return a.number < b.number; });
    return out;
}
