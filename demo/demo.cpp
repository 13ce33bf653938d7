// A host application in miniature: opens the port, reads the version,
// resets the device, ejects a card, sends a raw command, shows what a
// silent device does, and closes the port. Written only against the public
// header and linked with the library as any host would be.
//
//   demo_host PORT     (a COM port number on Windows, a device path on Linux)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "volmirax.h"
#include "volmirax_codes.h"

static void Show(int rc)
{
    if (rc == 0)
        printf("   -> %d  OK\n\n", rc);
    else if (VolmiraxFindCode(rc))
        printf("   -> %d  %s: %s\n\n", rc, VolmiraxCodeName(rc), VolmiraxCodeMeaning(rc));
    else
        printf("   -> %d  device status code\n\n", rc);
    fflush(stdout);
}

static void Announce(const char *what, const char *call)
{
    printf("%s\n   %s\n", what, call);
    fflush(stdout);
}

static void PrintData(const char *label, const unsigned char *data, unsigned len)
{
    printf("   %s (%u bytes): ", label, len);
    for (unsigned i = 0; i < len; ++i)
        printf("%02X ", data[i]);
    printf(" \"");
    for (unsigned i = 0; i < len; ++i)
        putchar(data[i] >= 0x20 && data[i] < 0x7F ? data[i] : '.');
    printf("\"\n");
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: demo_host PORT\n");
        return 2;
    }
#ifdef _WIN32
    int port = atoi(argv[1]);
    printf("Opening COM%d at 9600 baud, 8 data bits, no parity, 1 stop bit\n   OpenComm(%d, 9600)\n", port, port);
    HANDLE h = OpenComm(port, 9600);
#else
    printf("Opening %s at 9600 baud, 8 data bits, no parity, 1 stop bit\n   OpenCommPath(\"%s\", 9600)\n", argv[1], argv[1]);
    HANDLE h = OpenCommPath(argv[1], 9600);
#endif
    if (!h) {
        printf("   -> null: the port could not be opened\n");
        return 1;
    }
    printf("   -> port handle %p\n\n", h);
    fflush(stdout);

    unsigned char version[VOLMIRAX_MAX_VERSION + 1];
    memset(version, 0, sizeof version);  // no terminator is written: start from zeros
    Announce("Reading the device's version", "GetMachineVersion(h, version)");
    int rc = GetMachineVersion(h, version);
    if (rc == 0)
        printf("   version: \"%s\"\n", (const char *)version);
    Show(rc);

    Announce("Resetting the device", "ReSet(h, '0', '0', '0', '0', '0', '0', '0', '0')");
    Show(ReSet(h, '0', '0', '0', '0', '0', '0', '0', '0'));

    Announce("Ejecting the card", "EjectCard(h, '0')");
    Show(EjectCard(h, '0'));

    const unsigned char raw[] = {'1', '0', 'R', 'D'};
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    unsigned len = 0;
    Announce("Sending a command of our own: code '1', parameter '0', data \"RD\"",
             "SendCmd(h, \"10RD\", 4, data, &len, 1000, 3000, 500)");
    rc = SendCmd(h, raw, sizeof raw, data, &len, 1000, 3000, 500);
    if (rc >= 0 && len > 0)
        PrintData("reply data, status bytes first", data, len);
    Show(rc);

    const unsigned char silent[] = {'9', '0'};
    Announce("A command that this device never answers (ack time-out 500 ms, abort echo 300 ms)",
             "SendCmd(h, \"90\", 2, NULL, NULL, 500, 1000, 300)");
    Show(SendCmd(h, silent, sizeof silent, NULL, NULL, 500, 1000, 300));

    Announce("Closing the port", "CloseComm(&h)");
    int closed = CloseComm(&h);
    printf("   -> %d (%s), h is now %p\n", closed, closed ? "closed" : "not closed", h);
    return 0;
}
