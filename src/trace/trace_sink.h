// Where the trace's lines go: what a platform provides to trace.cpp
// (trace_sink_win32.cpp or trace_sink_posix.cpp beside it, chosen by the
// build; the unit tests and the fuzzer keep the lines in memory).
#ifndef VOLMIRAX_TRACE_SINK_H
#define VOLMIRAX_TRACE_SINK_H

#include <stdint.h>

// Once per process, whichever thread comes first: names the header after
// `port` and `baud` (TraceNameHeader), reads VOLMIRAX_TRACE and
// VOLMIRAX_TRACE_MAX, opens the file for appending and writes the header.
// 1 when the trace is on. A path that cannot be opened, or is not a
// regular file (a symbolic link, a FIFO, a device), is said once through
// the platform's channel for a library's messages, and the trace stays
// off.
int TraceSinkStart(const char *port, int baud);

// Appends whole lines under the process's trace lock, in one write of the
// system (nothing is held back in a buffer), so that lines of other threads
// and processes never land inside them. After a write that the disk cut
// short, the next write starts on a line of its own. Once the file has
// passed its size limit, it is first moved to PATH.1 (replacing the older
// one) and a new file is started with a header.
void TraceSinkWrite(const char *lines, unsigned length);

// The file's size limit in bytes from VOLMIRAX_TRACE_MAX's text: megabytes,
// decimals allowed, more than 0 and at most TRACE_MAX_MB. Null or empty:
// 32 MB. Anything else is refused (`*refused` set) and gives 32 MB too.
// In trace.cpp, for every platform's sink.
enum { TRACE_DEFAULT_MB = 32, TRACE_MAX_MB = 1024 * 1024 };
long long TraceLimitBytes(const char *megabytes, int *refused);

// The process's identity, written in the header and on every line, so that
// the lines of several processes tracing to one file can be told apart.
unsigned long TraceSinkProcessId(void);

// Microseconds from the platform's high-resolution monotonic clock, 0 when
// the trace started.
int64_t TraceSinkClockUs(void);

// The wall clock when the trace started: microseconds since 1970-01-01 UTC
// (the time 0 of every line), written in each header.
int64_t TraceSinkWallStartUs(void);

// What writes the trace: "VOLMIRAX.dll (32-bit)", "libvolmirax.so", ...
const char *TraceSinkWriter(void);

#endif
