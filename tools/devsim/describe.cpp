// Readable decoding of every sequence of the protocol, for the trace.
#include <cstdio>

#include "device.h"

namespace devsim {

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
}  // namespace

std::string Describe(const Bytes &m)
{
    if (m.empty())
        return "";
    if (m == Bytes{0x05, 0x0D})
        return "request (ENQ CR)";
    if (m == Bytes{0x10, 0x04, 0x0D})
        return "abort (DLE EOT CR)";
    if (m.size() == 2 && m[0] == 0x06)
        return "acknowledgement (ACK)";
    if (m.size() == 2 && m[0] != 0x02)
        return "acknowledgement, not ACK";
    if (m.size() == 3 && m[0] == 0x10)
        return "abort echo, wrong";
    size_t end = m.size();
    bool cr = m.back() == 0x0D;
    if (cr)
        --end;
    if (m[0] != 0x02 || end < 6)
        return "noise";
    bool bccOk = Bcc(m, 1, end - 1) == m[end - 1];
    std::string check = std::string(bccOk ? "BCC ok" : "BCC WRONG") + (cr ? "" : ", no CR");
    if (m[1] == 0x43)
        return "command " + Char(m[2]) + " param " + Char(m[3]) + " data " + Text(m, 4, end - 2) + ", " + check;
    std::string kind = m[1] == 'P' ? "positive reply" : "negative reply " + Char(m[1]);
    return kind + " to " + Char(m[2]) + " " + Char(m[3]) + " status " + Text(m, 4, 6) + " data " +
           Text(m, 6, end - 2) + ", " + check;
}

}  // namespace devsim
