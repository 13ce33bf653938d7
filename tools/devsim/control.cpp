// The simulator's control channel: what the host asks of the simulator
// itself in band.
#include <cstdlib>
#include <sstream>

#include "device.h"
#include "wire_model.h"

namespace devsim {

namespace {
const int64_t MS = 1000;
}  // namespace

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
