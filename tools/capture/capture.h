// Captures: the one format in which the library's trace, the tap and the
// simulator record a line, and which every reader reads (JSON Lines; see
// docs/reference.md, "Captures").
#ifndef VOLMIRAX_CAPTURE_H
#define VOLMIRAX_CAPTURE_H

#include <cstdint>
#include <cstdio>
#include <istream>
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
    std::string handle;     // the port's handle; empty in a tool's capture
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

struct Capture {
    // In the order of the sessions (a header and the lines of its process
    // that follow it), then of the file: the sessions of several processes
    // that wrote one file at once are laid one after the other.
    std::vector<CaptureEvent> events;
    std::vector<std::string> skipped;  // "line N: reason", in the file's order
};

// Every time in a capture is below this (µs: about 31 years); times,
// durations and time-outs past the readers' arithmetic are refused.
const int64_t kCaptureMaxTime = 1000000000000000LL;

// Reads a whole capture. Lines that are not a capture's (cut short, not
// JSON, an unknown event, a field missing, of the wrong type or out of
// range, bad hex, a time before the one of the line before it on the same
// port of the same process, a line over 1 MiB) are skipped: each is said in
// `skipped` and kept in its place as a DAMAGED event. False, with "line N:
// reason" in `error`, only for a file that is not a capture: no header
// first, or a header of another format.
bool ReadCapture(std::istream &in, Capture &capture, std::string &error);
bool ReadCaptureFile(const std::string &path, Capture &capture, std::string &error);

// Writes a capture, a line at a time, each flushed: for the tap and the
// simulator (the library writes the same lines itself).
class CaptureWriter {
public:
    ~CaptureWriter();
    // Creates `path` and writes the header: false with errno. An existing
    // file is replaced, or with `exclusive` refused (EEXIST).
    bool Open(const std::string &path, const std::string &writer, const std::string &port, int baud,
              bool exclusive = false);
    bool IsOpen() const { return file_ != nullptr; }
    void Bytes_(CaptureEvent::Kind direction, int64_t t, const Bytes &bytes);
    void Tx(int64_t t, const Bytes &bytes) { Bytes_(CaptureEvent::TX, t, bytes); }
    void Rx(int64_t t, const Bytes &bytes) { Bytes_(CaptureEvent::RX, t, bytes); }
    void Line(int64_t t, int baud);  // the rate changed
    void Note(int64_t t, const std::string &text);  // something the tool says about the recording
    void Close();

private:
    void Write(const std::string &line);
    FILE *file_ = nullptr;
};

#endif
