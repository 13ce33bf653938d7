#include "fake_trace_sink.h"

#include "fake_link.h"
#include "trace/trace_sink.h"

std::string g_traceText;

std::vector<std::string> g_traceWrites;

int TraceSinkStart(const char *port, int baud)
{
    TraceNameHeader(port, baud);
    return 1;
}

void TraceSinkWrite(const char *lines, unsigned length)
{
    g_traceText.append(lines, length);
    g_traceWrites.emplace_back(lines, length);
}

unsigned long TraceSinkProcessId(void) { return 4242; }

int64_t TraceSinkClockUs(void) { return g_link ? static_cast<int64_t>(g_link->now) * 1000 : 0; }

// 2026-12-11T08:00:00Z
int64_t TraceSinkWallStartUs(void) { return 1796976000000000LL; }

const char *TraceSinkWriter(void) { return "unit tests"; }
