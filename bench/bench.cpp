// What an exchange costs beyond the wire. Runs exchanges against the
// simulator on a line paced at a real baud rate, and reports for each the
// wire-time floor (10 bits a byte, both ways), the device's think time, the
// median and p99 of wall time and of overhead (wall - floor - think), and
// the process CPU time as a share of wall time.
//
//   volmirax_bench LIBRARY PORT --baud B --build NAME [--n N] [--ack-think MS] [--reply-think MS]
//
// The simulator must run with --control --pace B. Prints markdown table
// rows; bench/run_bench.sh puts the builds side by side.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include "../tools/common/library.h"

namespace {

Library lib;

double CpuSeconds()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto s = [](FILETIME f) { return (((unsigned long long)f.dwHighDateTime << 32) | f.dwLowDateTime) / 1e7; };
    return s(kernel) + s(user);
#else
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
#endif
}

double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

bool Ctl(HANDLE h, const std::string &text)
{
    std::string cmd = "~ " + text;
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    unsigned len = 0;
    return lib.SendCmd(h, (const unsigned char *)cmd.data(), (unsigned)cmd.size(), data, &len, 5000, 20000, 500) == 0;
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

struct Workload {
    std::string name;
    std::string code;       // command code the simulator answers
    unsigned cmdLen;        // command bytes sent
    unsigned replyData;     // caller data in the reply: status bytes + data
};

struct Measured {
    double floorMs, thinkMs, wallMed, wallP99, overMed, overP99, cpuShare;
    int failures;
};

Measured Run(HANDLE h, const Workload &w, int n, int baud, int ackThink, int replyThink)
{
    // the reply's status and data, shaped by the simulator per command code
    std::string shape = w.replyData >= 2 ? "datalen=" + std::to_string(w.replyData - 2)
                                         : (w.replyData == 1 ? "status=0" : "status=");
    Ctl(h, "on " + w.code + " ackdelay=" + std::to_string(ackThink) + ",replydelay=" +
               std::to_string(replyThink) + "," + shape);
    const unsigned wireBytes = (w.cmdLen + 5) + 2 /* ENQ CR */ + 2 /* ack */ + (w.replyData + 7);
    Measured m;
    m.floorMs = wireBytes * 10.0 * 1000.0 / baud;
    m.thinkMs = ackThink + replyThink;
    m.failures = 0;
    std::vector<double> walls;
    unsigned char cmd[8] = {(unsigned char)w.code[0], '0', 'x', 'x', 'x', 'x', 'x', 'x'};
    unsigned char version[VOLMIRAX_MAX_VERSION + 1];
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    const double cpu0 = CpuSeconds(), wall0 = NowMs();
    for (int i = 0; i < n; ++i) {
        double t0 = NowMs();
        int rc;
        unsigned len = 0;
        if (w.name == "EjectCard")
            rc = lib.EjectCard(h, '0');
        else if (w.name == "GetMachineVersion")
            rc = lib.GetMachineVersion(h, version);
        else
            rc = lib.SendCmd(h, cmd, w.cmdLen, data, &len, 1000, 5000, 500);
        walls.push_back(NowMs() - t0);
        m.failures += rc != 0;
    }
    const double cpu = CpuSeconds() - cpu0, wall = NowMs() - wall0;
    std::vector<double> over;
    for (double t : walls)
        over.push_back(t - m.floorMs - m.thinkMs);
    m.wallMed = Percentile(walls, 0.5);
    m.wallP99 = Percentile(walls, 0.99);
    m.overMed = Percentile(over, 0.5);
    m.overP99 = Percentile(over, 0.99);
    m.cpuShare = 100.0 * cpu * 1000.0 / wall;
    return m;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: volmirax_bench LIBRARY PORT --baud B --build NAME [--n N] [--ack-think MS] [--reply-think MS]\n");
        return 2;
    }
    int baud = 9600, n = 20, ackThink = 5, replyThink = 10;
    std::string build = "?";
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--baud") baud = atoi(argv[i + 1]);
        else if (a == "--n") n = atoi(argv[i + 1]);
        else if (a == "--ack-think") ackThink = atoi(argv[i + 1]);
        else if (a == "--reply-think") replyThink = atoi(argv[i + 1]);
        else if (a == "--build") build = argv[i + 1];
    }
    std::string error;
    if (!LoadLibraryUnderTest(argv[1], lib, error)) {
        fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
#ifdef _WIN32
    HANDLE h = lib.OpenComm(atoi(argv[2]), baud);
#else
    HANDLE h = lib.OpenCommPath(argv[2], baud);
#endif
    if (!h) {
        fprintf(stderr, "bench: cannot open %s\n", argv[2]);
        return 1;
    }
    const Workload workloads[] = {
        {"EjectCard", "3", 2, 2},
        {"GetMachineVersion", "<", 2, 18},
        {"SendCmd 900 B", "B", 2, 902},
    };
    for (const Workload &w : workloads) {
        Measured m = Run(h, w, n, baud, ackThink, replyThink);
        printf("| %s | %d | %s | %.2f | %d | %.2f | %.2f | %.3f | %.3f | %.1f%% |%s\n", build.c_str(), baud,
               w.name.c_str(), m.floorMs, (int)m.thinkMs, m.wallMed, m.wallP99, m.overMed, m.overP99, m.cpuShare,
               m.failures ? (" " + std::to_string(m.failures) + " failed").c_str() : "");
        fflush(stdout);
    }
    // how the overhead grows with the reply's length
    printf("GROWTH %s %d:", build.c_str(), baud);
    for (unsigned len : {0u, 100u, 500u, 993u}) {
        Workload w = {"SendCmd", "L", 2, len};
        Measured m = Run(h, w, std::max(5, n / 2), baud, ackThink, replyThink);
        printf(" %u B: %.3f ms (%.1f%% CPU);", len, m.overMed, m.cpuShare);
        fflush(stdout);
    }
    printf("\n");
    lib.CloseComm(&h);
    return 0;
}
