// Where the trace's lines go: what a platform provides to trace.cpp
// (link/windows/trace_sink_win32.cpp, link/posix/trace_sink_posix.cpp; the
// unit tests and the fuzzer keep the lines in memory).
#ifndef VOLMIRAX_TRACE_SINK_H
#define VOLMIRAX_TRACE_SINK_H

#include <stdint.h>

// Once per process: reads VOLMIRAX_TRACE and VOLMIRAX_TRACE_MAX, opens the
// file for appending and writes the header. 1 when the trace is on. A file
// that cannot be opened is said once through the platform's channel for a
// library's messages, and the trace stays off.
int TraceSinkStart(void);

// Appends whole lines under the process's trace lock, at once (nothing is
// held back in a buffer). Once the file has passed its size limit, it is
// first moved to PATH.1 (replacing the older one) and a new file is
// started with a header.
void TraceSinkWrite(const char *lines, unsigned length);

// The file's size limit in bytes from VOLMIRAX_TRACE_MAX's text (megabytes,
// decimals allowed; null, empty or not a positive number: 32 MB). In
// trace.cpp, for every platform's sink.
long long TraceLimitBytes(const char *megabytes);

// Microseconds from the platform's high-resolution monotonic clock.
int64_t TraceSinkClockUs(void);

// What writes the trace: "VOLMIRAX.dll (32-bit)", "libvolmirax.so", ...
const char *TraceSinkWriter(void);

#endif
