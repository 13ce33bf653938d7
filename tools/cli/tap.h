// volmirax tap: sits between a host and a real device on Linux.
#ifndef VOLMIRAX_TAP_H
#define VOLMIRAX_TAP_H

#include <cstdio>
#include <string>

// Makes a pseudo-terminal for the host, linked at `link`, opens `device`,
// and forwards every byte both ways, following the line settings that the
// host sets; prints a decoded, timestamped trace of the traffic to `trace`.
// Runs until interrupted; returns the exit status (3 when the device does
// not open, with a message on standard error).
int RunTap(const std::string &device, const std::string &link, FILE *trace);

#endif
