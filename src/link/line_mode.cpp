#include "line_mode.h"

#include <stdio.h>

static const int kSupportedBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

int SupportedBaud(int baud)
{
    for (unsigned i = 0; i < sizeof kSupportedBauds / sizeof kSupportedBauds[0]; ++i)
        if (kSupportedBauds[i] == baud)
            return baud;
    return 9600;
}

void BuildModeString(int baud, char mode[MODE_STRING_SIZE])
{
    snprintf(mode, MODE_STRING_SIZE, "%d,n,8,1", SupportedBaud(baud));
}
