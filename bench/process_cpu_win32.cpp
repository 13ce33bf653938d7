// Under Wine the server is a Linux process, read through Wine's Z: drive
// from /proc. The one counted is the server of this process's prefix: the
// same user may run other prefixes, each with its own server, and root
// sees every user's.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "process_cpu.h"

namespace {

std::string g_serverStat;  // Z:\proc\PID\stat of the server; empty: none

bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The prefix a Wine process of this environment uses: WINEPREFIX, or
// ~/.wine when it is not set. `lookup` reads one variable.
template <typename Lookup> std::string PrefixOf(Lookup lookup)
{
    std::string prefix = lookup("WINEPREFIX");
    if (prefix.empty())
        prefix = lookup("HOME") + "/.wine";
    return WithoutTrailingSlash(prefix);
}

std::string OwnPrefix()
{
    return PrefixOf([](const char *name) {
        char value[4096];
        DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
        return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
    });
}

// The prefix of a Linux process, from its environment (NUL-separated).
std::string PrefixOfProcess(const std::string &dir)
{
    const std::string text = ReadAll(dir + "\\environ");
    return PrefixOf([&text](const char *name) {
        const std::string key = std::string(name) + "=";
        std::istringstream vars(text);
        for (std::string var; std::getline(vars, var, '\0');)
            if (var.compare(0, key.size(), key) == 0)
                return var.substr(key.size());
        return std::string();
    });
}

}  // namespace

bool OpenCpuCounters(std::string &said)
{
    said.clear();
    if (!UnderWine())
        return true;  // Windows itself: the process's CPU is all of it
    const std::string prefix = OwnPrefix();
    std::vector<std::string> servers;  // their /proc folders
    WIN32_FIND_DATAA d;
    HANDLE f = FindFirstFileA("Z:\\proc\\*", &d);
    if (f != INVALID_HANDLE_VALUE) {
        do {
            if (!isdigit((unsigned char)d.cFileName[0]))
                continue;
            const std::string dir = std::string("Z:\\proc\\") + d.cFileName;
            std::string comm = ReadAll(dir + "\\comm");
            // wineserver, or wineserver32/64 where both are installed
            if (comm.compare(0, 10, "wineserver") == 0 && PrefixOfProcess(dir) == prefix)
                servers.push_back(dir);
        } while (FindNextFileA(f, &d));
        FindClose(f);
    }
    if (servers.size() != 1) {
        said = (servers.empty() ? "no Wine server" : "more than one Wine server") +
                std::string(" found in /proc for the prefix ") + prefix + ": its CPU cannot be counted";
        return false;
    }
    g_serverStat = servers[0] + "\\stat";
    said = "counting the Wine server of " + prefix + ", process " + servers[0].substr(strlen("Z:\\proc\\"));
    return true;
}

bool CountsServer()
{
    return !g_serverStat.empty();
}

CpuReading ReadCpu()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) { return (((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e4; };
    CpuReading r = {ms(kernel) + ms(user), 0};
    if (g_serverStat.empty())
        return r;
    // utime and stime are the 14th and 15th fields, in clock ticks of
    // 10 ms; the name in parentheses may hold spaces
    const std::string stat = ReadAll(g_serverStat);
    const size_t name = stat.rfind(')');
    if (name == std::string::npos || name + 2 > stat.size())
        return r;  // the server's record could not be read: counted as nothing
    std::istringstream fields(stat.substr(name + 2));
    std::string field;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            r.serverMs += atof(field.c_str()) * 10.0;
    return r;
}
