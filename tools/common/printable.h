// Text from a capture, a device or a path, made safe for a terminal: every
// control character (escape sequences, CR, LF, NUL) and every byte outside
// ASCII is written as \xNN, and a backslash as \\, so that what a tool
// prints can never move the cursor, forge a line or be cut short.
#ifndef VOLMIRAX_PRINTABLE_H
#define VOLMIRAX_PRINTABLE_H

#include <cstdio>
#include <string>

inline std::string Printable(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7F) {
            char x[8];
            snprintf(x, sizeof x, "\\x%02X", c);
            out += x;
        } else {
            out += (char)c;
        }
    }
    return out;
}

#endif
