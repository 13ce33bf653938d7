// The trace's lines kept in memory, timed by the fake link's virtual clock
// (a millisecond of it is 1000 µs of the trace). A test switches the trace
// on and off with g_traceOn.
#ifndef VOLMIRAX_FAKE_TRACE_SINK_H
#define VOLMIRAX_FAKE_TRACE_SINK_H

#include <string>
#include <vector>

#include "trace/trace.h"

extern std::string g_traceText;                // every line written, in order
extern std::vector<std::string> g_traceWrites;  // each write of the sink

#endif
