#include "report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "json_text.h"
#include "report_assets.h"
#include "report_charts.h"
#include "volmirax_codes.h"

namespace {

const int64_t kHourUs = 3600LL * 1000000;
const size_t kBucketsMax = 20000;  // past this many (command, bucket) pairs, hours become days
const size_t kSessionsMax = 1000;

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

// What an outcome means: the library's table for its codes, a word for
// what a tool's capture shows.
std::string Meaning(const std::string &outcome)
{
    static const std::map<std::string, std::string> kWords = {
        {"answered", "a positive reply that echoes the command"},
        {"negative reply", "the device answered with a negative reply (its status in the reply)"},
        {"bad reply", "the reply's block check is wrong, or the reply is too short or too long (ERR_BCC)"},
        {"wrong echo (ERR_ECHO)", VolmiraxCodeMeaning(ERR_ECHO)},
        {"not acknowledged", "the acknowledgement does not start with ACK (ERR_NO_ACK)"},
        {"aborted", "the host sent the abort sequence (a time-out)"},
        {"no reply", "the capture shows no reply to the command"},
        {"damaged", "a line of the capture that touched this exchange could not be read"},
        {"no result (the capture ends)", "the capture ends before the call returned"},
        {"0 OK", "success"}};
    auto w = kWords.find(outcome);
    if (w != kWords.end())
        return w->second;
    const int rc = atoi(outcome.c_str());
    return outcome.find("device status") != std::string::npos ? "status " + std::to_string(rc) +
                                                                    " reported by the device in a negative reply"
                                                              : VolmiraxCodeMeaning(rc);
}

std::string WallText(int64_t wall0, int64_t at, bool seconds)
{
    if (wall0 <= 0)
        return Fixed(at / 1e6, 3) + " s";
    std::string t = WallClockText(wall0 + at);  // 2026-12-11T08:26:27.123456Z
    return t.substr(0, 10) + " " + t.substr(11, seconds ? 8 : 5) + " UTC";
}

struct Session {
    int64_t pid = 0, wall = 0, exchanges = 0, failed = 0, firstAt = -1, lastAt = 0;
    std::string writer;
};

}  // namespace

struct ReportBuilder::State {
    std::string source, writer;
    ExchangeSplitter splitter;
    int64_t wall0 = 0;  // the first header's wall clock (0: none)
    std::map<int, Session> sessions;
    size_t moreSessions = 0;
    int64_t skipped = 0;
    std::string firstSkipped;
    int64_t total = 0, failed = 0, near = 0, firstAt = -1, lastAt = 0;
    std::set<std::string> outcomes;
    std::map<std::pair<int, int>, std::map<std::string, int64_t>> byCommand;
    std::map<std::pair<int, int>, std::string> names;
    std::map<int, DelayCounts> ack, reply;
    int64_t bucketUs = kHourUs;
    std::map<int, std::map<int64_t, Bucket>> overTime;  // command code -> bucket -> counts
    size_t bucketCount = 0;
    std::vector<ExchangeRecord> kept, table;
    int64_t keptLeftOut = 0;

    explicit State(const std::string &name)
        : source(name), splitter([this](ExchangeRecord &x) { Take(x); }) {}

    void Take(ExchangeRecord &x);
    void Coarsen();
};

void ReportBuilder::State::Coarsen()
{
    bucketUs *= 24;
    bucketCount = 0;
    for (auto &c : overTime) {
        std::map<int64_t, Bucket> merged;
        for (auto &b : c.second)
            merged[b.first / 24].Merge(b.second);
        c.second.swap(merged);
        bucketCount += c.second.size();
    }
}

void ReportBuilder::State::Take(ExchangeRecord &x)
{
    ++total;
    failed += x.failed;
    near += !x.failed && x.near;
    firstAt = firstAt < 0 ? x.start : std::min(firstAt, x.start);
    lastAt = std::max(lastAt, x.start);
    outcomes.insert(x.outcome);
    ++byCommand[{x.code, x.param}][x.outcome];
    names[{x.code, x.param}] = Command(x);
    auto s = sessions.find(x.session);
    if (s != sessions.end()) {
        ++s->second.exchanges;
        s->second.failed += x.failed;
        s->second.firstAt = s->second.firstAt < 0 ? x.start : std::min(s->second.firstAt, x.start);
        s->second.lastAt = std::max(s->second.lastAt, x.start);
    }
    if (x.code >= 0) {
        DelayCounts &a = ack[x.code], &r = reply[x.code];
        if (x.ackDelay >= 0)
            a.Add(x.ackDelay);
        if (x.replyDelay >= 0)
            r.Add(x.replyDelay);
        const bool ackLost = std::find(x.timedOut.begin(), x.timedOut.end(), "ack") != x.timedOut.end();
        const bool replyLost = std::find(x.timedOut.begin(), x.timedOut.end(), "reply") != x.timedOut.end();
        a.unanswered += ackLost || (x.ackDelay < 0 && x.outcome == "aborted");
        r.unanswered += replyLost || (x.replyDelay < 0 && x.ackDelay >= 0 && x.outcome == "aborted");
        if (x.ackTimeout > 0)
            ++a.timeouts[x.ackTimeout];
        if (x.replyTimeout > 0)
            ++r.timeouts[x.replyTimeout];
        const int64_t key = x.start / bucketUs;
        auto &buckets = overTime[x.code];
        if (!buckets.count(key))
            ++bucketCount;
        Bucket &b = buckets[key];
        ++b.n;
        b.failed += x.failed;
        if (x.replyDelay >= 0) {
            ++b.replied;
            b.replySumUs += x.replyDelay;
            b.replyMaxUs = std::max(b.replyMaxUs, x.replyDelay);
        }
        if (bucketCount > kBucketsMax)
            Coarsen();
    }
    if (x.failed || x.near) {
        if (kept.size() < kKeptMax)
            kept.push_back(x);
        else
            ++keptLeftOut;
    } else if (table.size() < kTableMax) {
        table.push_back(x);
    }
}

ReportBuilder::ReportBuilder(const std::string &source) : s_(new State(source)) {}

ReportBuilder::~ReportBuilder() = default;

void ReportBuilder::Add(const CaptureEvent &e)
{
    State &s = *s_;
    if (e.kind == CaptureEvent::HEADER) {
        if (s.writer.empty())
            s.writer = e.writer + (e.version.empty() ? "" : " " + e.version);
        if (s.wall0 == 0 && e.wallUs > 0)
            s.wall0 = e.wallUs;
        if (s.sessions.size() < kSessionsMax) {
            Session &n = s.sessions[e.session];
            n.pid = e.pid;
            n.wall = e.wallUs;
            n.writer = e.writer;
        } else {
            ++s.moreSessions;
        }
    } else if (e.kind == CaptureEvent::DAMAGED) {
        if (s.skipped++ == 0)
            s.firstSkipped = "line " + std::to_string(e.line) + ": " + e.reason;
    }
    s.splitter.Feed(e);
}

namespace {

// One exchange as the page's script reads it: its start (ms on the
// capture's time line), command, outcome, flags, time-outs, delays, the
// export, its number, the sequences on the wire (ms from its start; bytes
// and meanings only for those that need a look), and its process.
void ExchangeJson(std::string &page, const ExchangeRecord &x)
{
    const bool detailed = x.failed || x.near;
    page += "[" + Fixed(x.start / 1000.0, 3) + "," + JsonString(ByteLabel(x.code)) + "," + JsonString(ByteLabel(x.param)) +
            "," + JsonString(x.outcome) + "," + (x.failed ? "1" : "0") + "," + (x.near ? "1" : "0") + "," +
            std::to_string(x.ackTimeout) + "," + std::to_string(x.replyTimeout) + "," + std::to_string(x.eotTimeout) +
            "," + Fixed(x.ackDelay / 1000.0, 3) + "," + Fixed(x.replyDelay / 1000.0, 3) + "," + JsonString(x.fn) + "," +
            std::to_string(x.number) + ",[";
    for (size_t j = 0; j < x.sequences.size(); ++j) {
        const WireSequence &s = x.sequences[j];
        page += j ? ",[" : "[";
        page += std::string(s.fromHost ? "1" : "0") + "," + Fixed((s.start - x.start) / 1000.0, 3) + "," +
                Fixed((s.end - x.start) / 1000.0, 3) + "," + std::to_string((int)s.kind);
        if (detailed) {
            Bytes head(s.bytes.begin(), s.bytes.begin() + std::min<size_t>(s.bytes.size(), 24));
            page += "," + JsonString(s.meaning.substr(0, 100)) + "," +
                    JsonString(HexOf(head) + (s.bytes.size() > 24 ? " ..." : ""));
        }
        page += "]";
    }
    page += "]," + std::to_string(x.pid) + "," + JsonString(Meaning(x.outcome)) + "]";
}

std::string BucketLabel(int64_t wall0, int64_t bucketUs, int64_t key)
{
    const std::string t = WallText(wall0, key * bucketUs, false);
    if (wall0 <= 0)
        return bucketUs == kHourUs ? "hour " + std::to_string(key) : "day " + std::to_string(key);
    return bucketUs == kHourUs ? t.substr(5, 8) + "h" : t.substr(0, 10);
}

}  // namespace

std::string ReportBuilder::Page()
{
    State &s = *s_;
    s.splitter.Finish();
    std::sort(s.kept.begin(), s.kept.end(), [](const ExchangeRecord &a, const ExchangeRecord &b) { return a.number < b.number; });
    std::sort(s.table.begin(), s.table.end(), [](const ExchangeRecord &a, const ExchangeRecord &b) { return a.number < b.number; });
    std::string page;
    page += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
            "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
            "script-src 'unsafe-inline'; img-src data:\">\n"
            "<meta name=\"viewport\" content=\"width=device-width\">\n<title>Line report: " + Html(s.source) +
            "</title>\n<style>" + kStyle + "</style></head><body>\n";
    const int64_t span = s.total ? s.lastAt - s.firstAt : 0;
    page += "<h1>Line report</h1><p class=\"meta\">" + Html(s.source) + " · " + Html(s.writer) + " · <span id=\"count\">" +
            std::to_string(s.total) + "</span> exchanges" +
            (s.total ? " from " + WallText(s.wall0, s.firstAt, true) + " to " + WallText(s.wall0, s.lastAt, true) + " (" +
                           Fixed(span / 1e6, 1) + " s)"
                     : "") +
            "</p>\n<div id=\"focus\"></div>\n";
    if (s.skipped > 0)
        page += "<p class=\"damage\">The capture is damaged: <span id=\"skipped\">" + std::to_string(s.skipped) +
                "</span> line" + (s.skipped == 1 ? "" : "s") +
                " could not be read and were skipped; the exchanges they touched are marked damaged. First: " +
                Html(s.firstSkipped) + "</p>\n";
    // who wrote the capture, and when
    page += "<section id=\"processes\"><h2>Who wrote it, and when</h2><div class=\"scroll\"><table><thead><tr><th>"
            "session</th><th class=\"l\">writer</th><th>process</th><th class=\"l\">started</th><th>exchanges</th>"
            "<th>failed</th><th class=\"l\">first exchange</th><th class=\"l\">last exchange</th></tr></thead><tbody>";
    for (const auto &n : s.sessions) {
        const Session &x = n.second;
        page += "<tr data-session=\"" + std::to_string(n.first) + "\"><td>" + std::to_string(n.first) +
                "</td><td class=\"l\">" + Html(x.writer) + "</td><td>" + (x.pid ? std::to_string(x.pid) : "") +
                "</td><td class=\"l\">" + (x.wall ? Html(WallText(x.wall, 0, true)) : "(not in the header)") + "</td><td>" +
                std::to_string(x.exchanges) + "</td><td>" + std::to_string(x.failed) + "</td><td class=\"l\">" +
                (x.firstAt >= 0 ? Html(WallText(s.wall0, x.firstAt, true)) : "") + "</td><td class=\"l\">" +
                (x.firstAt >= 0 ? Html(WallText(s.wall0, x.lastAt, true)) : "") + "</td></tr>\n";
    }
    page += "</tbody></table></div>";
    if (s.moreSessions)
        page += "<p>" + std::to_string(s.moreSessions) + " more sessions are counted in the totals but not listed.</p>";
    if (s.wall0 == 0)
        page += "<p class=\"meta\">The headers carry no wall clock (format 1): times are seconds on the capture's own "
                "time line, each session laid after the one before it.</p>";
    page += "</section>\n";
    if (s.total == 0) {
        page += "<p id=\"empty\">This capture holds no exchanges.</p></body></html>\n";
        return page;
    }

    // Summary: exchanges by command code and parameter, counts of each outcome.
    page += "<section id=\"summary\"><h2>Summary</h2><div class=\"scroll\"><table id=\"by-command\"><thead><tr><th "
            "class=\"l\">command and parameter</th><th>exchanges</th>";
    for (const std::string &o : s.outcomes)
        page += "<th title=\"" + Html(Meaning(o)) + "\">" + Html(o) + "</th>";
    page += "</tr></thead><tbody>\n";
    for (auto &c : s.byCommand) {
        int64_t total = 0;
        for (auto &o : c.second)
            total += o.second;
        page += "<tr data-command=\"" + Html(ByteLabel(c.first.first)) + "\" data-param=\"" +
                Html(ByteLabel(c.first.second)) + "\" data-count=\"" + std::to_string(total) + "\"><td class=\"l\">" +
                Html(s.names[c.first]) + "</td><td>" + std::to_string(total) + "</td>";
        for (const std::string &o : s.outcomes) {
            auto it = c.second.find(o);
            page += "<td data-outcome=\"" + Html(o) + "\"" + (o == "0 OK" || o == "answered" ? "" : " class=\"failed\"") +
                    ">" + (it == c.second.end() ? "" : std::to_string(it->second)) + "</td>";
        }
        page += "</tr>\n";
    }
    page += "</tbody></table></div>\n<dl id=\"meanings\">";
    for (const std::string &o : s.outcomes)
        page += "<dt>" + Html(o) + "</dt><dd>" + Html(Meaning(o)) + "</dd>";
    page += "</dl>\n";
    page += "<h3>Needs a look: <span id=\"failed-count\">" + std::to_string(s.failed) + "</span> failed, <span "
            "id=\"near-count\">" + std::to_string(s.near) + "</span> answered within 20% of a time-out</h3>\n<ol id=\"attention\">";
    const size_t kListed = 1000;
    size_t listed = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (const ExchangeRecord &x : s.kept) {
            if (listed >= kListed || (pass == 0 ? !x.failed : x.failed))
                continue;
            ++listed;
            std::string why = x.outcome + " — " + Meaning(x.outcome) + (x.damaged.empty() ? "" : " (" + x.damaged + ")");
            if (pass == 1)
                why += x.ackDelay * 10 >= (int64_t)x.ackTimeout * 8000 && x.ackTimeout > 0
                           ? ", acknowledgement after " + Fixed(x.ackDelay / 1000.0, 1) + " of " + std::to_string(x.ackTimeout) + " ms"
                           : ", reply after " + Fixed(x.replyDelay / 1000.0, 1) + " of " + std::to_string(x.replyTimeout) + " ms";
            const std::string n = std::to_string(x.number);
            page += "<li data-x=\"" + n + "\" class=\"" + (pass == 0 ? "failed" : "near") + "\"><a href=\"#x" + n +
                    "\">#" + n + " at " + Html(WallText(s.wall0, x.start, true)) + ": " +
                    Html(x.fn.empty() ? "" : x.fn + " ") + Html(Command(x)) + ": " + Html(why) + "</a></li>";
        }
    }
    page += "</ol>";
    if ((size_t)(s.failed + s.near) > listed)
        page += "<p class=\"bound\">" + std::to_string(s.failed + s.near - (int64_t)listed) +
                " more are not listed here" +
                (s.keptLeftOut ? "; the page keeps the first " + std::to_string(ReportBuilder::kKeptMax) +
                                     " with their bytes, the rest are in the counts above and the charts below"
                               : ": tick \"only those that need a look\" in the table below") + ".</p>";
    page += "</section>\n";

    // Per command over the capture's span: failures and reply delays, per
    // hour for up to four days, per day beyond.
    int64_t showUs = s.bucketUs;
    if (showUs == kHourUs && s.lastAt / kHourUs - s.firstAt / kHourUs >= 96)
        showUs = 24 * kHourUs;
    const int64_t first = s.firstAt / showUs, last = s.lastAt / showUs;
    if (last > first && last - first < 4000) {
        page += "<section id=\"over-time\"><h2>Over time</h2><p class=\"meta\">Per command code, per " +
                std::string(showUs == kHourUs ? "hour" : "day") +
                " (UTC): the exchanges (failed in red) and the reply delay.</p>\n";
        for (auto &c : s.overTime) {
            std::vector<Bucket> buckets(last - first + 1);
            std::vector<std::string> labels;
            for (int64_t k = first; k <= last; ++k)
                labels.push_back(BucketLabel(s.wall0, showUs, k));
            for (const auto &b : c.second)
                buckets[std::min<int64_t>(last, std::max<int64_t>(first, b.first * s.bucketUs / showUs)) - first].Merge(b.second);
            page += "<div class=\"scroll\" data-over=\"" + Html(ByteLabel(c.first)) + "\">" +
                    OverTime("command \"" + ByteLabel(c.first) + "\"", buckets, labels) + "</div>\n";
        }
        page += "</section>\n";
    }

    // Response times against the time-outs, per command code.
    page += "<section id=\"times\"><h2>Response times against the time-outs</h2>"
            "<p class=\"meta\">The device's delays: from the end of the command frame to the acknowledgement, from the "
            "end of the request to the end of the reply (to 0.1 ms). Red: the time-outs the host gave (how many exchanges "
            "gave each); p50 and p95 by nearest rank; \"none\": exchanges that got no answer within the time-out.</p>\n";
    for (auto &c : s.ack) {
        const DelayCounts &a = c.second, &r = s.reply[c.first];
        const std::string code = "\"" + ByteLabel(c.first) + "\"";
        auto stats = [](const DelayCounts &d) {
            if (d.n == 0)
                return "<td>0</td><td>" + std::to_string(d.unanswered) + "</td><td></td><td></td><td></td>";
            return "<td>" + std::to_string(d.n) + "</td><td>" + std::to_string(d.unanswered) + "</td><td>" +
                   Fixed(d.PercentileMs(0.5), 1) + "</td><td>" + Fixed(d.PercentileMs(0.95), 1) + "</td><td>" +
                   Fixed(d.maxUs / 1000.0, 1) + "</td>";
        };
        page += "<h3>Command " + Html(code) + "</h3><div class=\"code\" data-code=\"" + Html(ByteLabel(c.first)) + "\">" +
                DelayHistogram("acknowledgement delay, command " + code, a) +
                DelayHistogram("reply delay, command " + code, r) +
                "<table><tr><th></th><th>answered</th><th>no answer</th><th>p50 ms</th><th>p95 ms</th><th>max ms</th></tr>"
                "<tr><th class=\"l\">acknowledgement</th>" + stats(a) + "</tr><tr><th class=\"l\">reply</th>" + stats(r) +
                "</tr></table></div>\n";
    }
    page += "</section>\n";

    // The exchanges the page keeps, a page at a time, and the timeline of one on demand.
    const size_t shown = s.kept.size() + s.table.size();
    page += "<section id=\"exchanges\"><h2>Exchanges</h2>";
    if ((int64_t)shown < s.total)
        page += "<p class=\"bound\" id=\"table-bound\">The table holds " + std::to_string(shown) + " of the " +
                std::to_string(s.total) + " exchanges: the first " + std::to_string(s.table.size()) +
                " that went well and the first " + std::to_string(s.kept.size()) +
                " that need a look; the rest are in the counts, histograms and charts above.</p>";
    page += "<p id=\"pager\"><button id=\"prev\">previous</button><span id=\"page\"></span><button id=\"next\">next</button> "
            "<label><input type=\"checkbox\" id=\"only\"> only those that need a look</label></p><div class=\"scroll\">"
            "<table id=\"all\"><thead><tr><th>#</th><th class=\"l\">at</th><th class=\"l\">call</th><th class=\"l\">command"
            "</th><th class=\"l\">result</th><th>ack ms</th><th>reply ms</th><th></th></tr></thead><tbody></tbody></table>"
            "</div><p class=\"meta\">A timeline: follow a link, or put #xN in the address; it shows at the top of the "
            "page.</p></section>\n";
    page += "<script type=\"application/json\" id=\"data\">{\"wall0\":" + Fixed(s.wall0 / 1000.0, 3) + ",\"x\":[";
    std::vector<const ExchangeRecord *> all;
    for (const ExchangeRecord &x : s.kept)
        all.push_back(&x);
    for (const ExchangeRecord &x : s.table)
        all.push_back(&x);
    std::sort(all.begin(), all.end(), [](const ExchangeRecord *a, const ExchangeRecord *b) { return a->number < b->number; });
    for (size_t i = 0; i < all.size(); ++i) {
        page += i ? ",\n" : "";
        ExchangeJson(page, *all[i]);
    }
    page += "]}</script>\n<script>" + std::string(kScript) + "</script>\n</body></html>\n";
    return page;
}

std::string ReportPage(const std::string &source, const Capture &capture)
{
    ReportBuilder report(source);
    for (const CaptureEvent &e : capture.events)
        report.Add(e);
    return report.Page();
}
