// The volmirax tool's commands. Each takes its own options and words from
// the split command line, refuses anything else (status 2, the library not
// called), and returns the tool's exit status.
#ifndef VOLMIRAX_COMMANDS_H
#define VOLMIRAX_COMMANDS_H

#include "command_line.h"

// version, reset, eject, send, eot: one call on an opened port; ports.
int DeviceCommand(const CommandLine &line);

#ifndef _WIN32
// tap: tap.h. trace, report: a capture listed, or written as a page.
int TapCommand(const CommandLine &line);
int TraceCommand(const CommandLine &line);
int ReportCommand(const CommandLine &line);
#endif

#endif
