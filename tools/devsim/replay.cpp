#include "replay.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace devsim {

namespace {

std::string Told(const Bytes &b) { return HexOf(b) + " (" + Describe(b) + ")"; }

bool SameCommand(const Bytes &a, const Bytes &b)
{
    return a.size() > 3 && b.size() > 3 && a[2] == b[2] && a[3] == b[3];
}

}  // namespace

bool Replay::Load(const Capture &capture, bool loose, std::string &error)
{
    loose_ = loose;
    std::set<int> handles;  // ports of every process and session
    for (const CaptureEvent &e : capture.events)
        if (e.kind == CaptureEvent::TX || e.kind == CaptureEvent::RX)
            handles.insert(e.portId);
    if (handles.size() > 1) {
        error = "the capture has " + std::to_string(handles.size()) + " ports; a replay plays one device";
        return false;
    }
    HostSplitter splitter;
    int exchange = 0;
    int64_t endOfHost = 0;
    int session = 0;
    // after a damaged line, until the host's next whole sequence, the
    // answers cannot be placed: the exchange is marked, never guessed
    std::string damage;
    for (const CaptureEvent &e : capture.events) {
        if (e.session != session) {
            // a new session starts its own clock; a sequence cut by it is dropped
            session = e.session;
            splitter = HostSplitter();
        }
        if (e.kind == CaptureEvent::DAMAGED) {
            damage = "line " + std::to_string(e.line) + ": " + e.reason;
            splitter = HostSplitter();
            MarkDamaged(exchange, damage);
        } else if (e.kind == CaptureEvent::TX) {
            for (unsigned char c : e.bytes) {
                Bytes done;
                const HostSplitter::Kind kind = splitter.Add(c, done);
                if (kind == HostSplitter::PARTIAL)
                    continue;
                if (kind == HostSplitter::COMMAND)
                    ++exchange;
                endOfHost = e.t;
                steps_.push_back({kind, done, exchange, {}, false, {}});
                if (!damage.empty() && kind != HostSplitter::COMMAND)
                    MarkDamaged(exchange, damage);
                damage.clear();
            }
        } else if (e.kind == CaptureEvent::RX && !steps_.empty() && damage.empty()) {
            steps_.back().answers.push_back({std::max<int64_t>(0, e.t - endOfHost), e.bytes});
        }
    }
    if (steps_.empty()) {
        error = "the capture holds nothing the host sent";
        return false;
    }
    return true;
}

void Replay::MarkDamaged(int exchange, const std::string &why)
{
    for (Step &s : steps_)
        if (s.exchange == exchange && exchange > 0 && s.damaged.empty())
            s.damaged = why;
}

void Replay::Receive(const Bytes &bytes, int64_t now, std::vector<Output> &out)
{
    for (unsigned char c : bytes) {
        Bytes done;
        const HostSplitter::Kind kind = splitter_.Add(c, done);
        if (kind != HostSplitter::PARTIAL)
            OnSequence(kind, done, now, out);
    }
}

void Replay::OnSequence(HostSplitter::Kind kind, const Bytes &host, int64_t now, std::vector<Output> &out)
{
    if (kind == HostSplitter::COMMAND)
        ++commandsSeen_;
    const std::string where = "exchange " + std::to_string(commandsSeen_);
    if (stopped_)
        return;
    if (loose_) {
        if (kind == HostSplitter::COMMAND) {
            auto it = std::find_if(steps_.begin(), steps_.end(), [&](const Step &s) {
                return !s.used && s.kind == HostSplitter::COMMAND && SameCommand(s.host, host);
            });
            if (it == steps_.end()) {
                Report(where + ": no recorded exchange left for " + Told(host), true);
                next_ = steps_.size();
                return;
            }
            next_ = static_cast<size_t>(it - steps_.begin());
        } else if (next_ >= steps_.size() || steps_[next_].used || steps_[next_].host != host) {
            // not the next of its exchange: the first unused one like it
            auto it = std::find_if(steps_.begin(), steps_.end(), [&](const Step &s) {
                return !s.used && s.kind != HostSplitter::COMMAND && s.host == host;
            });
            if (it == steps_.end()) {
                Report(where + ": nothing recorded answers " + Told(host) + "; left unanswered", false);
                return;
            }
            next_ = static_cast<size_t>(it - steps_.begin());
        }
        Answer_(steps_[next_++], now, out);
        return;
    }
    if (next_ >= steps_.size()) {
        Report(where + ": the host sent " + Told(host) + " after the end of the recording", true);
        stopped_ = true;
        return;
    }
    Step &expected = steps_[next_];
    if (expected.host != host) {
        Report("exchange " + std::to_string(expected.exchange) + ": expected " + Told(expected.host) + ", received " +
                   Told(host),
               true);
        stopped_ = true;
        return;
    }
    ++next_;
    Answer_(expected, now, out);
}

void Replay::Answer_(Step &step, int64_t now, std::vector<Output> &out)
{
    step.used = true;
    if (!step.damaged.empty()) {
        Report("exchange " + std::to_string(step.exchange) + " is damaged in the capture (" + step.damaged +
                   "): not answered",
               true);
        return;
    }
    ++answered_;
    for (const Answer &a : step.answers)
        out.push_back({now + a.delayUs, a.bytes, false, Describe(a.bytes)});
}

void Replay::Report(const std::string &what, bool fails)
{
    failed_ = failed_ || fails;
    reports.push_back(what);
    fprintf(stderr, "devsim: replay: %s\n", what.c_str());
}

bool Replay::Failed(bool allowPrefix) const
{
    return failed_ || (!allowPrefix && answered_ < steps_.size());
}

std::string Replay::Summary() const
{
    std::string s = "devsim: replay: " + std::to_string(answered_) + " of " + std::to_string(steps_.size()) +
                    " recorded sequences of the host answered";
    if (failed_)
        s += "; the host did not follow the recording";
    auto first = std::find_if(steps_.begin(), steps_.end(), [](const Step &st) { return !st.used; });
    if (first != steps_.end())
        s += "; the first not reached: exchange " + std::to_string(first->exchange) + ", " + Told(first->host);
    return s;
}

}  // namespace devsim
