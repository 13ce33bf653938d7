// A capture as the decoded, timestamped listing that the simulator and the
// tap print: one line a sequence on the wire, with the calls, time-outs and
// results between them where the capture has them.
#ifndef VOLMIRAX_CAPTURE_LISTING_H
#define VOLMIRAX_CAPTURE_LISTING_H

#include <string>
#include <vector>

#include "capture.h"

std::vector<std::string> ListCapture(const Capture &capture);

#endif
