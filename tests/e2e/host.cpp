// End-to-end cases: the built library, loaded as a host loads it, talking
// to the device simulator (devsim --control) over a real serial line.
//
//   e2e_host LIBRARY PORT [--port12 N] [--unmapped N] [--soak ROUNDS]
//
// PORT is a COM port number on Windows, a device path on Linux. The
// simulator is steered in band: a command "~" carries its instructions
// ("on T silent", "wire", ...) and is left out of what it records.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#endif

#include "../../tools/common/hex.h"
#include "../../tools/common/library.h"
#include "volmirax_codes.h"

namespace {

Library lib;
std::string g_port;
int g_failures = 0, g_checks = 0;

void Check(bool ok, const std::string &name, const std::string &detail = "")
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

long long NowMs()
{
#ifdef _WIN32
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return c.QuadPart * 1000 / f.QuadPart;
#else
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
#endif
}

HANDLE Open(int baud)
{
#ifdef _WIN32
    return lib.OpenComm(atoi(g_port.c_str()), baud);
#else
    return lib.OpenCommPath(g_port.c_str(), baud);
#endif
}

std::vector<unsigned char> Bytes(const std::string &s) { return std::vector<unsigned char>(s.begin(), s.end()); }

// Talks to the simulator itself; returns its answer ("" when the exchange failed).
std::string Ctl(HANDLE h, const std::string &text)
{
    std::vector<unsigned char> cmd = Bytes("~ " + text);
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    unsigned len = 0;
    int rc = lib.SendCmd(h, cmd.data(), (unsigned)cmd.size(), data, &len, 1000, 1000, 200);
    if (rc != 0 || len < 2)
        return "<control failed: " + Code(rc) + ">";
    std::string answer(data + 2, data + len);
    while (!answer.empty() && answer.back() == ' ')
        answer.pop_back();  // padding that keeps the reply's BCC off CR
    return answer;
}

void On(HANDLE h, const std::string &code, const std::string &behaviour)
{
    std::string a = Ctl(h, "on " + code + " " + behaviour);
    if (a != "ok")
        Check(false, "simulator accepts '" + behaviour + "'", a);
}

std::string Wire(HANDLE h) { return Ctl(h, "wire"); }

std::string Hex(const unsigned char *b, size_t n) { return HexBytes(b, n); }

std::string Frame(const std::string &cmd)
{
    std::vector<unsigned char> f = {0x02, 0x43};
    f.insert(f.end(), cmd.begin(), cmd.end());
    f.push_back(0x03);
    unsigned char bcc = 0;
    for (size_t i = 1; i < f.size(); ++i)
        bcc ^= f[i];
    f.push_back(bcc);
    f.push_back(0x0D);
    return Hex(f.data(), f.size());
}

const char *kAbort = "10 04 0D";

#if defined(_WIN32) && defined(__i386__)
// Calls `fn` with `n` 32-bit arguments and returns how many bytes of them
// the callee removed from the stack: 4n for stdcall, 0 for cdecl.
int CalleePopped(const void *fn, const unsigned *args, int n)
{
    int left;
    __asm__ volatile(
        "movl %%esp, %%edi\n\t"
        "movl %[n], %%ecx\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl -4(%[args],%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "call *%[fn]\n\t"
        "movl %%edi, %%ecx\n\t"
        "subl %%esp, %%ecx\n\t"
        "movl %%edi, %%esp\n\t"
        : "=&c"(left)
        : [fn] "b"(fn), [args] "S"(args), [n] "m"(n)
        : "eax", "edx", "edi", "memory", "cc");
    return 4 * n - left;
}

void TestCallingConvention()
{
    HANDLE none = nullptr;
    unsigned char v[4];
    const unsigned zero[9] = {0};
    const unsigned closeArgs[1] = {(unsigned)(size_t)&none};
    const unsigned versionArgs[2] = {0, (unsigned)(size_t)v};
    const unsigned openArgs[2] = {0, 9600};
    struct { const char *name; const void *fn; const unsigned *args; int n; } calls[] = {
        {"OpenComm", (const void *)lib.OpenComm, openArgs, 2},
        {"CloseComm", (const void *)lib.CloseComm, closeArgs, 1},
        {"SendCmd", (const void *)lib.SendCmd, zero, 8},
        {"SendEot", (const void *)lib.SendEot, zero, 2},
        {"ReSet", (const void *)lib.ReSet, zero, 9},
        {"EjectCard", (const void *)lib.EjectCard, zero, 2},
        {"GetMachineVersion", (const void *)lib.GetMachineVersion, versionArgs, 2},
    };
    for (auto &c : calls) {
        int popped = CalleePopped(c.fn, c.args, c.n);
        Check(popped == 4 * c.n, std::string(c.name) + " is stdcall",
              "callee removed " + std::to_string(popped) + " bytes");
    }
}
#endif

void TestExports()
{
    std::string error;
    Check(OrdinalsMatchNames(lib, error), "exports at ordinals 1..7 in alphabetical order", error);
#if defined(_WIN32) && defined(__i386__)
    TestCallingConvention();
#endif
}

void TestNoPort()
{
    unsigned char cmd[2] = {'3', '0'}, data[4] = {9, 9, 9, 9}, v[4] = {9, 9, 9, 9};
    unsigned len = 77;
    CheckRc(lib.SendCmd(nullptr, cmd, 2, data, &len, 10, 10, 10), ERR_NO_PORT, "SendCmd without port");
    CheckRc(lib.SendEot(nullptr, 10), ERR_NO_PORT, "SendEot without port");
    CheckRc(lib.EjectCard(nullptr, '0'), ERR_NO_PORT, "EjectCard without port");
    CheckRc(lib.ReSet(nullptr, '0', 0, 0, 0, 0, 0, 0, 0), ERR_NO_PORT, "ReSet without port");
    CheckRc(lib.GetMachineVersion(nullptr, v), ERR_NO_PORT, "GetMachineVersion without port");
    Check(len == 77 && data[0] == 9 && v[0] == 9, "nothing written without port");
    HANDLE none = nullptr;
    Check(lib.CloseComm(&none) == 0, "CloseComm of a null variable returns 0");
    Check(lib.CloseComm(nullptr) == 0, "CloseComm(NULL) returns 0");
}

// The operating system's reason of the step that failed, read right after
// the call that returned null.
unsigned long LastReason()
{
#ifdef _WIN32
    return GetLastError();
#else
    return (unsigned long)errno;
#endif
}

void CheckReason(HANDLE h, unsigned long reason, unsigned long want, const std::string &name)
{
    Check(h == nullptr && reason == want, name, "reason " + std::to_string(reason) + ", want " + std::to_string(want));
}

void TestOpenFailures(int unmapped, int notSerial)
{
    Check(lib.OpenComm(0, 9600) == nullptr, "port 0 gives null");
    Check(lib.OpenComm(-3, 9600) == nullptr, "a negative port gives null");
#ifdef _WIN32
    if (unmapped > 0) {
        HANDLE h = lib.OpenComm(unmapped, 9600);
        CheckReason(h, LastReason(), ERROR_FILE_NOT_FOUND, "an unmapped port gives null: no such file");
    }
    if (notSerial > 0) {
        // a COM name that leads to something else than a serial line opens,
        // then its line settings fail: that reason, not the close's, is kept
        SetLastError(0);
        HANDLE h = lib.OpenComm(notSerial, 9600);
        unsigned long reason = LastReason();
        Check(h == nullptr && reason != 0, "a port that is not a serial line gives null with a reason", std::to_string(reason));
    }
#else
    (void)unmapped;
    (void)notSerial;
    HANDLE h = lib.OpenCommPath("/nonexistent/tty", 9600);
    CheckReason(h, LastReason(), ENOENT, "a missing device path gives null: ENOENT");
    Check(lib.OpenCommPath(nullptr, 9600) == nullptr, "a null device path gives null");
    h = lib.OpenCommPath("/dev/null", 9600);
    CheckReason(h, LastReason(), ENOTTY, "a device that is not a serial line gives null: ENOTTY");
#endif
}

#ifdef _WIN32
void CheckAppliedSettings(HANDLE h, DWORD baud, const std::string &name)
{
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    bool got = GetCommState(h, &dcb);
    Check(got && dcb.BaudRate == baud && dcb.ByteSize == 8 && dcb.Parity == NOPARITY &&
              dcb.StopBits == ONESTOPBIT,
          name + ": DCB " + std::to_string(baud) + ",n,8,1",
          "BaudRate " + std::to_string(dcb.BaudRate) + " ByteSize " + std::to_string(dcb.ByteSize) +
              " Parity " + std::to_string(dcb.Parity) + " StopBits " + std::to_string(dcb.StopBits));
    COMMTIMEOUTS t;
    memset(&t, 0, sizeof t);
    GetCommTimeouts(h, &t);
    Check(t.ReadIntervalTimeout == 2000 && t.ReadTotalTimeoutMultiplier == 400 &&
              t.ReadTotalTimeoutConstant == 400 && t.WriteTotalTimeoutMultiplier == 40 &&
              t.WriteTotalTimeoutConstant == 400,
          name + ": time-outs 2000/400/400/40/400");
}
#endif

void TestOpenAndSettings()
{
    struct { int baud, applied; } cases[] = {{9600, 9600}, {115200, 115200}, {300, 9600}, {12345, 9600}, {1200, 1200}};
    for (auto &c : cases) {
        std::string name = "open at " + std::to_string(c.baud);
        HANDLE h = Open(c.baud);
        Check(h != nullptr, name);
        if (!h)
            continue;
#ifdef _WIN32
        CheckAppliedSettings(h, c.applied, name);
#endif
        std::string line = Ctl(h, "line");
        std::string want = "baud=" + std::to_string(c.applied) + " bits=8 parity=0 stop=1 crtscts=0 ixon=0 icanon=0 echo=0";
        Check(line == want, name + ": line as the device sees it", line);
        int first = lib.CloseComm(&h);
        Check(first != 0 && h == nullptr, name + ": CloseComm closes and clears the variable");
        Check(lib.CloseComm(&h) == 0, name + ": a second CloseComm returns 0");
    }
}

#ifdef _WIN32
std::string VersionString(const std::vector<char> &info, const char *key)
{
    char *value = nullptr;
    UINT len = 0;
    std::string path = std::string("\\StringFileInfo\\080404B0\\") + key;
    if (!VerQueryValueA(info.data(), path.c_str(), (void **)&value, &len) || !value)
        return "<missing>";
    return value;
}

void TestVersionResource(const std::string &dll)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &ignored);
    Check(size > 0, "version resource present");
    if (size == 0)
        return;
    std::vector<char> info(size);
    GetFileVersionInfoA(dll.c_str(), 0, size, info.data());
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT len = 0;
    bool got = VerQueryValueA(info.data(), "\\", (void **)&fixed, &len) && fixed;
    Check(got && fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000001 &&
              fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0x00000001,
          "file and product version 1.0.0.1");
    struct { const char *key, *value; } strings[] = {
        {"FileVersion", "1, 0, 0, 1"}, {"ProductVersion", "1, 0, 0, 1"},
        {"FileDescription", "VOLMIRAX DLL"}, {"InternalName", "VOLMIRAX"},
        {"OriginalFilename", "VOLMIRAX.DLL"}, {"ProductName", "VOLMIRAX Dynamic Link Library"}};
    for (auto &k : strings) {
        std::string v = VersionString(info, k.key);
        Check(v == k.value, std::string("version string ") + k.key, v);
    }
    WORD *translation = nullptr;
    got = VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void **)&translation, &len) && len >= 4;
    Check(got && translation[0] == 0x0804 && translation[1] == 0x04B0, "translation 0804 04B0");
}
#else
void TestExclusiveOpen()
{
    HANDLE first = Open(9600);
    Check(first != nullptr, "exclusive: first open");
    HANDLE second = Open(9600);
    CheckReason(second, LastReason(), EBUSY, "exclusive: a second open of an open port fails: EBUSY");
    if (second)
        lib.CloseComm(&second);
    lib.CloseComm(&first);
    HANDLE again = Open(9600);
    Check(again != nullptr, "exclusive: the port opens again once closed");
    lib.CloseComm(&again);
    Check(lib.OpenComm(4000, 9600) == nullptr, "OpenComm of a missing /dev/ttyS gives null");
}
#endif

void TestPort12(int port12)
{
#ifdef _WIN32
    if (port12 <= 0)
        return;
    HANDLE h = lib.OpenComm(port12, 9600);
    Check(h != nullptr, "COM" + std::to_string(port12) + " opens");
    if (!h)
        return;
    CheckRc(lib.EjectCard(h, '0'), 0, "an exchange on COM" + std::to_string(port12));
    lib.CloseComm(&h);
#else
    (void)port12;
#endif
}

struct Outcome {
    int rc;
    std::string data;
    unsigned len;
    bool touched;
    long long ms;
    std::string wire;
};

Outcome Exchange(HANDLE h, const std::string &cmd, int ack = 300, int reply = 400, int eot = 200)
{
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA + 8];
    memset(data, 0xAA, sizeof data);
    unsigned len = 0xDEADBEEF;
    std::vector<unsigned char> c = Bytes(cmd);
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

struct Scenario {
    const char *name;
    const char *behaviour;
    int rc;
    const char *data;       // caller data expected, or null when nothing may be written
    bool abort;             // the abort sequence goes out
};

void TestExchanges(HANDLE h)
{
    const Scenario scenarios[] = {
        {"positive reply", "data=abc", 0, "00abc", false},
        {"positive reply without data", "ok", 0, "00", false},
        {"negative reply 02", "marker=N,status=02,data=xyz", 2, "02xyz", false},
        {"negative reply 10 is 256", "marker=N,status=10", 256, "10", false},
        {"negative reply 00 is 0", "marker=N,status=00", 0, "00", false},
        {"no status bytes", "status=", 0, "", false},
        {"wrong acknowledgement", "nak", ERR_NO_ACK, nullptr, false},
        {"bad BCC", "badbcc", ERR_BCC, nullptr, false},
        {"wrong echo", "badecho", ERR_ECHO, nullptr, false},
        {"CR inside the status", "crdata", ERR_BCC, nullptr, false},
        {"noise before the STX", "noise", ERR_BCC, nullptr, false},
        {"extra bytes after acknowledgement and reply", "extra,data=q", 0, "00q", false},
        {"silent device", "silent", ERR_ACK_TIMEOUT, nullptr, true},
        {"no reply", "noreply", ERR_REPLY_TIMEOUT, nullptr, true},
        {"reply without CR", "nocr", ERR_REPLY_TIMEOUT, nullptr, true},
        {"slow bytes", "slow=5,data=slowly", 0, "00slowly", false},
        {"reply in small pieces", "split=3:20,data=pieces", 0, "00pieces", false},
        {"think time", "ackdelay=100,replydelay=150", 0, "00", false},
        {"reply while the request is written", "early,data=e", 0, "00e", false},
        {"longest reply", "datalen=991", 0, nullptr, false},
        {"overlong reply", "datalen=1200", ERR_BCC, nullptr, false},
    };
    for (const Scenario &s : scenarios) {
        On(h, "T", s.behaviour);
        Outcome o = Exchange(h, "T1", 300, 600, 200);
        std::string name = std::string("SendCmd: ") + s.name;
        CheckRc(o.rc, s.rc, name);
        if (s.data)
            Check(o.len == strlen(s.data) && o.data == s.data, name + ": reply data", "len " + std::to_string(o.len) + " '" + o.data + "'");
        else if (s.rc != 0)
            Check(!o.touched, name + ": reply buffers untouched");
        std::string request = Frame("T1") + " 05 0D";
        bool aborted = o.wire.find(kAbort) != std::string::npos;
        Check(aborted == s.abort, name + (s.abort ? ": abort sequence sent" : ": no abort sequence"), o.wire);
        if (s.rc == ERR_NO_ACK || s.rc == ERR_ACK_TIMEOUT)
            Check(o.wire.rfind(Frame("T1"), 0) == 0 && o.wire.find("05 0D") == std::string::npos, name + ": no request", o.wire);
        else
            Check(o.wire.rfind(request, 0) == 0, name + ": frame and request on the wire", o.wire);
    }
    On(h, "T", "datalen=991");
    Outcome o = Exchange(h, "T1");
    Check(o.rc == 0 && o.len == 993 && o.data.substr(0, 4) == "00AB", "SendCmd: 993 bytes of reply data", std::to_string(o.len));

    // a command with control values inside goes out unchanged
    On(h, "U", "ok");
    std::string raw = std::string("U\x02") + "\x03\x0D" + "zz";
    o = Exchange(h, raw);
    CheckRc(o.rc, 0, "SendCmd: command bytes holding STX, ETX and CR");
    Check(o.wire.rfind(Frame(raw), 0) == 0, "SendCmd: control bytes sent unchanged", o.wire);

    unsigned char one[1] = {'3'};
    CheckRc(lib.SendCmd(h, one, 1, nullptr, nullptr, 100, 100, 100), ERR_ARGUMENT, "SendCmd with one command byte");
    CheckRc(lib.SendCmd(h, nullptr, 2, nullptr, nullptr, 100, 100, 100), ERR_ARGUMENT, "SendCmd without command bytes");
    Check(Wire(h).empty(), "bad arguments send nothing");
}

void TestTimeouts(HANDLE h)
{
    // the abort goes out ackTimeout after the frame, replyTimeout after the request
    struct { const char *name; const char *behaviour; int rc; int ack, reply, eot; long long abortAt, total; } cases[] = {
        {"acknowledgement time-out, echoed abort", "silent", ERR_ACK_TIMEOUT, 300, 600, 400, 300, 300},
        {"acknowledgement time-out, silent abort", "dead", ERR_ACK_TIMEOUT, 300, 600, 400, 300, 700},
        {"reply time-out, echoed abort", "noreply", ERR_REPLY_TIMEOUT, 300, 600, 400, 600, 600},
        {"reply time-out, silent abort", "noreply,eotnone", ERR_REPLY_TIMEOUT, 300, 600, 400, 600, 1000},
    };
    for (auto &c : cases) {
        On(h, "T", c.behaviour);
        Outcome o = Exchange(h, "T1", c.ack, c.reply, c.eot);
        long long abortAt = atoll(Ctl(h, "abortdelay").c_str());
        std::string name = std::string("timing: ") + c.name;
        CheckRc(o.rc, c.rc, name);
        Check(abortAt >= c.abortAt - 20 && abortAt <= c.abortAt + 150, name + ": abort after " + std::to_string(c.abortAt) + " ms",
              std::to_string(abortAt) + " ms");
        Check(o.ms >= c.total - 20 && o.ms <= c.total + 250, name + ": call ends after about " + std::to_string(c.total) + " ms",
              std::to_string(o.ms) + " ms");
        size_t first = o.wire.find(kAbort);
        Check(first != std::string::npos && o.wire.find(kAbort, first + 1) == std::string::npos, name + ": one abort sequence", o.wire);
    }
}

void TestSendEot(HANDLE h)
{
    struct { const char *behaviour; int rc; const char *name; } cases[] = {
        {"ok", 0, "echoed"}, {"eotwrong", ERR_EOT_ECHO, "wrong echo"}, {"eotnone", ERR_EOT_TIMEOUT, "no echo"}};
    for (auto &c : cases) {
        // the abort answers for the code of the last command
        On(h, "T", c.behaviour);
        Exchange(h, "T1");
        long long t0 = NowMs();
        int rc = lib.SendEot(h, 250);
        long long ms = NowMs() - t0;
        CheckRc(rc, c.rc, std::string("SendEot: ") + c.name);
        Check(Wire(h) == kAbort, std::string("SendEot: ") + c.name + ": DLE EOT CR on the wire");
        if (c.rc == ERR_EOT_TIMEOUT)
            Check(ms >= 230 && ms < 500, "SendEot: times out after its time-out", std::to_string(ms) + " ms");
    }
}

void TestCommands(HANDLE h)
{
    On(h, "3", "ok");
    CheckRc(lib.EjectCard(h, 0x30), 0, "EjectCard");
    Check(Wire(h) == "02 43 33 30 03 43 0D 05 0D", "EjectCard: wire bytes");
    CheckRc(lib.EjectCard(h, 0x131), 0, "EjectCard with 0x131");
    Check(Wire(h) == Frame("31") + " 05 0D", "EjectCard sends the low byte only");
    On(h, "3", "marker=N,status=12");
    CheckRc(lib.EjectCard(h, '0'), 258, "EjectCard: device status passed on");
    Wire(h);

    On(h, "0", "data=ignored");
    CheckRc(lib.ReSet(h, '0', '0', '0', '0', '0', '0', '0', '0'), 0, "ReSet");
    Check(Wire(h) == "02 43 30 30 33 32 34 30 30 30 30 30 30 30 30 03 75 0D 05 0D", "ReSet: wire bytes");

    unsigned char v[300];
    memset(v, 0xAA, sizeof v);
    On(h, "<", "data=VMX 2.1");
    CheckRc(lib.GetMachineVersion(h, v), 0, "GetMachineVersion");
    Check(memcmp(v, "VMX 2.1", 7) == 0 && v[7] == 0xAA, "GetMachineVersion: version copied without a terminator", Hex(v, 9));
    Check(Wire(h) == "02 43 3C 30 03 4C 0D 05 0D", "GetMachineVersion: wire bytes");

    memset(v, 0xAA, sizeof v);
    On(h, "<", "marker=N,status=04,data=nope");
    CheckRc(lib.GetMachineVersion(h, v), 4, "GetMachineVersion: negative reply");
    Check(v[0] == 0xAA && v[1] == 0xAA, "GetMachineVersion: negative reply leaves the buffer untouched");

    On(h, "<", "marker=N,status=00,data=v00");
    CheckRc(lib.GetMachineVersion(h, v), 0, "GetMachineVersion: status 00 counts as success");
    Check(memcmp(v, "v00", 3) == 0, "GetMachineVersion: status 00 copies the version");

    memset(v, 0xAA, sizeof v);
    On(h, "<", "datalen=900");
    CheckRc(lib.GetMachineVersion(h, v), 0, "GetMachineVersion: long version");
    Check(v[252] == 'A' + 252 % 26 && v[253] == 0xAA, "GetMachineVersion: at most 253 bytes copied");
    CheckRc(lib.GetMachineVersion(h, nullptr), ERR_ARGUMENT, "GetMachineVersion without a buffer");
    Wire(h);
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

// The line goes away in the middle of a reply, and between two calls: the
// calls fail with a code and the host carries on with a new handle.
HANDLE TestLineLoss(HANDLE h)
{
    On(h, "T", "hangup,datalen=40");
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA + 8];
    memset(data, 0xAA, sizeof data);
    unsigned len = 0xDEADBEEF;
    const unsigned char cmd[2] = {'T', '1'};
    int rc = lib.SendCmd(h, cmd, 2, data, &len, 300, 400, 100);
    Check(rc == ERR_REPLY_TIMEOUT || rc == ERR_READ || rc == ERR_READ_SHORT, "hang-up mid-reply: the call fails", Code(rc));
    Check(len == 0xDEADBEEF && data[0] == 0xAA, "hang-up mid-reply: reply buffers untouched");
    h = Reopen(&h);
    Check(h != nullptr, "hang-up mid-reply: the port opens again");
    if (!h)
        return h;
    Ctl(h, "reset");
    CheckRc(lib.EjectCard(h, '0'), 0, "hang-up mid-reply: exchanges work again");

    Ctl(h, "hangup");
    Sleep100();
    rc = lib.SendCmd(h, cmd, 2, data, &len, 200, 200, 100);
    Check(rc < 0 && len == 0xDEADBEEF, "port gone between calls: SendCmd fails", Code(rc));
    rc = lib.SendEot(h, 100);
    Check(rc < 0, "port gone between calls: SendEot fails", Code(rc));
    rc = lib.EjectCard(h, '0');
    Check(rc < 0, "port gone between calls: EjectCard fails", Code(rc));
    h = Reopen(&h);
    Check(h != nullptr, "port gone between calls: the port opens again");
    if (h)
        CheckRc(lib.EjectCard(h, '0'), 0, "port gone between calls: exchanges work again");
    return h;
}

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
        int rc = lib.SendCmd(h, cmd, 3, data, &len, 500, 500, 100);
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

#ifdef _WIN32
int g_dispatched = 0, g_reposted = 0, g_windowTimer = 0, g_threadTimer = 0;
bool g_repost = false;
const UINT kCount = WM_APP + 1, kRepost = WM_APP + 2, kBefore = WM_APP + 3, kPostDuring = WM_APP + 4,
           kDuring = WM_APP + 5;

LRESULT CALLBACK TestProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case kCount:
        ++g_dispatched;
        return 0;
    case kRepost:  // idle work that posts itself again
        ++g_reposted;
        if (g_repost)
            PostMessageA(w, kRepost, 0, 0);
        return 0;
    case kPostDuring:  // a message to the thread, posted while the call waits
        PostThreadMessageA(GetCurrentThreadId(), kDuring, 33, 44);
        return 0;
    case WM_TIMER:
        ++g_windowTimer;
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

VOID CALLBACK ThreadTimerProc(HWND, UINT, UINT_PTR, DWORD) { ++g_threadTimer; }

// Removes the thread messages in [first, last] and tells them as
// "message:wParam:lParam" in queue order.
std::string TakeThreadMessages(UINT first, UINT last)
{
    std::string out;
    MSG msg;
    while (PeekMessageA(&msg, NULL, first, last, PM_REMOVE))
        if (msg.hwnd == NULL)
            out += (out.empty() ? "" : " ") + std::to_string(msg.message - WM_APP) + ":" + std::to_string(msg.wParam) + ":" +
                   std::to_string(msg.lParam);
    return out;
}

void TestMessages(HANDLE h)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = TestProc;
    wc.lpszClassName = "VolmiraxE2E";
    RegisterClassA(&wc);
    HWND w = CreateWindowA("VolmiraxE2E", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    Check(w != NULL, "a message-only window for the test");
    On(h, "T", "replydelay=150");
    PostMessageA(w, kCount, 0, 0);
    PostMessageA(w, kCount, 0, 0);
    Outcome o = Exchange(h, "T1");
    CheckRc(o.rc, 0, "messages: exchange with window messages waiting");
    Check(g_dispatched == 2, "messages: the window procedure ran while the call waited",
          std::to_string(g_dispatched) + " dispatched");

    // A window that keeps posting to itself cannot hold a silent exchange:
    // the abort goes out after the acknowledgement time and the call ends
    // after the abort's time, as without messages.
    On(h, "T", "dead");
    g_repost = true;
    PostMessageA(w, kRepost, 0, 0);
    const unsigned char cmd[2] = {'T', '1'};
    long long t0 = NowMs();
    int rc = lib.SendCmd(h, cmd, 2, nullptr, nullptr, 300, 300, 300);
    long long ms = NowMs() - t0;
    g_repost = false;
    MSG msg;
    while (PeekMessageA(&msg, w, kRepost, kRepost, PM_REMOVE)) {
    }
    long long abortAt = atoll(Ctl(h, "abortdelay").c_str());
    CheckRc(rc, ERR_ACK_TIMEOUT, "messages: self-posting window, silent device");
    Check(abortAt >= 280 && abortAt <= 450, "messages: self-posting window: abort after 300 ms", std::to_string(abortAt) + " ms");
    Check(ms >= 580 && ms <= 850, "messages: self-posting window: call ends after about 600 ms", std::to_string(ms) + " ms");
    Check(g_reposted > 100, "messages: self-posting window kept running", std::to_string(g_reposted) + " dispatched");

    // Thread messages, one posted before the call and one while it waits,
    // are still queued afterwards, in order, with their values.
    On(h, "T", "replydelay=150");
    PostThreadMessageA(GetCurrentThreadId(), kBefore, 11, 22);
    PostMessageA(w, kPostDuring, 0, 0);
    o = Exchange(h, "T1");
    CheckRc(o.rc, 0, "messages: exchange with thread messages");
    std::string kept = TakeThreadMessages(kBefore, kDuring);
    Check(kept == "3:11:22 5:33:44", "messages: thread messages kept for the host", kept);

    // A thread timer with a procedure keeps running during a wait.
    On(h, "T", "replydelay=400");
    UINT_PTR timer = SetTimer(NULL, 0, 20, ThreadTimerProc);
    o = Exchange(h, "T1", 300, 1000, 200);
    KillTimer(NULL, timer);
    CheckRc(o.rc, 0, "messages: exchange with a thread timer");
    Check(g_threadTimer >= 5, "messages: the thread timer's procedure ran during the wait", std::to_string(g_threadTimer) + " times");

    // While a WM_QUIT waits, a 20 ms window timer keeps firing, and the
    // WM_QUIT is there after the call with its exit code.
    SetTimer(w, 1, 20, NULL);
    PostQuitMessage(7);
    o = Exchange(h, "T1", 300, 1000, 200);
    KillTimer(w, 1);
    CheckRc(o.rc, 0, "messages: exchange with WM_QUIT posted");
    Check(g_windowTimer >= 5, "messages: the window timer fired while a WM_QUIT waited", std::to_string(g_windowTimer) + " times");
    bool quit = PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7;
    Check(quit, "messages: WM_QUIT with its exit code is still there after the call");
    DestroyWindow(w);
}
#endif

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: e2e_host LIBRARY PORT [--port12 N] [--unmapped N] [--soak ROUNDS]\n");
        return 2;
    }
    g_port = argv[2];
    int port12 = 0, unmapped = 0, notSerial = 0, soak = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--port12"))
            port12 = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--unmapped"))
            unmapped = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--not-serial"))
            notSerial = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--soak"))
            soak = atoi(argv[i + 1]);
    }
    std::string error;
    if (!LoadLibraryUnderTest(argv[1], lib, error)) {
        printf("not ok - load the library: %s\n", error.c_str());
        return 1;
    }
    TestExports();
    TestNoPort();
    TestOpenFailures(unmapped, notSerial);
    TestOpenAndSettings();
    TestPort12(port12);
#ifdef _WIN32
    TestVersionResource(argv[1]);
#else
    TestExclusiveOpen();
#endif

    HANDLE h = Open(9600);
    Check(h != nullptr, "open the test port");
    if (h) {
        Ctl(h, "reset");
        TestExchanges(h);
        TestTimeouts(h);
        TestSendEot(h);
        TestCommands(h);
#ifdef _WIN32
        TestMessages(h);
#endif
        if (soak > 0)
            Soak(h, soak);
        h = TestLineLoss(h);
        if (h)
            Check(lib.CloseComm(&h) != 0, "close the test port");
    }
    printf("%d checks, %d failed\n", g_checks, g_failures);
    return g_failures == 0 ? 0 : 1;
}
