#include "capture_listing.h"

#include <cstdio>
#include <map>
#include <set>

#include "printable.h"
#include "volmirax_codes.h"

namespace {

std::string Result(int rc)
{
    const VolmiraxCode *c = VolmiraxFindCode(rc);
    if (rc == 0)
        return "0 OK";
    return std::to_string(rc) + " " + (c ? c->name : "(device status)");
}

std::string Line(double seconds, const char *label, const std::string &text)
{
    char head[32];
    snprintf(head, sizeof head, "%9.3f  %-8s  ", seconds, label);
    return head + text;
}

}  // namespace

void CaptureListing::Add(const CaptureEvent &e, std::vector<std::string> &out)
{
    if (e.kind == CaptureEvent::HEADER) {
        latestSession_ = e.session;
        out.push_back("# " + Printable(e.writer) + (e.version.empty() ? "" : " " + Printable(e.version)) +
                      (e.port.empty() ? "" : ", " + Printable(e.port)) +
                      (e.baud ? ", " + std::to_string(e.baud) + " baud" : "") +
                      (e.pid ? ", process " + std::to_string(e.pid) : "") +
                      (e.wallUs ? ", started " + WallClockText(e.wallUs) : ""));
        return;
    }
    if (e.kind == CaptureEvent::DAMAGED) {
        ++skipped_;
        out.push_back("!! line " + std::to_string(e.line) + " skipped: " + Printable(e.reason));
        return;
    }
    const double s = e.t / 1e6;
    const int key = e.portId;
    if (!ports_.count(key))
        ports_.emplace(key, ++portsIn_[e.session]);
    // the lines of a process other than the one whose header came last
    // (several processes writing one file) say whose they are
    std::string where = portsIn_[e.session] > 1 ? "  [port " + std::to_string(ports_[key]) + "]" : "";
    if (e.session != latestSession_ && e.pid != 0)
        where += "  [process " + std::to_string(e.pid) + "]";
    switch (e.kind) {
    case CaptureEvent::OPEN:
        out.push_back(Line(s, "open", Printable(e.port) + " at " + std::to_string(e.baud) + " baud" +
                                          (e.rc ? ": failed, system error " + std::to_string(e.rc) : "") + where));
        break;
    case CaptureEvent::CLOSE:
        out.push_back(Line(s, "close", std::string(e.rc ? "closed" : "not closed") + where));
        break;
    case CaptureEvent::CALL: {
        std::string text = Printable(e.fn);
        if (!e.bytes.empty())
            text += " " + HexOf(e.bytes);
        if (e.ack >= 0)
            text += ", time-outs " + std::to_string(e.ack) + "/" + std::to_string(e.reply) + "/" + std::to_string(e.eot) + " ms";
        else if (e.eot >= 0)
            text += ", time-out " + std::to_string(e.eot) + " ms";
        out.push_back(Line(s, "call", text + where));
        break;
    }
    case CaptureEvent::TX:
    case CaptureEvent::RX: {
        const bool tx = e.kind == CaptureEvent::TX;
        for (const auto &m : decoders_[key].Feed(tx ? LineDecoder::HOST_TO_DEVICE : LineDecoder::DEVICE_TO_HOST, e.bytes))
            out.push_back(TraceLine(s, tx ? "host>dev" : "dev>host", m.bytes, m.meaning) + where);
        break;
    }
    case CaptureEvent::TIMEOUT:
        out.push_back(Line(s, "timeout", "no " + std::string(e.wait == "ack" ? "acknowledgement" : e.wait == "reply" ? "whole reply" : e.wait == "echo" ? "abort echo" : Printable(e.wait)) +
                                             " within " + std::to_string(e.ms) + " ms" + where));
        break;
    case CaptureEvent::RESULT: {
        char took[32];
        snprintf(took, sizeof took, "%.1f", e.us / 1000.0);
        out.push_back(Line(s, "result", Printable(e.fn) + ": " + Result(e.rc) + " in " + took + " ms" + where));
        break;
    }
    case CaptureEvent::NOTE:
        out.push_back(Line(s, "note", Printable(e.reason) + where));
        break;
    case CaptureEvent::LINE:
        out.push_back(Line(s, "line", "the host set " + std::to_string(e.baud) + " baud" + where));
        break;
    default: break;
    }
}

void CaptureListing::End(std::vector<std::string> &out) const
{
    if (skipped_ > 0)
        out.push_back("!! " + std::to_string(skipped_) + " line" + (skipped_ == 1 ? "" : "s") +
                      " could not be read and were skipped; the exchanges they touched are marked damaged");
}

std::vector<std::string> ListCapture(const Capture &capture)
{
    std::vector<std::string> out;
    CaptureListing listing;
    for (const CaptureEvent &e : capture.events)
        listing.Add(e, out);
    listing.End(out);
    return out;
}
