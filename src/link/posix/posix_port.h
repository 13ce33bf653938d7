// The per-port record of the POSIX build, and the table of open ports
// that hands out the host's handles. A handle is an opaque value (a slot
// of the table and the slot's generation), never the record's address: a
// handle that is not a live port (garbage, a copy of a closed one, one
// closed twice) is found to be so on every call, and a stale handle never
// drives the port that reuses its slot.
#ifndef VOLMIRAX_POSIX_PORT_H
#define VOLMIRAX_POSIX_PORT_H

#include "volmirax.h"

enum { READ_AHEAD_SIZE = 4096 };  // the size of the terminal driver's own input queue

struct PosixPort {
    int fd;
    unsigned byteUs;  // time one byte takes at the line's rate
    int gone;         // the last read found the line hung up or failing
    // Readable once the port has been closed while an operation was inside
    // it, so that a thread asleep in poll() on the line wakes at once (an
    // eventfd kept with the record; -1 when none could be made).
    int wakeFd;
    // Bytes read from the driver but not yet handed out: [start, end). The
    // driver's queue is read empty into it, so that poll() sleeps until
    // more comes.
    unsigned start, end;
    unsigned char ahead[READ_AHEAD_SIZE];
};

// A free record for a port being opened (null with errno EMFILE when the
// table is full or ENOMEM); AddPort then makes it live and gives its
// handle.
PosixPort *ReservePort(void);
HANDLE AddPort(PosixPort *port);

// The record of a live port, held for one link operation until LeavePort
// (which every non-null UsePort is paired with), or null with errno EBADF.
PosixPort *UsePort(HANDLE handle);
void LeavePort(HANDLE handle);

// Whether the handle is still live (between two steps of an operation, a
// port may have been closed by another thread): 0 with errno EBADF when not.
int StillOpen(HANDLE handle);

enum { PORT_CLOSED_LATER = -2 };

// Takes the port out of the table (its handle is dead from here on) and
// gives its descriptor for the caller to close; PORT_CLOSED_LATER when an
// operation is still inside the record (the device is let go at once and
// the last operation closes the descriptor); -1 with errno EBADF when
// `handle` is not live.
int RemovePort(HANDLE handle);

#endif
