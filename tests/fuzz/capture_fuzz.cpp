// The capture reader, the listing, the report page and the replay's script
// with any input as the capture: refused or read, never a crash nor an
// overflow. A capture that reads is listed, reported, loaded as a replay and
// replayed to its own host's bytes.
#include <cstdint>
#include <sstream>
#include <string>

#include "capture.h"
#include "capture_listing.h"
#include "replay.h"
#include "report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
    Capture capture;
    std::string error;
    if (!ReadCapture(in, capture, error)) {
        if (error.compare(0, 5, "line ") != 0)
            abort();  // every refusal says where
        return 0;
    }
    ListCapture(capture);
    ReportPage("fuzz", capture);
    devsim::Replay replay;
    if (!replay.Load(capture, size % 2 == 1, error))
        return 0;
    std::vector<devsim::Output> out;
    for (const CaptureEvent &e : capture.events)
        if (e.kind == CaptureEvent::TX)
            replay.Receive(e.bytes, e.t, out);
    return 0;
}
