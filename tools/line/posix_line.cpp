#include "posix_line.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>


void SetRaw(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

bool OpenPseudoTerminal(PseudoTerminal &p)
{
    p.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0)
        return false;
    p.path = ptsname(p.master);
    p.slave = open(p.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.slave < 0)
        return false;
    SetRaw(p.slave);
    return true;
}

void ClosePseudoTerminal(PseudoTerminal &p)
{
    if (p.slave >= 0)
        close(p.slave);
    if (p.master >= 0)
        close(p.master);
    p.slave = p.master = -1;
}

int OpenExclusive(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int reason = 0;
    if (!isatty(fd))
        reason = ENOTTY;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        reason = EBUSY;
    if (reason != 0) {
        close(fd);
        errno = reason;
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

int BaudOfSpeed(speed_t speed)
{
    // every standard rate of termios up to 115200
    static const struct {
        speed_t speed;
        int baud;
    } kSpeeds[] = {{B50, 50},       {B75, 75},       {B110, 110},     {B134, 134},   {B150, 150},
                   {B200, 200},     {B300, 300},     {B600, 600},     {B1200, 1200}, {B1800, 1800},
                   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},   {B19200, 19200},
                   {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto &s : kSpeeds)
        if (s.speed == speed)
            return s.baud;
    return 0;
}

bool ReplaceLink(const std::string &target, const std::string &link)
{
    const std::string fresh = link + ".new";
    unlink(fresh.c_str());
    return symlink(target.c_str(), fresh.c_str()) == 0 && rename(fresh.c_str(), link.c_str()) == 0;
}
