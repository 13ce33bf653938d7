// A capture played as the device (devsim --replay): the host's sequences
// are compared with the recorded ones and answered with the device's
// recorded bytes after the recorded delays, each measured from the end of
// the host's sequence it answered. Silence, late answers, split replies,
// bad block checks and echoes replay as they happened.
#ifndef VOLMIRAX_DEVSIM_REPLAY_H
#define VOLMIRAX_DEVSIM_REPLAY_H

#include <string>
#include <vector>

#include "capture.h"
#include "device.h"

namespace devsim {

class Replay {
public:
    // The script of the capture's one port (a capture of several ports is
    // refused). `loose`: a command frame is answered by the next recorded
    // exchange with its command code and parameter, in recorded order,
    // instead of being required to be the next one.
    bool Load(const Capture &capture, bool loose, std::string &error);

    // Bytes from the host as they arrived at `now` (µs); the answers they
    // call for go into `out`. A sequence other than the recording's is
    // told on standard error with where it was and what was expected; from
    // there on a strict replay answers nothing.
    void Receive(const Bytes &bytes, int64_t now, std::vector<Output> &out);

    // The host did not follow the recording, reached a damaged exchange, or
    // stopped before every recorded sequence was answered (unless
    // `allowPrefix`: then stopping early is no failure).
    bool Failed(bool allowPrefix = false) const;
    // How many were answered and, when not all, the first not reached.
    std::string Summary() const;
    std::vector<std::string> reports;  // what went differently, in order

private:
    struct Answer {
        int64_t delayUs;
        Bytes bytes;
    };
    struct Step {
        HostSplitter::Kind kind;
        Bytes host;
        int exchange;  // from 1: the command frame it follows
        std::vector<Answer> answers;
        bool used = false;
        std::string damaged;  // "line N: reason" when a damaged line touched its exchange
    };
    void MarkDamaged(int exchange, const std::string &why);
    void OnSequence(HostSplitter::Kind kind, const Bytes &host, int64_t now, std::vector<Output> &out);
    void Answer_(Step &step, int64_t now, std::vector<Output> &out);
    void Report(const std::string &what, bool fails);

    std::vector<Step> steps_;
    size_t next_ = 0;  // the step the host's next sequence must be
    HostSplitter splitter_;
    bool loose_ = false, failed_ = false, stopped_ = false;
    int commandsSeen_ = 0;
    size_t answered_ = 0;
};

}  // namespace devsim

#endif
