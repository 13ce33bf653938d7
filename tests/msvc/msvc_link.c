/* Links against VOLMIRAX.lib with an MSVC-style linker and no C runtime. */
#define VOLMIRAX_NO_WINDOWS_H
#include "volmirax.h"

int mainCRTStartup(void)
{
    HANDLE none = 0;
    unsigned char v[4];
    /* each call returns at once without a port: -101, -101, 0 */
    if (SendEot(0, 5) != ERR_NO_PORT || GetMachineVersion(0, v) != ERR_NO_PORT || CloseComm(&none) != 0)
        return 1;
    if (SendCmd(0, v, 2, 0, 0, 1, 1, 1) != ERR_NO_PORT || ReSet(0, 0, 0, 0, 0, 0, 0, 0, 0) != ERR_NO_PORT)
        return 1;
    if (EjectCard(0, 0) != ERR_NO_PORT || OpenComm(0, 9600) != 0)
        return 1;
    return 42;
}
