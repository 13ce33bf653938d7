// Many exchanges in a row: results, memory and handles.
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "volmirax_codes.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

struct Footprint {
    long long memoryKb;
    long long handles;
};

Footprint Measure()
{
    Footprint f = {0, 0};
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS m;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m))
        f.memoryKb = (long long)(m.PagefileUsage / 1024);
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    f.handles = handles;
#else
    FILE *statm = fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (statm) {
        if (fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(statm);
    }
    f.memoryKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
    DIR *d = opendir("/proc/self/fd");
    if (d) {
        while (readdir(d))
            ++f.handles;
        closedir(d);
    }
#endif
    return f;
}

// Many exchanges in a row with a mix of good and bad replies: every result
// is the expected one, and memory and handles stay where they were.
void Soak(HANDLE h, int rounds)
{
    struct { const char *code, *behaviour; int rc; } mix[] = {
        {"a", "data=fine", 0}, {"b", "marker=N,status=05", 5}, {"c", "badbcc", ERR_BCC},
        {"d", "badecho", ERR_ECHO}, {"e", "nak", ERR_NO_ACK}, {"f", "crdata", ERR_BCC},
        {"g", "extra,datalen=300", 0}, {"h", "split=7:0,datalen=50", 0}};
    const int kinds = sizeof mix / sizeof mix[0];
    for (auto &m : mix)
        On(h, m.code, m.behaviour);
    Wire(h);
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    Footprint before = {0, 0};
    int wrong = 0;
    for (int i = 0; i < rounds; ++i) {
        if (i == rounds / 10)
            before = Measure();  // after the warm-up
        const auto &m = mix[i % kinds];
        unsigned char cmd[3] = {(unsigned char)m.code[0], '0', (unsigned char)('0' + i % 10)};
        unsigned len = 0;
        // no case of the mix times out, so generous time-outs cost nothing;
        // under Wine on a busy machine a 300-byte reply read a byte a pass
        // can take longer than half a second
        int rc = lib.SendCmd(h, cmd, 3, data, &len, 2000, 3000, 100);
        if (rc != m.rc && ++wrong <= 5)
            Check(false, "soak: exchange " + std::to_string(i) + " with '" + m.behaviour + "'", Code(rc));
    }
    Footprint after = Measure();
    Check(wrong == 0, "soak: " + std::to_string(rounds) + " exchanges, every result as expected",
          std::to_string(wrong) + " wrong");
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in quarantine, so the process grows
    // by design here; LeakSanitizer checks for leaks at exit instead.
    printf("# soak: memory %lld kB -> %lld kB (quarantined, not checked)\n", before.memoryKb, after.memoryKb);
#else
    Check(after.memoryKb - before.memoryKb < 512, "soak: memory does not grow",
          std::to_string(before.memoryKb) + " kB -> " + std::to_string(after.memoryKb) + " kB");
#endif
    Check(after.handles <= before.handles, "soak: handles do not grow",
          std::to_string(before.handles) + " -> " + std::to_string(after.handles));
    Ctl(h, "reset");
}
