// A host that runs the same calls every time, for recording a session and
// replaying it: each call's result (and data) on a line of its own.
//
//   capture_host LIBRARY PORT [--alter] [--reverse]
//
// PORT is a COM number on Windows, a device path on Linux. --alter changes
// one command byte of the third call; --reverse runs the calls backwards.
// The device is expected to misbehave as tests/capture/replay_test.sh sets
// it up: a late acknowledgement ("3"), a split reply ("1"), a bad block
// check ("2"), a negative reply ("5"), silence with the abort ("9").
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "library.h"
#include "wire_model.h"

namespace {

Library lib;
HANDLE h;
bool alter = false;

std::string Send(const Bytes &cmd, int ack = 1000, int reply = 3000, int eot = 500)
{
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    unsigned len = 0;
    const int rc = lib.SendCmd(h, cmd.data(), (unsigned)cmd.size(), data, &len, ack, reply, eot);
    return std::to_string(rc) + (len ? " " + HexOf(Bytes(data, data + len)) : "");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: capture_host LIBRARY PORT [--alter] [--reverse]\n");
        return 2;
    }
    bool reverse = false;
    for (int i = 3; i < argc; ++i) {
        alter = alter || !strcmp(argv[i], "--alter");
        reverse = reverse || !strcmp(argv[i], "--reverse");
    }
    std::string error;
    if (!LoadLibraryUnderTest(argv[1], lib, error)) {
        fprintf(stderr, "capture_host: %s\n", error.c_str());
        return 2;
    }
#ifdef _WIN32
    h = lib.OpenComm(atoi(argv[2]), 9600);
#else
    h = lib.OpenCommPath(argv[2], 9600);
#endif
    if (!h) {
        fprintf(stderr, "capture_host: the port did not open\n");
        return 2;
    }
    const std::vector<std::pair<const char *, std::function<std::string()>>> calls = {
        {"version", [] {
             unsigned char v[VOLMIRAX_MAX_VERSION + 1] = {0};
             const int rc = lib.GetMachineVersion(h, v);
             return std::to_string(rc) + " " + (const char *)v;
         }},
        {"late acknowledgement", [] { return std::to_string(lib.EjectCard(h, '0')); }},
        {"split reply", [] { return Send({'1', (unsigned char)(alter ? '1' : '0'), 'x'}); }},
        {"bad block check", [] { return Send({'2', '0'}); }},
        {"negative reply", [] { return Send({'5', '0'}); }},
        // the echo comes at once; the generous wait is for a loaded machine
        {"silent device", [] { return Send({'9', '0'}, 300, 300, 1500); }},
        {"abort", [] { return std::to_string(lib.SendEot(h, 1500)); }},
        {"reset", [] { return std::to_string(lib.ReSet(h, '0', '1', '2', '3', '4', '5', '6', '7')); }},
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        const auto &c = calls[reverse ? calls.size() - 1 - i : i];
        printf("%s: %s\n", c.first, c.second().c_str());
    }
    lib.CloseComm(&h);
    return 0;
}
