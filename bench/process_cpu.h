// The CPU an exchange costs: the benchmark's own process and, under Wine,
// the Wine server that serves its prefix, which does the work of the Win32
// calls the process makes. The simulator's is never counted.
#ifndef VOLMIRAX_BENCH_PROCESS_CPU_H
#define VOLMIRAX_BENCH_PROCESS_CPU_H

#include <string>

struct CpuReading {
    double hostMs;
    double serverMs;  // under Wine; 0 elsewhere
};

// Finds what is to be counted: true, with what beyond the process is
// counted in `said` (empty: nothing), or false with the reason (under
// Wine: no server, or more than one, for this prefix), so that a run never
// reports the process alone as the whole.
bool OpenCpuCounters(std::string &said);

// Whether a Wine server is counted.
bool CountsServer();

CpuReading ReadCpu();

#endif
