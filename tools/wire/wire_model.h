// The protocol as the test side sees it: frames, the block check, the
// simulator's control channel, and a decoder that names every sequence on
// the line. Used by the simulator, the tap, the unit tests' scripted device,
// the end-to-end host, the fuzzer and the benchmark.
//
// It does not reuse the library's own code on purpose: a fault in the
// library's frames or checks must show up as a difference between the two,
// not hide itself by being on both sides of every test.
#ifndef VOLMIRAX_WIRE_MODEL_H
#define VOLMIRAX_WIRE_MODEL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// The protocol's byte values and fixed sequences, as the test side writes
// them.
namespace wire {
const unsigned char STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, DLE = 0x10, CR = 0x0D,
                    NAK = 0x15;
const Bytes kAck = {ACK, CR};          // a well-formed acknowledgement
const Bytes kRequest = {ENQ, CR};      // the host asks for the reply
const Bytes kAbort = {DLE, EOT, CR};   // the host aborts; the device echoes it
}  // namespace wire

// XOR of b[from, to).
unsigned char WireBcc(const Bytes &b, size_t from, size_t to);

// STX "C" <cmd> ETX BCC CR.
Bytes CommandFrame(const Bytes &cmd);

// STX marker code param <callerData> ETX BCC CR; `bccDelta` spoils the BCC.
Bytes ReplyFrame(unsigned char marker, unsigned char code, unsigned char param, const Bytes &callerData,
                 unsigned char bccDelta = 0);

// The simulator's control channel: a command with code "~" and parameter
// " " carrying text, answered by a positive reply with status "00" and the
// answer. The answer is padded with spaces where the BCC would otherwise
// be CR and end the frame early.
const unsigned char CONTROL_CODE = '~';
const unsigned char CONTROL_PARAM = ' ';
Bytes ControlCommand(const std::string &text);
Bytes ControlReply(const std::string &answer);
// The answer in a control reply's caller data (status bytes first).
std::string ControlAnswer(const unsigned char *callerData, size_t length);

// The rates a device's line runs at (those the library opens a port at).
const int kLineRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
bool IsLineRate(int baud);

// Spaced hex, "02 43 33".
std::string HexOf(const Bytes &b);

// What a complete sequence of the protocol is: "command "3" param "0" data
// "", BCC ok", "acknowledgement (ACK)", "request (ENQ CR)", ...
std::string Describe(const Bytes &message);

// Cuts what the host sends into its sequences, a byte at a time: a command
// frame (STX ... ETX BCC CR with a matching BCC), a request, an abort, or
// noise (anything else; a frame past 4096 bytes is OVERLONG).
class HostSplitter {
public:
    enum Kind { PARTIAL, COMMAND, REQUEST, ABORT, NOISE, OVERLONG };
    // Adds one byte: the kind of sequence it completes, which then moves
    // into `done`; PARTIAL while it completes none.
    Kind Add(unsigned char c, Bytes &done);
    const Bytes &Pending() const { return pending_; }

private:
    Bytes pending_;
};

// Cuts each direction of the line into the protocol's sequences, knowing
// what the host asked for last: after a command frame the device's next two
// bytes are its acknowledgement, after a request its reply runs to the
// first CR, after an abort its next three bytes are the echo.
class LineDecoder {
public:
    enum Direction { HOST_TO_DEVICE, DEVICE_TO_HOST };
    struct Message {
        Direction direction;
        Bytes bytes;
        std::string meaning;
    };
    // Feeds bytes seen on one direction; returns the sequences they complete.
    std::vector<Message> Feed(Direction d, const Bytes &bytes);

private:
    enum Expect { AWAIT_NOTHING, AWAIT_ACK, AWAIT_REPLY, AWAIT_ECHO };
    Expect expect_ = AWAIT_NOTHING;
    HostSplitter host_;
    Bytes device_;
};

// One line of a trace: seconds, direction, the bytes (cut at 16), meaning.
std::string TraceLine(double seconds, const char *direction, const Bytes &bytes, const std::string &meaning);

#endif
