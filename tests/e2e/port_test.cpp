// Opening and closing ports: failures with their reasons, the line settings
// as applied, exclusivity, two-digit COM numbers.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "volmirax_codes.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

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

#ifndef _WIN32
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
#else
void TestExclusiveOpen() {}  // Wine does not hold a serial port exclusively
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

// What every call does with a handle that is not a live port: the calls
// that write fail with ERR_WRITE and the system's "bad handle" reason,
// CloseComm gives 0 and clears the variable, and nothing reaches any file
// or device.
void CheckRefused(HANDLE bad, unsigned long reason, const std::string &name)
{
    const unsigned char cmd[2] = {'3', '0'};
    unsigned char data[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    unsigned len = 99;
    struct {
        const char *call;
        int rc;
    } calls[] = {
        {"SendCmd", lib.SendCmd(bad, cmd, 2, data, &len, 100, 100, 100)},
        {"SendEot", lib.SendEot(bad, 100)},
        {"EjectCard", lib.EjectCard(bad, '0')},
        {"ReSet", lib.ReSet(bad, '0', 0, 0, 0, 0, 0, 0, 0)},
        {"GetMachineVersion", lib.GetMachineVersion(bad, data)},
    };
    for (auto &c : calls)
        CheckRc(c.rc, ERR_WRITE, name + ": " + c.call);
    Check(LastReason() == reason, name + ": the reason is the system's bad-handle error", std::to_string(LastReason()));
    Check(len == 99 && data[0] == 7, name + ": the host's buffers are untouched");
    HANDLE copy = bad;
    Check(lib.CloseComm(&copy) == 0 && copy == nullptr, name + ": CloseComm gives 0 and clears the variable");
}

void TestBadHandles()
{
#ifdef _WIN32
    const unsigned long badHandle = ERROR_INVALID_HANDLE;
#else
    const unsigned long badHandle = EBADF;
#endif
    int local = 0;
    CheckRefused(reinterpret_cast<HANDLE>(1), badHandle, "bad handle 1");
    CheckRefused(reinterpret_cast<HANDLE>(0x12345678), badHandle, "bad handle 0x12345678");
    CheckRefused(reinterpret_cast<HANDLE>(&local), badHandle, "bad handle: an address");
#ifdef _WIN32
    // Handles of the host's own that are not ports: nothing is written into
    // them, and CloseComm leaves them open.
    char file[MAX_PATH];
    GetTempFileNameA(".", "vmx", 0, file);
    HANDLE f = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE pipeRead = NULL, pipeWrite = NULL;
    CreatePipe(&pipeRead, &pipeWrite, NULL, 4096);
    struct { HANDLE h; const char *name; } others[] = {{f, "a file"}, {event, "an event"}, {pipeWrite, "a pipe"}};
    for (auto &o : others)
        CheckRefused(o.h, badHandle, std::string("not a port: ") + o.name);
    Check(GetFileSize(f, NULL) == 0, "not a port: nothing was written into the file");
    DWORD queued = 1;
    Check(PeekNamedPipe(pipeRead, NULL, 0, NULL, &queued, NULL) && queued == 0, "not a port: nothing was written into the pipe");
    Check(SetEvent(event) != 0, "not a port: CloseComm left the event open");
    CloseHandle(f);
    CloseHandle(event);
    CloseHandle(pipeRead);
    CloseHandle(pipeWrite);
    DeleteFileA(file);
#else
    // A copy of a closed handle: refused, even once a file has taken over
    // the old descriptor number and a new port the old place.
    HANDLE h = Open(9600);
    Check(h != nullptr, "stale handle: open");
    HANDLE stale = h;
    lib.CloseComm(&h);
    char path[] = "/tmp/volmirax-stale-XXXXXX";
    const int log = mkstemp(path);
    CheckRefused(stale, EBADF, "stale handle");
    HANDLE again = Open(9600);
    Check(again != nullptr && again != stale, "stale handle: the port opens again with a new handle");
    Wire(again);
    CheckRefused(stale, EBADF, "stale handle beside a newer port");
    Check(Wire(again).empty(), "stale handle: the newer port's device heard nothing", Wire(again));
    CheckRc(lib.EjectCard(again, '0'), 0, "stale handle: the newer port still works");
    Check(lseek(log, 0, SEEK_END) == 0, "stale handle: nothing was written to the file on the old descriptor");
    close(log);
    unlink(path);
    lib.CloseComm(&again);
#endif
}
