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
    enum Kind { HEADER, OPEN, CLOSE, CALL, TX, RX, TIMEOUT, RESULT, LINE };
    Kind kind = HEADER;
    size_t line = 0;        // in the file, from 1
    int session = 0;        // counts the headers: each starts its own clock
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
};

struct Capture {
    std::vector<CaptureEvent> events;
};

// Reads a whole capture. False with "line N: reason" in `error` for the
// first line that is not a capture's: cut short, not JSON, an unknown event,
// a field missing or of the wrong type, bad hex, a time before the one of
// the line before it on the same port, a line over 1 MiB.
bool ReadCapture(std::istream &in, Capture &capture, std::string &error);
bool ReadCaptureFile(const std::string &path, Capture &capture, std::string &error);

// Writes a capture, a line at a time, each flushed: for the tap and the
// simulator (the library writes the same lines itself).
class CaptureWriter {
public:
    ~CaptureWriter();
    // Creates (or replaces) `path` and writes the header: false with errno.
    bool Open(const std::string &path, const std::string &writer, const std::string &port, int baud);
    bool IsOpen() const { return file_ != nullptr; }
    void Bytes_(CaptureEvent::Kind direction, int64_t t, const Bytes &bytes);
    void Tx(int64_t t, const Bytes &bytes) { Bytes_(CaptureEvent::TX, t, bytes); }
    void Rx(int64_t t, const Bytes &bytes) { Bytes_(CaptureEvent::RX, t, bytes); }
    void Line(int64_t t, int baud);  // the rate changed
    void Close();

private:
    void Write(const std::string &line);
    FILE *file_ = nullptr;
};

#endif
