// The port handle of the POSIX build: a record that CloseComm frees. The
// host sees only an opaque handle.
#ifndef VOLMIRAX_POSIX_PORT_H
#define VOLMIRAX_POSIX_PORT_H

#include "volmirax.h"

enum { READ_AHEAD_SIZE = 4096 };  // the size of the terminal driver's own input queue

struct PosixPort {
    int fd;
    unsigned byteUs;  // time one byte takes at the line's rate
    int gone;         // the last read found the line hung up or failing
    // Bytes read from the driver but not yet handed out: [start, end). The
    // driver's queue is read empty into it, so that poll() sleeps until
    // more comes.
    unsigned start, end;
    unsigned char ahead[READ_AHEAD_SIZE];
};

static inline PosixPort *PortRecord(HANDLE port) { return (PosixPort *)port; }

#endif
