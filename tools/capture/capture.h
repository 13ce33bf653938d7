// Captures: the one format in which the library's trace, the tap and the
// simulator record a line, and which every reader reads (JSON Lines; see
// docs/reference.md, "Captures").
#ifndef VOLMIRAX_CAPTURE_H
#define VOLMIRAX_CAPTURE_H

#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "wire_model.h"

struct CaptureEvent {
    // DAMAGED: a line that could not be read, kept in its place so that the
    // exchange it touched can be marked (its reason in `reason`; its port
    // in `handle` when that much of it could be read)
    enum Kind { HEADER, OPEN, CLOSE, CALL, TX, RX, TIMEOUT, RESULT, LINE, NOTE, DAMAGED };
    Kind kind = HEADER;
    size_t line = 0;        // in the file, from 1
    int session = 0;        // counts the headers: each starts its own clock
    int64_t pid = 0;        // the process that wrote the line (the library's trace), else 0
    int64_t t = 0;          // µs since the session's start
    int64_t at = 0;         // µs on the capture's one time line: from the first header's wall clock when the
                            // headers carry one, otherwise each session laid after what came before it
    int64_t wallUs = 0;     // HEADER: its wall clock at t = 0, µs since 1970 UTC (0: none, format 1)
    std::string handle;     // the port's handle; empty in a tool's capture
    int portId = 0;         // from 1: the port (its session and handle) as the reader numbers them
    Bytes bytes;            // TX, RX; CALL: the command bytes
    std::string fn;         // CALL, RESULT: the export
    std::string wait;       // TIMEOUT: "ack", "reply" or "echo"
    std::string port;       // HEADER, OPEN
    std::string writer, version;  // HEADER
    int baud = 0;           // HEADER, OPEN, LINE
    int rc = 0;             // RESULT; OPEN: non-zero when it failed (error)
    int ack = -1, reply = -1, eot = -1;  // CALL: the time-outs it was given
    int ms = 0;             // TIMEOUT
    int64_t us = 0;         // RESULT: the call's duration
    std::string reason;     // DAMAGED: why the line was skipped; NOTE: what a tool said
};

// A whole capture in memory, for small ones (the replay, the fuzzer): the
// events in the file's order.
struct Capture {
    std::vector<CaptureEvent> events;
    std::vector<std::string> skipped;  // "line N: reason", in the file's order
};

// Every time in a capture is below this (µs: about 31 years); times,
// durations and time-outs past the readers' arithmetic are refused.
const int64_t kCaptureMaxTime = 1000000000000000LL;

// Reads a capture an event at a time, in the file's order, holding one line
// (and one received run) at a time: any size reads in the same memory.
// Formats 1 and 2 are read alike: a received run of format 2 (its bytes'
// pauses in "gaps") is handed out as the reads it was made of, one event
// per time, as format 1 wrote them. Lines that are not a capture's (cut
// short, not JSON, an unknown event, a field missing, of the wrong type or
// out of range, bad hex or gaps, a time before the one of the line before
// it on the same port of the same process, a line over 1 MiB) are handed
// out in their place as DAMAGED events with their reason.
// The lines of a stream, read in blocks: one line of at most 1 MiB at a
// time. Next gives 0 at the end, 1 for a line, -1 when the line is longer
// (the rest of it is skipped), -2 when the stream ends without ending it.
class CaptureLines {
public:
    explicit CaptureLines(std::istream &in) : in_(in) {}
    int Next(std::string &line);

private:
    std::istream &in_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
};

class CaptureReader {
public:
    explicit CaptureReader(std::istream &in) : lines_(in) {}
    // The first event: false, with "line N: reason" in `error`, for a file
    // that is not a capture (no header first, or a header of another format).
    bool Start(CaptureEvent &first, std::string &error);
    // The next event; false at the end. A header of another format further
    // on is a DAMAGED event.
    bool Next(CaptureEvent &e);

private:
    bool Read(CaptureEvent &e, std::string *refusal);
    CaptureLines lines_;
    size_t number_ = 0;
    int sessions_ = 0;
    std::vector<CaptureEvent> split_;  // the rest of a received run, in reverse order
    struct State;
    std::shared_ptr<State> state_;
};

// "2026-12-11T08:26:27.123456Z" for µs since 1970 UTC, as headers write it.
std::string WallClockText(int64_t us);

// Reads a whole capture into memory with CaptureReader (each damaged line
// also said in `skipped`).
bool ReadCapture(std::istream &in, Capture &capture, std::string &error);
bool ReadCaptureFile(const std::string &path, Capture &capture, std::string &error);

// Writes a capture in format 2 for the tap and the simulator (the library
// writes the same lines itself): each line flushed, received bytes held as
// one run until something else happens (or 1000 bytes, or a pause of 100
// ms: Idle), the file moved to PATH.1 once it passes its size limit and a
// new one started with a header, as the library's trace does.
class CaptureWriter {
public:
    ~CaptureWriter();
    // Creates `path` and writes the header: false with errno. An existing
    // file is replaced, or with `exclusive` refused (EEXIST), as is an
    // existing PATH.1 that the roll-over would replace. `limitBytes`: the
    // size at which the file rolls over.
    bool Open(const std::string &path, const std::string &writer, const std::string &port, int baud,
              bool exclusive = false, long long limitBytes = kDefaultLimit);
    bool IsOpen() const { return file_ != nullptr; }
    void Tx(int64_t t, const Bytes &bytes);
    void Rx(int64_t t, const Bytes &bytes);
    void Idle(int64_t t);  // writes a received run whose last byte is 100 ms old
    void Line(int64_t t, int baud);  // the rate changed
    void Note(int64_t t, const std::string &text);  // something the tool says about the recording
    void Close();

    static const long long kDefaultLimit = 32LL * 1024 * 1024;
    // A size limit from a command line's megabytes (more than 0, at most
    // 1048576, decimals allowed): false for anything else.
    static bool LimitFromText(const std::string &megabytes, long long &bytes);

private:
    void FlushRun();
    void Write(const std::string &line);
    FILE *file_ = nullptr;
    std::string path_, header_;
    long long limit_ = kDefaultLimit, size_ = 0;
    Bytes run_;
    std::vector<int64_t> runTimes_;
};

#endif
