// The end-to-end host: one program, built for the platform of the library
// under test, that loads the library as a host does and runs its cases
// against the device simulator (devsim --control) over a real serial line.
// Each file holds the cases of one concern; host_common.cpp the helpers.
#ifndef VOLMIRAX_E2E_HOST_H
#define VOLMIRAX_E2E_HOST_H

#include <string>

#include "library.h"
#include "wire_model.h"

extern Library lib;
extern std::string g_port;  // a COM number on Windows, a device path on Linux
extern int g_failures, g_checks;
extern const char *kAbort;  // "10 04 0D"

void Check(bool ok, const std::string &name, const std::string &detail = "");
std::string Code(int rc);
void CheckRc(int rc, int want, const std::string &name);
long long NowMs();
bool Emulated();                  // run under full-system emulation (VOLMIRAX_LANE=emulated)
long long Late(long long margin); // a time window's upper margin, wider when emulated
HANDLE Open(int baud);
Bytes ToBytes(const std::string &s);
// The simulator's answer to a control text; On sets a behaviour for a code.
std::string Ctl(HANDLE h, const std::string &text);
void On(HANDLE h, const std::string &code, const std::string &behaviour);
std::string Wire(HANDLE h);  // the bytes the device received since the last look
std::string Hex(const unsigned char *b, size_t n);
std::string Frame(const std::string &cmd);  // the command frame of `cmd`, as hex
unsigned long LastReason();  // GetLastError() or errno, right after a call
void CheckReason(HANDLE h, unsigned long reason, unsigned long want, const std::string &name);
void Sleep100();
HANDLE Reopen(HANDLE *h);  // closes and opens again once the simulator's new line is there

// One SendCmd with guarded buffers: what it returned, wrote and put on the wire.
struct Outcome {
    int rc;
    std::string data;
    unsigned len;
    bool touched;
    long long ms;
    std::string wire;
};
Outcome Exchange(HANDLE h, const std::string &cmd, int ack = 300, int reply = 400, int eot = 200);

// The cases, by concern.
void TestExports();                                   // exports_test.cpp
void TestNoPort();
void TestOpenFailures(int unmapped, int notSerial);   // port_test.cpp
void TestOpenAndSettings();
void TestPort12(int port12);
void TestExclusiveOpen();
void TestBadHandles();
void TestVersionResource(const std::string &dll);     // version_resource_test.cpp
void TestExchanges(HANDLE h);                         // exchange_test.cpp
void TestTimeouts(HANDLE h);
void TestSendEot(HANDLE h);
void TestCommands(HANDLE h);
HANDLE TestLineLoss(HANDLE h);
void TestMessages(HANDLE h);                          // messages_test.cpp
void Soak(HANDLE h, int rounds);                      // soak_test.cpp

#endif
