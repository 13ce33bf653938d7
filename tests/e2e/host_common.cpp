// Shared by the end-to-end cases: the library under test, the checks, the
// simulator's control channel and one exchange with guarded buffers.
#include "clock.h"
#include "host.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <time.h>
#endif

#include "fd_io.h"
#include "sim_control.h"
#include "volmirax_codes.h"
#include "wire_model.h"

Library lib;
std::string g_port;
int g_failures = 0, g_checks = 0;

void Check(bool ok, const std::string &name, const std::string &detail)
{
    ++g_checks;
    if (!ok)
        ++g_failures;
    printf("%s - %s%s%s\n", ok ? "ok" : "not ok", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    fflush(stdout);
}

std::string Code(int rc)
{
    return std::to_string(rc) + " (" + VolmiraxCodeName(rc) + ")";
}

void CheckRc(int rc, int want, const std::string &name)
{
    Check(rc == want, name, rc == want ? "" : "got " + Code(rc) + ", want " + Code(want));
}

long long NowMs() { return MonotonicMs(); }

// Under full-system emulation (the 32-bit lane on machines that cannot run
// 32-bit code) every pass of a wait and every hop through Wine is many times
// slower, so a time window's upper end gets an emulator's margin there; its
// lower end, which no slowness can reach, stays. Native runs keep theirs.
bool Emulated()
{
    const char *lane = getenv("VOLMIRAX_LANE");
    return lane && !strcmp(lane, "emulated");
}

long long Late(long long margin) { return Emulated() ? margin + 1500 : margin; }

HANDLE Open(int baud)
{
#ifdef _WIN32
    return lib.OpenComm(atoi(g_port.c_str()), baud);
#else
    return lib.OpenCommPath(g_port.c_str(), baud);
#endif
}

Bytes ToBytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

std::string Ctl(HANDLE h, const std::string &text) { return SimulatorControl(lib, h, text); }

void On(HANDLE h, const std::string &code, const std::string &behaviour)
{
    std::string a = Ctl(h, "on " + code + " " + behaviour);
    if (a != "ok")
        Check(false, "simulator accepts '" + behaviour + "'", a);
}

std::string Wire(HANDLE h) { return Ctl(h, "wire"); }

std::string Hex(const unsigned char *b, size_t n) { return HexOf(Bytes(b, b + n)); }

std::string Frame(const std::string &cmd) { return HexOf(CommandFrame(ToBytes(cmd))); }

const char *kAbort = "10 04 0D";

// The operating system's reason of the step that failed, read right after
// the call that returned null.
unsigned long LastReason() { return LastSystemError(); }

void CheckReason(HANDLE h, unsigned long reason, unsigned long want, const std::string &name)
{
    Check(h == nullptr && reason == want, name, "reason " + std::to_string(reason) + ", want " + std::to_string(want));
}


Outcome Exchange(HANDLE h, const std::string &cmd, int ack, int reply, int eot)
{
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA + 8];
    memset(data, 0xAA, sizeof data);
    unsigned len = 0xDEADBEEF;
    Bytes c = ToBytes(cmd);
    long long t0 = NowMs();
    Outcome o;
    o.rc = lib.SendCmd(h, c.data(), (unsigned)c.size(), data, &len, ack, reply, eot);
    o.ms = NowMs() - t0;
    o.touched = len != 0xDEADBEEF || data[0] != 0xAA;
    o.len = len;
    if (len <= VOLMIRAX_MAX_REPLY_DATA)
        o.data.assign(data, data + len);
    o.wire = Wire(h);
    return o;
}

void Sleep100()
{
#ifdef _WIN32
    Sleep(100);
#else
    timespec ts = {0, 100000000L};
    nanosleep(&ts, nullptr);
#endif
}

// The simulator opens a new line at the same place shortly after it hangs up.
HANDLE Reopen(HANDLE *h)
{
    lib.CloseComm(h);
    for (int i = 0; i < 30; ++i) {
        Sleep100();
        HANDLE again = Open(9600);
        if (again)
            return again;
    }
    return nullptr;
}

