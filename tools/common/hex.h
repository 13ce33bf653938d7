// Bytes as spaced hexadecimal ("02 43 33"), for the project's tools and
// tests (not part of the library).
#ifndef VOLMIRAX_TOOLS_HEX_H
#define VOLMIRAX_TOOLS_HEX_H

#include <cstddef>
#include <cstdio>
#include <string>

inline std::string HexBytes(const unsigned char *bytes, size_t count)
{
    std::string s;
    char h[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(h, sizeof h, i ? " %02X" : "%02X", bytes[i]);
        s += h;
    }
    return s;
}

#endif
