// A minimal poll-and-read host (Linux): the same exchange as the library,
// written the plainest way, with nothing of the library's code. The
// benchmark measures it in the same run as the builds, as the yardstick for
// reaction time and CPU.
#ifndef VOLMIRAX_BENCH_REFERENCE_HOST_H
#define VOLMIRAX_BENCH_REFERENCE_HOST_H

#include "library.h"

// Fills `lib` with the reference host's functions.
void UseReferenceHost(Library &lib);

#endif
