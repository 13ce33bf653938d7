// The card device's side of the link, as a pure state machine: bytes from
// the host go in with the time they arrived, bytes for the host come out
// as timed chunks. The program around it owns the pseudo-terminal.
#ifndef DEVSIM_DEVICE_H
#define DEVSIM_DEVICE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "wire_model.h"

namespace devsim {

// How the device answers one command code. Every field has a sound default;
// the rest are scripted misbehaviour.
struct Behaviour {
    char marker = 'P';
    Bytes status = Bytes(2, '0');
    Bytes data;
    int ackDelay = 0;         // think time before the acknowledgement, ms
    int replyDelay = 0;       // think time before the reply, ms
    int byteGap = 0;          // pause between reply bytes, ms
    int splitEvery = 0;       // write the reply in chunks of this size ...
    int splitPause = 0;       // ... with this pause between them, ms
    bool silent = false;      // no acknowledgement, no reply
    bool noReply = false;     // acknowledgement, then nothing
    bool nak = false;         // acknowledgement starts with NAK
    bool halfAck = false;     // only the first byte of the acknowledgement, then nothing
    bool badBcc = false;
    bool badEcho = false;     // echoes the parameter code + 1
    bool noCr = false;        // the reply never ends
    bool extra = false;       // garbage after the acknowledgement and after the reply's CR
    bool noise = false;       // garbage before the reply's STX
    bool crInData = false;    // a CR inside the status bytes
    bool early = false;       // replies on ENQ while the host is still writing its CR
    bool hangup = false;      // hangs up half-way through the reply
    bool eotNone = false;     // does not echo the abort sequence
    bool eotWrong = false;    // echoes it wrongly
    bool dead = false;        // nothing at all
};

// Parses "silent,slow=5,..." into `b`; false with a message on a bad word.
bool ApplyBehaviour(const std::string &spec, Behaviour &b, std::string &error);

struct Output {
    int64_t at;               // microseconds, on the caller's clock
    Bytes bytes;
    bool hangup = false;      // close the line after these bytes
    std::string what;         // decoded, for the trace (first chunk of a message)
    bool control = false;     // the simulator's own traffic, left out of the trace
};

class Device {
public:
    std::map<unsigned char, Behaviour> behaviours;  // per command code
    Behaviour fallback;                             // for every other code
    bool control = false;    // command code '~' talks to the simulator itself
    int paceBaud = 0;        // when set, bytes go out at this line rate
    // The device's own line rate (0: it hears a host at any rate), and the
    // rate the host has set on its end, read before each Receive (0 when it
    // cannot be read). A host at another rate is heard as garbage: nothing
    // it sends is answered, and the trace says why. The control channel is
    // the simulator's own and is always heard.
    int lineBaud = 9600;
    int hostBaud = 0;
    bool Garbled() const { return lineBaud > 0 && hostBaud > 0 && hostBaud != lineBaud; }

    // Keeps the behaviours as they are now for the "reset" control.
    void KeepAsStart()
    {
        startBehaviours_ = behaviours;
        startFallback_ = fallback;
    }

    // Feeds bytes from the host that arrived at `now` (microseconds); appends what the
    // device sends back.
    void Receive(const Bytes &bytes, int64_t now, std::vector<Output> &out);

    // Everything received outside control exchanges since the last "wire"
    // query, and the time from the last frame or request to the abort.
    Bytes wire;
    int64_t lastFrameOrRequestAt = -1;  // microseconds
    int64_t abortDelay = -1;            // microseconds
    std::string lineReport;  // filled by the program before a "line" query
    std::vector<std::string> notes;  // what the host's bytes meant, for the trace
    bool InControl() const { return inControl_; }
    // 10 bit times at the paced rate, in microseconds (0 when not paced).
    double ByteTimeUs() const { return paceBaud > 0 ? 10 * 1e6 / paceBaud : 0.0; }

private:
    HostSplitter host_;  // the host's bytes, cut into sequences
    Bytes cmd_;               // command bytes of the current exchange
    unsigned char lastCode_ = 0;  // command code of the last frame outside control
    bool inControl_ = false;
    int64_t busyUntil_ = 0;   // the device's own output is serial
    int64_t inputBusyUntil_ = 0;  // and so is the host's, on a paced line
    bool answeredEarly_ = false;
    std::map<unsigned char, Behaviour> startBehaviours_;
    Behaviour startFallback_;
    bool hangupAfterReply_ = false;  // "hangup" control: the line goes away after its answer

    const Behaviour &For(unsigned char code) const;
    void OnFrame(const Bytes &frame, int64_t now, std::vector<Output> &out);
    void HeardAsGarbage(const Bytes &bytes);
    // Drops what the device has scheduled but not begun to send.
    void CancelPending(std::vector<Output> &out, int64_t now);
    void OnRequest(int64_t now, std::vector<Output> &out);
    void OnAbort(int64_t now, std::vector<Output> &out);
    void Emit(std::vector<Output> &out, int64_t at, const Bytes &bytes, int gap = 0, bool hangup = false);
    Bytes ReplyFrame(const Behaviour &b) const;
    std::string Control(const std::string &text);
};

bool ParseBytes(const std::string &text, Bytes &out);  // text with \xNN escapes

}  // namespace devsim

#endif
