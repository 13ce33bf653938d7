// The supported rates as termios speeds.
#ifndef VOLMIRAX_POSIX_SPEED_H
#define VOLMIRAX_POSIX_SPEED_H

#include <termios.h>

static const struct {
    speed_t speed;
    int baud;
} kPosixSpeeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                    {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};

// The speed of a supported rate; 9600 for any other.
static inline speed_t SpeedOfBaud(int baud)
{
    for (const auto &s : kPosixSpeeds)
        if (s.baud == baud)
            return s.speed;
    return B9600;
}

// The rate of a speed; 9600 for one not in the table.
static inline int BaudOfSpeed(speed_t speed)
{
    for (const auto &s : kPosixSpeeds)
        if (s.speed == speed)
            return s.baud;
    return 9600;
}

#endif
