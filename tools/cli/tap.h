// volmirax tap: sits between a host and a real device on Linux.
#ifndef VOLMIRAX_TAP_H
#define VOLMIRAX_TAP_H

#include <cstdio>
#include <string>

// Makes a pseudo-terminal for the host, linked at `link`, opens `device`
// exclusively, and forwards every byte both ways, following the line
// settings that the host sets; prints a decoded, timestamped trace of the
// traffic to the descriptor `trace` (-1: none), and with `record` not empty
// writes the traffic to that file as a capture (a file that exists is
// refused, as an existing `link` is; once it passes `recordLimit` bytes it
// moves to RECORD.1 and a new one starts, as the library's trace does). The trace never holds up the relay or
// the signals: it is written only as fast as its reader takes it, held up
// to 1 MiB meanwhile, and lines past that are dropped, counted, and said
// at the end and in the recording. Each direction keeps flowing whatever the other does:
// bytes that a side does not read are held up to 64 KiB, then dropped and
// counted in the trace.
//
// Runs until SIGINT, SIGTERM, SIGHUP or SIGPIPE, or until the device goes.
// Every ending removes the link and gives the device back its settings, not
// exclusive. Returns the exit status: 0 after a signal, 1 when the device
// has gone, 2 when `link` exists and is not a stale link of a tap or
// `record` exists, 3 when the device does not open (each with a message on
// standard error).
int RunTap(const std::string &device, const std::string &link, const std::string &record, long long recordLimit,
           int trace);

#endif
