// A capture as the decoded, timestamped listing that the simulator and the
// tap print: one line a sequence on the wire, with the calls, time-outs and
// results between them where the capture has them.
#ifndef VOLMIRAX_CAPTURE_LISTING_H
#define VOLMIRAX_CAPTURE_LISTING_H

#include <map>
#include <string>
#include <vector>

#include "capture.h"

// The listing an event at a time: the lines of each event as it comes, and
// a last line about the damage at the end. It holds a decoder per port of
// the capture and nothing of what it has listed.
class CaptureListing {
public:
    void Add(const CaptureEvent &e, std::vector<std::string> &out);
    void End(std::vector<std::string> &out) const;

private:
    std::map<int, LineDecoder> decoders_;  // by port
    std::map<int, int> ports_;             // numbered in the order they appear in their session
    std::map<int, int> portsIn_;                   // how many ports each session has shown
    int latestSession_ = 0;
    size_t skipped_ = 0;
};

// A whole capture's listing.
std::vector<std::string> ListCapture(const Capture &capture);

#endif
