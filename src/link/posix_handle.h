// The port handle of the POSIX build carries the descriptor, offset by one
// so that descriptor 0 is not the null handle.
#ifndef VOLMIRAX_POSIX_HANDLE_H
#define VOLMIRAX_POSIX_HANDLE_H

#include <stdint.h>

#include "volmirax.h"

static inline int PortDescriptor(HANDLE port) { return (int)((intptr_t)port - 1); }
static inline HANDLE PortHandle(int fd) { return (HANDLE)((intptr_t)fd + 1); }

#endif
