#ifndef VOLMIRAX_DEVSIM_PTY_LINE_H
#define VOLMIRAX_DEVSIM_PTY_LINE_H

#include <string>

#include "posix_line.h"

// The slave side is held open by the simulator, so that the master never
// sees a hang-up between hosts.
using Pty = PseudoTerminal;

// A new pseudo-terminal, with `link` (if not empty) pointing at its slave.
bool OpenPty(Pty &p, const std::string &link);
void ClosePty(Pty &p);
// A host that died with the line open leaves it in exclusive mode, so that
// only root could open it again: clears that mode when no live open holds
// the line.
void ReleaseOrphanedExclusive(const Pty &p);
// A descriptor that becomes readable whenever a host closes the line (or
// dies with it open), so that the exclusive mode it leaves is cleared at
// once, before the next host opens: -1 when the system cannot watch it.
// ForgetCloses reads what it says and readies it for the next.
int WatchCloses(const Pty &p);
void ForgetCloses(int watch);
// The line settings the host has set, as "baud=9600 bits=8 parity=0 ...".
std::string LineReport(int fd);

#endif
