// End-to-end cases: the built library, loaded as a host loads it, talking
// to the device simulator (devsim --control) over a real serial line.
//
//   e2e_host LIBRARY PORT [--port12 N] [--unmapped N] [--not-serial N] [--soak ROUNDS]
//
// PORT is a COM port number on Windows, a device path on Linux. The
// simulator is steered in band: a command "~" carries its instructions
// ("on T silent", "wire", ...) and is left out of what it records.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host.h"

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
    if (Emulated() && soak > 300) {
        // under emulation the soak's rounds cost a hundred times more
        printf("# emulated: soak of 300 exchanges instead of %d\n", soak);
        soak = 300;
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
    TestBadHandles();
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
