#include "link/port_settings.h"

#include <stdio.h>

#define VOLMIRAX_RATE_VALUE(rate) rate,
static const int kSupportedBauds[] = {VOLMIRAX_LINE_RATES(VOLMIRAX_RATE_VALUE)};
#undef VOLMIRAX_RATE_VALUE

int SupportedBaud(int baud)
{
    for (unsigned i = 0; i < sizeof kSupportedBauds / sizeof kSupportedBauds[0]; ++i)
        if (kSupportedBauds[i] == baud)
            return baud;
    return DEFAULT_LINE_RATE;
}

void BuildModeString(int baud, char mode[MODE_STRING_SIZE])
{
    snprintf(mode, MODE_STRING_SIZE, "%d,n,8,1", SupportedBaud(baud));
}
