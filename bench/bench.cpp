// What an exchange costs beyond the wire. Runs exchanges against the
// simulator on a line paced at a real baud rate and prints raw samples;
// `--report` turns the samples of several runs into one table.
//
//   volmirax_bench LIBRARY|reference PORT --baud B --build NAME [--n N] [--round R] [--only WORKLOAD]
//   volmirax_bench --report FILE
//
// LIBRARY is the library under test; "reference" is the minimal
// poll-and-read host of reference_host.cpp (Linux). The simulator must run
// with --control --pace B. Lines printed (tab-separated):
//   S build baud workload wall_ms round          one per exchange
//   C build baud workload exchanges host_cpu_ms server_cpu_ms wall_ms failures
//   P build baud passes wall_ms host_cpu_ms server_cpu_ms   (Windows)
//   D build baud delay_ms                           (Windows) one per message
// server_cpu_ms is the Wine server's ("-" when there is none).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include "reference_host.h"
#endif

#include "bench_report.h"
#include "library.h"
#include "process_cpu.h"
#include "sim_control.h"
#include "workloads.h"

namespace {

Library lib;

double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string ServerField(double ms)
{
    char text[32];
    snprintf(text, sizeof text, "%.4f", ms);
    return CountsServer() ? text : "-";
}

void Run(HANDLE h, const Workload &w, int n, const std::string &build, int baud, int round)
{
    const std::string shape = "datalen=" + std::to_string(w.replyData - 2);
    SimulatorControl(lib, h, "on " + std::string(1, w.code) + " " + w.behaviour + "ackdelay=" +
                                 std::to_string(kAckThinkMs) + ",replydelay=" + std::to_string(kReplyThinkMs) + "," +
                                 shape);
    unsigned char cmd[2] = {(unsigned char)w.code, '0'};
    unsigned char version[VOLMIRAX_MAX_VERSION + 1];
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    int failures = 0;
    n = n / w.share > 2 ? n / w.share : 2;
    const CpuReading cpu0 = ReadCpu();
    const double wall0 = NowMs();
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
            printf("S\t%s\t%d\t%s\t%.4f\t%d\n", build.c_str(), baud, w.name, wall, round);
    }
    const CpuReading cpu1 = ReadCpu();
    const double wall = NowMs() - wall0;
    printf("C\t%s\t%d\t%s\t%d\t%.4f\t%s\t%.4f\t%d\n", build.c_str(), baud, w.name, n, cpu1.hostMs - cpu0.hostMs,
           ServerField(cpu1.serverMs - cpu0.serverMs).c_str(), wall, failures);
    fflush(stdout);
}

#ifdef _WIN32
// What one pass of a Windows wait costs, with nothing arriving: the same
// calls the library makes in a pass (a look at the message queue, one at
// the input queue, the clock read twice).
void PassCost(HANDLE h, const std::string &build, int baud)
{
    const int passes = 30000;
    const CpuReading cpu0 = ReadCpu();
    const double wall0 = NowMs();
    for (int i = 0; i < passes; ++i) {
        MSG m;
        if (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
        GetTickCount();
        DWORD errors;
        COMSTAT stat;
        ClearCommError(h, &errors, &stat);
        GetTickCount();
    }
    const CpuReading cpu1 = ReadCpu();
    printf("P\t%s\t%d\t%d\t%.4f\t%.4f\t%s\n", build.c_str(), baud, passes, NowMs() - wall0,
           cpu1.hostMs - cpu0.hostMs, ServerField(cpu1.serverMs - cpu0.serverMs).c_str());
    fflush(stdout);
}

// How soon a message posted to the host's window during a silent wait is
// dispatched: another thread posts one every 23 ms through three silent
// 1-s waits; the window procedure takes the time it waited in the queue.
LARGE_INTEGER g_frequency;
LARGE_INTEGER g_postedAt[256];
std::vector<double> g_delays;

LRESULT CALLBACK DelayProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m != WM_APP + 20)
        return DefWindowProcA(w, m, wp, lp);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    g_delays.push_back((double)(now.QuadPart - g_postedAt[wp & 255].QuadPart) * 1000.0 / (double)g_frequency.QuadPart);
    return 0;
}

struct Poster {
    HWND window;
    volatile LONG stop;
};

DWORD WINAPI PostEvery23Ms(void *arg)
{
    Poster *p = (Poster *)arg;
    for (unsigned i = 0; !p->stop; ++i) {
        Sleep(23);
        QueryPerformanceCounter(&g_postedAt[i & 255]);
        PostMessageA(p->window, WM_APP + 20, i & 255, 0);
    }
    return 0;
}

void MessageDelay(HANDLE h, const std::string &build, int baud)
{
    QueryPerformanceFrequency(&g_frequency);
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DelayProc;
    wc.lpszClassName = "VolmiraxBenchDelay";
    RegisterClassA(&wc);
    Poster p = {CreateWindowA("VolmiraxBenchDelay", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL), 0};
    SimulatorControl(lib, h, "on H halfack,eotnone");
    HANDLE poster = CreateThread(NULL, 0, PostEvery23Ms, &p, 0, NULL);
    unsigned char cmd[2] = {'H', '0'};
    for (int i = 0; i < 3; ++i)
        lib.SendCmd(h, cmd, 2, nullptr, nullptr, 1000, 1000, 0);
    InterlockedExchange(&p.stop, 1);
    WaitForSingleObject(poster, INFINITE);
    CloseHandle(poster);
    DestroyWindow(p.window);
    for (double d : g_delays)
        printf("D\t%s\t%d\t%.4f\n", build.c_str(), baud, d);
    g_delays.clear();
    fflush(stdout);
}
#endif

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "--report"))
        return BenchReport(argv[2]);
    if (argc < 3) {
        fprintf(stderr, "usage: volmirax_bench LIBRARY|reference PORT --baud B --build NAME [--n N] [--round R] [--only WORKLOAD]\n"
                        "       volmirax_bench --report FILE\n");
        return 2;
    }
    int baud = 9600, n = 20, round = 0;
    std::string build = "?", only;
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--baud") baud = atoi(argv[i + 1]);
        else if (a == "--n") n = atoi(argv[i + 1]);
        else if (a == "--build") build = argv[i + 1];
        else if (a == "--round") round = atoi(argv[i + 1]);
        else if (a == "--only") only = argv[i + 1];
    }
    std::string said, error;
    if (!OpenCpuCounters(said)) {
        fprintf(stderr, "bench: %s\n", said.c_str());
        return 1;
    }
    if (!said.empty())
        fprintf(stderr, "bench: %s\n", said.c_str());
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
        if (only.empty() || only == w.name)
            Run(h, w, n, build, baud, round);
#ifdef _WIN32
    if (only.empty()) {
        PassCost((HANDLE)h, build, baud);
        MessageDelay((HANDLE)h, build, baud);
    }
#endif
    lib.CloseComm(&h);
    return 0;
}
