// A JSON string of any bytes, for the tools' JSON output and the report
// page: quote and backslash escaped; every control character, every byte
// outside ASCII (written as \u00XX, the byte's value) and < > & escaped, so
// that it is valid JSON whatever a path or a reply holds, also inside an
// HTML <script> element.
#ifndef VOLMIRAX_JSON_TEXT_H
#define VOLMIRAX_JSON_TEXT_H

#include <cstdio>
#include <string>

inline std::string JsonString(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c >= 0x7F || c == '<' || c == '>' || c == '&') {
            char u[8];
            snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

#endif
