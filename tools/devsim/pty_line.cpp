// The simulator's end of the line: a pseudo-terminal whose slave side the
// host opens, and what the host has set on it.
#include "pty_line.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>


bool OpenPty(Pty &p, const std::string &link)
{
    if (!OpenPseudoTerminal(p))
        return false;
    termios t;
    tcgetattr(p.slave, &t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(p.slave, TCSANOW, &t);
    return link.empty() || ReplaceLink(p.path, link);
}

void ReleaseOrphanedExclusive(const Pty &p)
{
    int exclusive = 0;
    if (ioctl(p.slave, TIOCGEXCL, &exclusive) != 0 || !exclusive)
        return;
    // Whoever holds the line exclusively also holds its lock (the library
    // and the tap take the lock first), and a lock goes with its holder. A
    // lock that this end can take is nobody's: the holder has died.
    if (flock(p.slave, LOCK_EX | LOCK_NB) != 0)
        return;
    ioctl(p.slave, TIOCNXCL);
    flock(p.slave, LOCK_UN);
}

int WatchCloses(const Pty &p)
{
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch >= 0 && inotify_add_watch(watch, p.path.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        close(watch);
        return -1;
    }
    return watch;
}

void ForgetCloses(int watch)
{
    char events[4096];
    while (watch >= 0 && read(watch, events, sizeof events) > 0) {
    }
}

void ClosePty(Pty &p) { ClosePseudoTerminal(p); }

std::string LineReport(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return "error";
    const int baud = BaudOfSpeed(cfgetospeed(&t));  // 0 for a speed termios does not name
    int bits = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7 : 0;
    char out[160];
    snprintf(out, sizeof out, "baud=%d bits=%d parity=%d stop=%d crtscts=%d ixon=%d icanon=%d echo=%d",
             baud, bits, (t.c_cflag & PARENB) ? 1 : 0, (t.c_cflag & CSTOPB) ? 2 : 1,
             (t.c_cflag & CRTSCTS) ? 1 : 0, (t.c_iflag & IXON) ? 1 : 0, (t.c_lflag & ICANON) ? 1 : 0,
             (t.c_lflag & ECHO) ? 1 : 0);
    return out;
}

