// Opening and closing ports: failures with their reasons, the line settings
// as applied, exclusivity, two-digit COM numbers.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host.h"
#ifdef _WIN32
#include <windows.h>
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
