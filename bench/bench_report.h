// The benchmark's table from the raw lines of several runs (see bench.cpp).
#ifndef VOLMIRAX_BENCH_REPORT_H
#define VOLMIRAX_BENCH_REPORT_H

int BenchReport(const char *file);

#endif
