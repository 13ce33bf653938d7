/* The smallest host, in C: open the port, read the version, eject the
 * card, close. Link with the import library (Windows) or -lvolmirax.
 *
 *   c_example PORT      (COM port number; on Linux a device path)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "volmirax.h"
#include "volmirax_codes.h"

int main(int argc, char **argv)
{
    HANDLE port;
    unsigned char version[VOLMIRAX_MAX_VERSION + 1];
    int rc;

    if (argc != 2) {
        fprintf(stderr, "usage: c_example PORT\n");
        return 2;
    }
#ifdef _WIN32
    port = OpenComm(atoi(argv[1]), 9600);
#else
    port = OpenCommPath(argv[1], 9600);
#endif
    if (port == NULL) {
        fprintf(stderr, "cannot open the port\n");
        return 1;
    }

    memset(version, 0, sizeof version); /* no terminator is written */
    rc = GetMachineVersion(port, version);
    printf("GetMachineVersion: %d %s \"%s\"\n", rc, VolmiraxCodeName(rc), rc == 0 ? (char *)version : "");
    if (rc == 0) {
        rc = EjectCard(port, '0');
        printf("EjectCard: %d %s\n", rc, VolmiraxCodeName(rc));
    }
    CloseComm(&port);
    return rc == 0 ? 0 : 1;
}
