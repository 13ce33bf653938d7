// The simulator's behaviour words ("nak", "status=02", "split=3:20", ...),
// from the command line and from the control channel.
#include <cstdlib>
#include <sstream>

#include "device.h"

namespace devsim {

namespace {
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

}  // namespace devsim
