#include "wire_model.h"

#include <cstdio>

using namespace wire;

namespace {

std::string Text(const Bytes &b, size_t from, size_t to)
{
    std::string s = "\"";
    for (size_t i = from; i < to && i < b.size(); ++i) {
        unsigned char c = b[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            s += static_cast<char>(c);
        } else {
            char h[8];
            snprintf(h, sizeof h, "\\x%02X", c);
            s += h;
        }
    }
    return s + "\"";
}

std::string Char(unsigned char c) { return Text(Bytes{c}, 0, 1); }

bool EndsCommandFrame(const Bytes &p)
{
    const size_t n = p.size();
    return p[0] == STX && p.back() == CR && n >= 5 && p[n - 3] == ETX && WireBcc(p, 1, n - 2) == p[n - 2];
}

}  // namespace

unsigned char WireBcc(const Bytes &b, size_t from, size_t to)
{
    unsigned char x = 0;
    for (size_t i = from; i < to && i < b.size(); ++i)
        x ^= b[i];
    return x;
}

Bytes CommandFrame(const Bytes &cmd)
{
    Bytes f = {STX, 'C'};
    f.insert(f.end(), cmd.begin(), cmd.end());
    f.push_back(ETX);
    f.push_back(WireBcc(f, 1, f.size()));
    f.push_back(CR);
    return f;
}

Bytes ReplyFrame(unsigned char marker, unsigned char code, unsigned char param, const Bytes &callerData,
                 unsigned char bccDelta)
{
    Bytes f = {STX, marker, code, param};
    f.insert(f.end(), callerData.begin(), callerData.end());
    f.push_back(ETX);
    f.push_back(WireBcc(f, 1, f.size()) ^ bccDelta);
    f.push_back(CR);
    return f;
}

Bytes ControlCommand(const std::string &text)
{
    const std::string c = std::string{(char)CONTROL_CODE, (char)CONTROL_PARAM} + text;
    return Bytes(c.begin(), c.end());
}

Bytes ControlReply(const std::string &answer)
{
    const std::string text = "00" + answer;
    Bytes data(text.begin(), text.end());
    Bytes frame = ReplyFrame('P', CONTROL_CODE, CONTROL_PARAM, data);
    while (frame[frame.size() - 2] == CR) {
        data.push_back(' ');
        frame = ReplyFrame('P', CONTROL_CODE, CONTROL_PARAM, data);
    }
    return frame;
}

std::string ControlAnswer(const unsigned char *callerData, size_t length)
{
    if (length < 2)
        return "";
    std::string answer(callerData + 2, callerData + length);
    while (!answer.empty() && answer.back() == ' ')
        answer.pop_back();
    return answer;
}

std::string HexOf(const Bytes &b)
{
    std::string s;
    char h[4];
    for (size_t i = 0; i < b.size(); ++i) {
        snprintf(h, sizeof h, i ? " %02X" : "%02X", b[i]);
        s += h;
    }
    return s;
}

std::string Describe(const Bytes &m)
{
    if (m.empty())
        return "";
    if (m == kRequest)
        return "request (ENQ CR)";
    if (m == kAbort)
        return "abort (DLE EOT CR)";
    if (m.size() == 2 && m[0] == ACK)
        return "acknowledgement (ACK)";
    if (m.size() == 2 && m[0] != STX)
        return "acknowledgement, not ACK";
    if (m.size() == 3 && m[0] == DLE)
        return "abort echo, wrong";
    size_t end = m.size();
    bool cr = m.back() == CR;
    if (cr)
        --end;
    if (m[0] != STX || end < 6)
        return "noise";
    bool bccOk = WireBcc(m, 1, end - 1) == m[end - 1];
    std::string check = std::string(bccOk ? "BCC ok" : "BCC WRONG") + (cr ? "" : ", no CR");
    if (m[1] == 'C')
        return "command " + Char(m[2]) + " param " + Char(m[3]) + " data " + Text(m, 4, end - 2) + ", " + check;
    std::string kind = m[1] == 'P' ? "positive reply" : "negative reply " + Char(m[1]);
    return kind + " to " + Char(m[2]) + " " + Char(m[3]) + " status " + Text(m, 4, 6) + " data " +
           Text(m, 6, end - 2) + ", " + check;
}

HostSplitter::Kind HostSplitter::Add(unsigned char c, Bytes &done)
{
    pending_.push_back(c);
    Kind kind = PARTIAL;
    if (pending_[0] == STX)
        kind = EndsCommandFrame(pending_) ? COMMAND : pending_.size() > 4096 ? OVERLONG : PARTIAL;
    else if (pending_ == kRequest)
        kind = REQUEST;
    else if (pending_ == kAbort)
        kind = ABORT;
    else if (!(pending_ == Bytes{ENQ} || pending_ == Bytes{DLE} || pending_ == Bytes{DLE, EOT}))
        kind = NOISE;
    if (kind != PARTIAL) {
        done.swap(pending_);
        pending_.clear();
    }
    return kind;
}

std::vector<LineDecoder::Message> LineDecoder::Feed(Direction d, const Bytes &bytes)
{
    std::vector<Message> out;
    auto emit = [&](Bytes &pending, const std::string &meaning) {
        out.push_back({d, pending, meaning});
        pending.clear();
    };
    for (unsigned char c : bytes) {
        if (d == HOST_TO_DEVICE) {
            Bytes p;
            switch (host_.Add(c, p)) {
            case HostSplitter::PARTIAL: break;
            case HostSplitter::COMMAND:
                expect_ = AWAIT_ACK;
                device_.clear();
                emit(p, Describe(p));
                break;
            case HostSplitter::REQUEST:
                expect_ = AWAIT_REPLY;
                emit(p, Describe(p));
                break;
            case HostSplitter::ABORT:
                expect_ = AWAIT_ECHO;
                device_.clear();
                emit(p, Describe(p));
                break;
            case HostSplitter::NOISE:
            case HostSplitter::OVERLONG: emit(p, "noise"); break;
            }
        } else {
            Bytes &p = device_;
            p.push_back(c);
            if ((expect_ == AWAIT_ACK && p.size() == 2) || (expect_ == AWAIT_ECHO && p.size() == 3) ||
                (expect_ == AWAIT_REPLY && c == CR)) {
                const Expect was = expect_;
                expect_ = AWAIT_NOTHING;
                emit(p, was == AWAIT_ECHO && p != kAbort ? "abort echo, wrong"
                        : was == AWAIT_ECHO                            ? "abort echo"
                                                                 : Describe(p));
            }
        }
    }
    // bytes that the host did not ask for, told as they came
    if (d == DEVICE_TO_HOST && expect_ == AWAIT_NOTHING && !device_.empty())
        emit(device_, "unasked");
    return out;
}

std::string TraceLine(double seconds, const char *direction, const Bytes &bytes, const std::string &meaning)
{
    std::string hex = HexOf(bytes);
    if (hex.size() > 48)
        hex = hex.substr(0, 45) + "...";
    char head[32];
    snprintf(head, sizeof head, "%9.3f  %s  ", seconds, direction);
    char body[64];
    snprintf(body, sizeof body, "%-48s ", hex.c_str());
    return std::string(head) + body + meaning;
}

bool IsLineRate(int baud)
{
    for (int rate : kLineRates)
        if (rate == baud)
            return true;
    return false;
}
