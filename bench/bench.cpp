// What an exchange costs beyond the wire. Runs exchanges against the
// simulator on a line paced at a real baud rate and prints raw samples;
// `--report` turns the samples of several runs into one table.
//
//   volmirax_bench LIBRARY|reference PORT --baud B --build NAME [--n N]
//   volmirax_bench --report FILE
//
// LIBRARY is the library under test; "reference" is the minimal
// poll-and-read host of reference_host.cpp (Linux). The simulator must run
// with --control --pace B. Per workload the run prints one line per
// exchange ("S build baud workload wall_ms") and one line of CPU
// ("C build baud workload cpu_ms wall_ms"); under Wine the CPU includes the
// Wine server's, which does the work of every Win32 call the process makes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include "reference_host.h"
#endif

#include "library.h"
#include "sim_control.h"

namespace {

Library lib;

#ifdef _WIN32
// The Wine server's CPU seconds, read from Linux's /proc through Wine's Z:
// drive; 0 when it cannot be found (not under Wine).
double ServerCpuSeconds()
{
    static std::string stat;
    if (stat.empty()) {
        WIN32_FIND_DATAA d;
        HANDLE f = FindFirstFileA("Z:\\proc\\*", &d);
        if (f == INVALID_HANDLE_VALUE)
            return 0;
        do {
            std::ifstream comm(std::string("Z:\\proc\\") + d.cFileName + "\\comm");
            std::string name;
            if (std::getline(comm, name) && name == "wineserver")
                stat = std::string("Z:\\proc\\") + d.cFileName + "\\stat";
        } while (stat.empty() && FindNextFileA(f, &d));
        FindClose(f);
        if (stat.empty())
            return 0;
    }
    std::ifstream in(stat);
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)  // utime, stime
            ticks += atof(field.c_str());
    return ticks / 100.0;
}

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto s = [](FILETIME f) { return (((unsigned long long)f.dwHighDateTime << 32) | f.dwLowDateTime) / 1e7; };
    return s(kernel) + s(user) + ServerCpuSeconds();
}
#else
double CpuSeconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}
#endif

double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

bool Ctl(HANDLE h, const std::string &text) { return SimulatorControl(lib, h, text) == "ok"; }

struct Workload {
    const char *name;
    char code;             // command code the simulator answers
    unsigned replyData;    // caller data in the reply: status bytes + data
    const char *behaviour; // extra simulator words
    int ackTimeout;
    int expect;            // the result every exchange must give
    int share;             // of N exchanges it runs (1 = N, 10 = N / 10)
};

const Workload kWorkloads[] = {
    {"EjectCard", '3', 2, "", 1000, 0, 1},
    {"GetMachineVersion", '<', 18, "", 1000, 0, 1},
    {"SendCmd 500 B", 'M', 502, "", 1000, 0, 2},
    {"SendCmd 993 B", 'B', 993, "", 1000, 0, 1},
    // one acknowledgement byte of two, then nothing: the wait is held for
    // its whole time-out with part of what it waits for already there
    {"partial acknowledgement, 1 s", 'H', 2, "halfack,eotnone,", 1000, ERR_ACK_TIMEOUT, 10},
};

void Run(HANDLE h, const Workload &w, int n, const std::string &build, int baud, int ackThink, int replyThink)
{
    const std::string shape = "datalen=" + std::to_string(w.replyData - 2);
    Ctl(h, "on " + std::string(1, w.code) + " " + w.behaviour + "ackdelay=" + std::to_string(ackThink) +
               ",replydelay=" + std::to_string(replyThink) + "," + shape);
    unsigned char cmd[2] = {(unsigned char)w.code, '0'};
    unsigned char version[VOLMIRAX_MAX_VERSION + 1];
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    int failures = 0;
    n = std::max(2, n / w.share);
    const double cpu0 = CpuSeconds(), wall0 = NowMs();
    for (int i = 0; i < n; ++i) {
        double t0 = NowMs();
        int rc;
        unsigned len = 0;
        if (!strcmp(w.name, "EjectCard"))
            rc = lib.EjectCard(h, '0');
        else if (!strcmp(w.name, "GetMachineVersion"))
            rc = lib.GetMachineVersion(h, version);
        else
            rc = lib.SendCmd(h, cmd, 2, data, &len, w.ackTimeout, 5000, 0);
        double wall = NowMs() - t0;
        if (rc != w.expect)
            ++failures;
        else
            printf("S\t%s\t%d\t%s\t%.4f\n", build.c_str(), baud, w.name, wall);
    }
    const double cpu = CpuSeconds() - cpu0, wall = NowMs() - wall0;
    printf("C\t%s\t%d\t%s\t%.4f\t%.4f\t%d\n", build.c_str(), baud, w.name, cpu * 1000.0, wall, failures);
    fflush(stdout);
}

// ---- the report over the samples of several runs ----

double Quantile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(q * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

unsigned WireBytes(const std::string &workload)
{
    for (const Workload &w : kWorkloads)
        if (workload == w.name)
            return (2 + 5) + 2 /* ENQ CR */ + 2 /* ack */ + (w.replyData + 7);
    return 0;
}

int Report(const char *file)
{
    struct Cell {
        std::vector<double> walls;
        double cpuMs = 0, wallMs = 0;
        int failures = 0;
    };
    std::map<std::string, std::map<std::string, std::map<std::string, Cell>>> cells;  // baud, workload, build
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f;
        std::istringstream fs(line);
        for (std::string x; std::getline(fs, x, '\t');)
            f.push_back(x);
        if (f.size() < 5 || (f[0] != "S" && f[0] != "C"))
            continue;
        std::string baud = std::string(6 - std::min<size_t>(6, f[2].size()), ' ') + f[2];
        Cell &c = cells[baud][f[3]][f[1]];
        if (f[0] == "S") {
            c.walls.push_back(atof(f[4].c_str()));
        } else if (f.size() >= 7) {
            c.cpuMs += atof(f[4].c_str());
            c.wallMs += atof(f[5].c_str());
            c.failures += atoi(f[6].c_str());
        }
    }
    printf("| baud | exchange | build | n | floor ms | wall median ms | overhead median ms | overhead p90 ms | overhead max ms | vs reference | CPU / wall |\n");
    printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (auto &byBaud : cells) {
        const int baud = atoi(byBaud.first.c_str());
        for (const Workload &w : kWorkloads) {
            auto it = byBaud.second.find(w.name);
            if (it == byBaud.second.end())
                continue;
            const bool timed = w.expect == 0;
            const double floorMs = WireBytes(w.name) * 10.0 * 1000.0 / baud + (timed ? 15.0 : 0.0);
            double refOver = -1;
            auto ref = it->second.find("reference");
            if (timed && ref != it->second.end() && !ref->second.walls.empty())
                refOver = Quantile(ref->second.walls, 0.5) - floorMs;
            for (auto &byBuild : it->second) {
                Cell &c = byBuild.second;
                if (c.walls.empty())
                    continue;
                std::vector<double> over;
                for (double t : c.walls)
                    over.push_back(t - floorMs);
                std::string p90 = c.walls.size() >= 20 ? std::to_string(Quantile(over, 0.9)).substr(0, 5) : "n/a";
                std::string vs = refOver > 0 ? std::to_string(Quantile(over, 0.5) / refOver).substr(0, 4) + "×" : "";
                std::string failed = c.failures ? " (" + std::to_string(c.failures) + " failed)" : "";
                if (timed)
                    printf("| %d | %s | %s | %zu | %.2f | %.2f | %.3f | %s | %.3f | %s | %.1f%% |%s\n", baud, w.name,
                           byBuild.first.c_str(), c.walls.size(), floorMs, Quantile(c.walls, 0.5), Quantile(over, 0.5),
                           p90.c_str(), *std::max_element(over.begin(), over.end()), vs.c_str(),
                           100.0 * c.cpuMs / c.wallMs, failed.c_str());
                else
                    printf("| %d | %s | %s | %zu | | %.2f | | | | | %.1f%% |%s\n", baud, w.name, byBuild.first.c_str(),
                           c.walls.size(), Quantile(c.walls, 0.5), 100.0 * c.cpuMs / c.wallMs, failed.c_str());
            }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "--report"))
        return Report(argv[2]);
    if (argc < 3) {
        fprintf(stderr, "usage: volmirax_bench LIBRARY|reference PORT --baud B --build NAME [--n N]\n"
                        "       volmirax_bench --report FILE\n");
        return 2;
    }
    int baud = 9600, n = 20, ackThink = 5, replyThink = 10;
    std::string build = "?";
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--baud") baud = atoi(argv[i + 1]);
        else if (a == "--n") n = atoi(argv[i + 1]);
        else if (a == "--build") build = argv[i + 1];
    }
    std::string error;
#ifndef _WIN32
    if (!strcmp(argv[1], "reference"))
        UseReferenceHost(lib);
    else
#endif
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
    for (const Workload &w : kWorkloads)
        Run(h, w, n, build, baud, ackThink, replyThink);
    lib.CloseComm(&h);
    return 0;
}
