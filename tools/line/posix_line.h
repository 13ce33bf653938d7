// Serial lines and pseudo-terminals as the Linux tools use them: the
// simulator's line, the tap's two sides, the reference host's port.
#ifndef VOLMIRAX_POSIX_LINE_H
#define VOLMIRAX_POSIX_LINE_H

#include <string>

#include <termios.h>

// Raw mode: no echo, no line editing, no translation, 8 bits, reads that
// return what is there.
void SetRaw(int fd);

// A new pseudo-terminal: the master non-blocking, the slave held open by
// its maker (so that the master never sees a hang-up between two hosts, and
// the host's settings can be read from it) and raw.
struct PseudoTerminal {
    int master = -1;
    int slave = -1;
    std::string path;  // of the slave: what a host opens
};
bool OpenPseudoTerminal(PseudoTerminal &p);
void ClosePseudoTerminal(PseudoTerminal &p);

// Opens a terminal device read-write and non-blocking, held exclusively as
// the library holds a port (a lock, then the terminal's exclusive mode):
// the descriptor, or -1 with the reason in errno (ENOTTY for something
// that is not a terminal, EBUSY for a device held by another open).
int OpenExclusive(const std::string &path);

// The rate of a standard termios speed up to 115200; 0 for any other.
int BaudOfSpeed(speed_t speed);

// Points `link` at `target` in one step (a link made beside it, then moved
// over it): false with errno set.
bool ReplaceLink(const std::string &target, const std::string &link);

#endif
