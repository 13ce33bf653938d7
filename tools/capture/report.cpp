#include "report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "json_text.h"
#include "report_assets.h"

namespace {

std::string Html(const std::string &s)
{
    std::string o;
    for (char c : s) {
        switch (c) {
        case '<': o += "&lt;"; break;
        case '>': o += "&gt;"; break;
        case '&': o += "&amp;"; break;
        case '"': o += "&quot;"; break;
        default: o += c;
        }
    }
    return o;
}

std::string Fixed(double v, int decimals)
{
    char b[32];
    snprintf(b, sizeof b, "%.*f", decimals, v);
    return b;
}

std::string ByteLabel(int b)
{
    if (b < 0)
        return "";
    if (b > 0x20 && b < 0x7F && b != '"' && b != '\\')
        return std::string(1, (char)b);
    char h[16];
    snprintf(h, sizeof h, "0x%02X", (unsigned)b & 0xFF);
    return h;
}

std::string Command(const ExchangeRecord &x)
{
    if (x.code < 0)
        return x.fn.empty() ? "(none)" : x.fn;
    return "\"" + ByteLabel(x.code) + "\" \"" + ByteLabel(x.param) + "\"";
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[(size_t)(p * (double)(v.size() - 1))];
}

// A histogram of delays (ms) with the time-outs the host gave as limits.
std::string Histogram(const std::string &title, const std::vector<double> &values, const std::map<int, int> &timeouts)
{
    const int W = 460, H = 150, left = 36, bottom = 126, bins = 24;
    double hi = values.empty() ? 1 : *std::max_element(values.begin(), values.end());
    for (auto &t : timeouts)
        hi = std::max(hi, (double)t.first);
    hi = hi * 1.05 + 1e-9;
    std::vector<int> count(bins, 0);
    for (double v : values)
        ++count[std::min(bins - 1, (int)(v / hi * bins))];
    const int most = std::max(1, *std::max_element(count.begin(), count.end()));
    const double bw = (double)(W - left - 10) / bins;
    std::string svg = "<svg class=\"hist\" width=\"" + std::to_string(W) + "\" height=\"" + std::to_string(H) +
                      "\" role=\"img\" aria-label=\"" + Html(title) + "\">";
    svg += "<text x=\"" + std::to_string(left) + "\" y=\"12\" class=\"t\">" + Html(title) + "</text>";
    for (int i = 0; i < bins; ++i) {
        if (count[i] == 0)
            continue;
        const double h = (double)count[i] / most * (bottom - 22);
        svg += "<rect class=\"bar\" x=\"" + Fixed(left + i * bw + 0.5, 1) + "\" y=\"" + Fixed(bottom - h, 1) +
               "\" width=\"" + Fixed(bw - 1, 1) + "\" height=\"" + Fixed(h, 1) + "\"><title>" + std::to_string(count[i]) +
               " between " + Fixed(i * hi / bins, 1) + " and " + Fixed((i + 1) * hi / bins, 1) + " ms</title></rect>";
    }
    svg += "<line class=\"axis\" x1=\"" + std::to_string(left) + "\" y1=\"" + std::to_string(bottom) + "\" x2=\"" +
           std::to_string(W - 10) + "\" y2=\"" + std::to_string(bottom) + "\"/>";
    for (int k = 0; k <= 4; ++k) {
        const double x = left + (W - left - 10) * k / 4.0;
        svg += "<text class=\"tick\" x=\"" + Fixed(x, 1) + "\" y=\"" + std::to_string(bottom + 14) + "\"" +
               (k == 4 ? " style=\"text-anchor:end\"" : "") + ">" + Fixed(hi * k / 4, 0) + (k == 4 ? " ms" : "") + "</text>";
    }
    for (auto &t : timeouts) {
        const double x = left + (W - left - 10) * (double)t.first / hi;
        svg += "<line class=\"limit\" x1=\"" + Fixed(x, 1) + "\" y1=\"18\" x2=\"" + Fixed(x, 1) + "\" y2=\"" +
               std::to_string(bottom) + "\"/><text class=\"limit\" x=\"" + Fixed(x - 3, 1) +
               "\" y=\"28\" text-anchor=\"end\">time-out " + std::to_string(t.first) + " ms (" + std::to_string(t.second) +
               ")</text>";
    }
    if (!values.empty()) {
        for (auto p : {std::make_pair("p50", 0.5), std::make_pair("p95", 0.95), std::make_pair("max", 1.0)}) {
            const double v = Percentile(values, p.second);
            const double x = left + (W - left - 10) * v / hi;
            svg += "<line class=\"pct\" x1=\"" + Fixed(x, 1) + "\" y1=\"20\" x2=\"" + Fixed(x, 1) + "\" y2=\"" +
                   std::to_string(bottom) + "\"><title>" + p.first + " " + Fixed(v, 1) + " ms</title></line>";
        }
    }
    return svg + "</svg>";
}

std::string Stats(const std::vector<double> &v)
{
    if (v.empty())
        return "<td>0</td><td></td><td></td><td></td>";
    return "<td>" + std::to_string(v.size()) + "</td><td>" + Fixed(Percentile(v, 0.5), 1) + "</td><td>" +
           Fixed(Percentile(v, 0.95), 1) + "</td><td>" + Fixed(Percentile(v, 1.0), 1) + "</td>";
}

}  // namespace

std::string ReportPage(const std::string &source, const Capture &capture)
{
    const std::vector<ExchangeRecord> xs = SplitExchanges(capture);
    std::string writer;
    for (const CaptureEvent &e : capture.events)
        if (e.kind == CaptureEvent::HEADER && writer.empty())
            writer = e.writer + (e.version.empty() ? "" : " " + e.version);
    std::string page;
    page.reserve(256 + xs.size() * 160);
    page += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
            "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
            "script-src 'unsafe-inline'; img-src data:\">\n"
            "<meta name=\"viewport\" content=\"width=device-width\">\n<title>Line report: " + Html(source) +
            "</title>\n<style>" + kStyle + "</style></head><body>\n";
    const int64_t span = xs.empty() ? 0 : xs.back().start - xs.front().start;
    page += "<h1>Line report</h1><p class=\"meta\">" + Html(source) + " · " + Html(writer) + " · <span id=\"count\">" +
            std::to_string(xs.size()) + "</span> exchanges over " + Fixed(span / 1e6, 1) + " s</p>\n";
    if (!capture.skipped.empty()) {
        page += "<p class=\"damage\">The capture is damaged: <span id=\"skipped\">" + std::to_string(capture.skipped.size()) +
                "</span> line" + (capture.skipped.size() == 1 ? "" : "s") +
                " could not be read and were skipped; the exchanges they touched are marked damaged. First: " +
                Html(capture.skipped.front()) + "</p>\n";
    }
    if (xs.empty()) {
        page += "<p id=\"empty\">This capture holds no exchanges.</p></body></html>\n";
        return page;
    }

    // Summary: exchanges by command code and parameter, counts of each outcome.
    std::set<std::string> outcomes;
    std::map<std::pair<int, int>, std::map<std::string, int>> byCommand;
    std::map<std::pair<int, int>, std::string> names;
    for (const ExchangeRecord &x : xs) {
        outcomes.insert(x.outcome);
        ++byCommand[{x.code, x.param}][x.outcome];
        names[{x.code, x.param}] = Command(x);
    }
    page += "<section id=\"summary\"><h2>Summary</h2><table id=\"by-command\"><thead><tr><th class=\"l\">command "
            "and parameter</th><th>exchanges</th>";
    for (const std::string &o : outcomes)
        page += "<th>" + Html(o) + "</th>";
    page += "</tr></thead><tbody>\n";
    for (auto &c : byCommand) {
        int total = 0;
        for (auto &o : c.second)
            total += o.second;
        page += "<tr data-command=\"" + Html(ByteLabel(c.first.first)) + "\" data-param=\"" +
                Html(ByteLabel(c.first.second)) + "\" data-count=\"" + std::to_string(total) + "\"><td class=\"l\">" +
                Html(names[c.first]) + "</td><td>" + std::to_string(total) + "</td>";
        for (const std::string &o : outcomes) {
            auto it = c.second.find(o);
            page += "<td data-outcome=\"" + Html(o) + "\">" + (it == c.second.end() ? "" : std::to_string(it->second)) + "</td>";
        }
        page += "</tr>\n";
    }
    page += "</tbody></table>\n";
    size_t failed = 0, near = 0;
    for (const ExchangeRecord &x : xs) {
        failed += x.failed;
        near += !x.failed && x.near;
    }
    page += "<h3>Needs a look: <span id=\"failed-count\">" + std::to_string(failed) + "</span> failed, <span id=\"near-count\">" +
            std::to_string(near) + "</span> answered within 20% of a time-out</h3>\n<ol id=\"attention\">";
    const size_t kListed = 1000;
    size_t listed = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < xs.size() && listed < kListed; ++i) {
            const ExchangeRecord &x = xs[i];
            if (pass == 0 ? !x.failed : (x.failed || !x.near))
                continue;
            ++listed;
            std::string why = x.outcome + (x.damaged.empty() ? "" : " (" + x.damaged + ")");
            if (pass == 1)
                why += x.ackDelay * 10 >= (int64_t)x.ackTimeout * 8000 && x.ackTimeout > 0
                           ? ", acknowledgement after " + Fixed(x.ackDelay / 1000.0, 1) + " of " + std::to_string(x.ackTimeout) + " ms"
                           : ", reply after " + Fixed(x.replyDelay / 1000.0, 1) + " of " + std::to_string(x.replyTimeout) + " ms";
            page += "<li data-x=\"" + std::to_string(i + 1) + "\" class=\"" + (pass == 0 ? "failed" : "near") +
                    "\"><a href=\"#x" + std::to_string(i + 1) + "\">#" + std::to_string(i + 1) + " at " +
                    Fixed(x.start / 1e6, 3) + " s: " + Html(x.fn.empty() ? "" : x.fn + " ") + Html(Command(x)) + ": " +
                    Html(why) + "</a></li>";
        }
    }
    page += "</ol>";
    if (failed + near > listed)
        page += "<p>" + std::to_string(failed + near - listed) + " more: tick \"only those that need a look\" in the table below.</p>";
    page += "</section>\n";

    // Response times against the time-outs, per command code.
    page += "<section id=\"times\"><h2>Response times against the time-outs</h2>"
            "<p class=\"meta\">The device's delays: from the end of the command frame to the acknowledgement, from the "
            "end of the request to the end of the reply. Red: the time-outs the host passed (how many exchanges used "
            "each); grey lines: p50, p95, maximum.</p>\n";
    std::map<int, std::vector<const ExchangeRecord *>> byCode;
    for (const ExchangeRecord &x : xs)
        if (x.code >= 0)
            byCode[x.code].push_back(&x);
    for (auto &c : byCode) {
        std::vector<double> ack, reply;
        std::map<int, int> ackTo, replyTo;
        for (const ExchangeRecord *x : c.second) {
            if (x->ackDelay >= 0)
                ack.push_back(x->ackDelay / 1000.0);
            if (x->replyDelay >= 0)
                reply.push_back(x->replyDelay / 1000.0);
            if (x->ackTimeout > 0)
                ++ackTo[x->ackTimeout];
            if (x->replyTimeout > 0)
                ++replyTo[x->replyTimeout];
        }
        const std::string code = "\"" + ByteLabel(c.first) + "\"";
        page += "<h3>Command " + Html(code) + "</h3><div class=\"code\" data-code=\"" + Html(ByteLabel(c.first)) + "\">" +
                Histogram("acknowledgement delay, command " + code, ack, ackTo) +
                Histogram("reply delay, command " + code, reply, replyTo) +
                "<table><tr><th></th><th>n</th><th>p50 ms</th><th>p95 ms</th><th>max ms</th></tr><tr><th "
                "class=\"l\">acknowledgement</th>" + Stats(ack) + "</tr><tr><th class=\"l\">reply</th>" + Stats(reply) +
                "</tr></table></div>\n";
    }
    page += "</section>\n";

    // Every exchange, a page at a time, and the timeline of one on demand.
    page += "<section id=\"exchanges\"><h2>Exchanges</h2><p id=\"pager\"><button id=\"prev\">previous</button>"
            "<span id=\"page\"></span><button id=\"next\">next</button> <label><input type=\"checkbox\" id=\"only\"> "
            "only those that need a look</label></p><table id=\"all\"><thead><tr><th>#</th><th>at s</th><th "
            "class=\"l\">call</th><th class=\"l\">command</th><th class=\"l\">result</th><th>ack ms</th><th>reply "
            "ms</th><th></th></tr></thead><tbody></tbody></table></section>\n"
            "<section id=\"timeline\"><h2>Timeline</h2><div id=\"timeline-view\"><p>Choose an exchange: a link "
            "above, or #xN in the address.</p></div></section>\n";

    // The data behind the table and the timelines: for each exchange its
    // start (ms), command, outcome, flags, time-outs, delays, and the
    // sequences on the wire (ms from its start); bytes and meanings only for
    // those that need a look, to keep the page small.
    page += "<script type=\"application/json\" id=\"data\">{\"x\":[";
    for (size_t i = 0; i < xs.size(); ++i) {
        const ExchangeRecord &x = xs[i];
        const bool detailed = x.failed || x.near;
        page += i ? ",\n[" : "[";
        page += Fixed(x.start / 1000.0, 3) + "," + JsonString(ByteLabel(x.code)) + "," + JsonString(ByteLabel(x.param)) + "," +
                JsonString(x.outcome) + "," + (x.failed ? "1" : "0") + "," + (x.near ? "1" : "0") + "," +
                std::to_string(x.ackTimeout) + "," + std::to_string(x.replyTimeout) + "," + std::to_string(x.eotTimeout) +
                "," + Fixed(x.ackDelay / 1000.0, 3) + "," + Fixed(x.replyDelay / 1000.0, 3) + "," + JsonString(x.fn) + "," +
                std::to_string(i + 1) + ",[";
        for (size_t j = 0; j < x.sequences.size(); ++j) {
            const WireSequence &s = x.sequences[j];
            page += j ? ",[" : "[";
            page += std::string(s.fromHost ? "1" : "0") + "," + Fixed((s.start - x.start) / 1000.0, 3) + "," +
                    Fixed((s.end - x.start) / 1000.0, 3) + "," + std::to_string((int)s.kind);
            if (detailed) {
                Bytes head(s.bytes.begin(), s.bytes.begin() + std::min<size_t>(s.bytes.size(), 24));
                page += "," + JsonString(s.meaning.substr(0, 100)) + "," + JsonString(HexOf(head) + (s.bytes.size() > 24 ? " ..." : ""));
            }
            page += "]";
        }
        page += "]]";
    }
    page += "]}</script>\n<script>" + std::string(kScript) + "</script>\n</body></html>\n";
    return page;
}
