// A capture cut into exchanges, for the report: each call (or, in a tool's
// capture, each command frame) with the sequences on the wire that belong
// to it, where they began and ended, the time-outs the host gave, the
// device's delays and how it ended.
#ifndef VOLMIRAX_EXCHANGES_H
#define VOLMIRAX_EXCHANGES_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture.h"

struct WireSequence {
    enum Kind { COMMAND, ACK, NOT_ACK, REQUEST, REPLY, NEGATIVE, BAD_REPLY, ABORT, ECHO, BAD_ECHO, NOISE, UNASKED };
    Kind kind;
    bool fromHost;
    int64_t start, end;  // µs on the capture's time line
    Bytes bytes;
    std::string meaning;
};

struct ExchangeRecord {
    int64_t number = 0;     // from 1, in the order the exchanges began
    int64_t start = 0;      // µs on the capture's one time line (CaptureEvent::at)
    int session = 0;        // the header it came under
    int64_t pid = 0;        // the process that wrote it (the library's trace), else 0
    std::string fn;         // the export; empty in a tool's capture
    int code = -1, param = -1;
    int ackTimeout = -1, replyTimeout = -1, eotTimeout = -1;
    bool hasResult = false;
    int rc = 0;
    int64_t ackDelay = -1, replyDelay = -1;  // µs: from the frame's end to the acknowledgement's, from the request's to the reply's
    std::vector<std::string> timedOut;       // "ack", "reply", "echo"
    std::vector<WireSequence> sequences;     // at most kMaxSequences; the rest counted
    size_t droppedSequences = 0;
    bool failed = false;    // a result other than 0, or on a tool's capture an abort, a bad or negative reply
    bool near = false;      // an answer within the last 20% of its time-out
    std::string outcome;    // "0 OK", "-110 ERR_ACK_TIMEOUT", "2 device status"; on a tool's capture "answered", ...
    std::string damaged;    // "line N: reason" when a line that could not be read touched it (outcome "damaged")
};

// Cuts a capture into exchanges an event at a time, holding only the
// exchanges still under way (one per port at most): each is handed to
// `done` when it has ended (its result came, or its port's next call or
// command frame), the rest by Finish.
class ExchangeSplitter {
public:
    static const size_t kMaxSequences = 4096;
    explicit ExchangeSplitter(std::function<void(ExchangeRecord &)> done);
    ~ExchangeSplitter();
    void Feed(const CaptureEvent &e);
    void Finish();

private:
    struct Port;
    Port &PortOf(const CaptureEvent &e);
    ExchangeRecord *Current(Port &p, const CaptureEvent &e);
    void Begin(Port &p, const CaptureEvent &e, int64_t start);
    void End(Port &p);
    std::function<void(ExchangeRecord &)> done_;
    std::map<int, std::unique_ptr<Port>> ports_;  // by CaptureEvent::portId
    int64_t count_ = 0;
};

// All the exchanges of a capture in memory, in the order they began.
std::vector<ExchangeRecord> SplitExchanges(const Capture &capture);

#endif
