#include "serial_ports.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

std::vector<std::string> ListSerialPorts()
{
    std::vector<char> names(1 << 16);
    DWORD n = QueryDosDeviceA(NULL, names.data(), (DWORD)names.size());
    while (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 24)) {
        names.resize(names.size() * 4);
        n = QueryDosDeviceA(NULL, names.data(), (DWORD)names.size());
    }
    std::vector<int> numbers;
    for (const char *p = names.data(); p < names.data() + n && *p; p += strlen(p) + 1) {
        if (_strnicmp(p, "COM", 3) != 0 || p[3] == 0 || strspn(p + 3, "0123456789") != strlen(p + 3))
            continue;
        numbers.push_back(atoi(p + 3));
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<std::string> ports;
    for (int number : numbers)
        ports.push_back("COM" + std::to_string(number));
    return ports;
}

std::string OpenFailureMessage(const std::string &where, unsigned long reason)
{
    switch (reason) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "no such port: " + where;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return where + " is in use by another program";
    default: {
        char text[256] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)reason, 0, text,
                       sizeof text, NULL);
        std::string s = text;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
            s.pop_back();
        return "cannot open " + where + ": " + (s.empty() ? "error " + std::to_string(reason) : s);
    }
    }
}
