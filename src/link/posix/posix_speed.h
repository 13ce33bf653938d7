// The supported rates as termios speeds.
#ifndef VOLMIRAX_POSIX_SPEED_H
#define VOLMIRAX_POSIX_SPEED_H

#include <termios.h>

#include "link/port_settings.h"

// The termios speed of a supported rate (as SupportedBaud gives it).
static inline speed_t SpeedOfBaud(int baud)
{
    switch (SupportedBaud(baud)) {
#define VOLMIRAX_SPEED_CASE(rate) case rate: return B##rate;
        VOLMIRAX_LINE_RATES(VOLMIRAX_SPEED_CASE)
#undef VOLMIRAX_SPEED_CASE
    }
    return B9600;
}

#endif
