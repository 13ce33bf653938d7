#include "capture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <unordered_map>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "printable.h"

using json = nlohmann::json;

namespace {

const size_t kMaxLine = 1 << 20;

bool ParseHex(const std::string &text, Bytes &out)
{
    out.clear();
    int high = -1;
    for (char ch : text) {
        if (ch == ' ')
            continue;
        int v = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
              : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
        if (v < 0)
            return false;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<unsigned char>(high * 16 + v));
            high = -1;
        }
    }
    return high < 0;
}

// One line's members, read with nlohmann's SAX parser straight into a
// flat list (no tree is built): strings, whole numbers, and anything else
// (a float, a bool, null, an object or array) as OTHER. Reused line after
// line, so reading allocates almost nothing.
struct FlatLine {
    struct Value {
        enum Type { STRING, INT, TOO_BIG, OTHER } type = OTHER;
        std::string name, text;
        int64_t number = 0;
    };
    std::vector<Value> values;
    size_t count = 0;
    bool object = false;

    // The last member of that name (as a parser that keeps one per name).
    const Value *Find(const char *name) const
    {
        for (size_t i = count; i-- > 0;)
            if (values[i].name == name)
                return &values[i];
        return nullptr;
    }
};

class FlatSax {
public:
    explicit FlatSax(FlatLine &line) : line_(line) {}
    bool null() { return Put(FlatLine::Value::OTHER); }
    bool boolean(bool) { return Put(FlatLine::Value::OTHER); }
    bool number_integer(int64_t v) { return Put(FlatLine::Value::INT, v); }
    bool number_unsigned(uint64_t v)
    {
        return v > (uint64_t)INT64_MAX ? Put(FlatLine::Value::TOO_BIG) : Put(FlatLine::Value::INT, (int64_t)v);
    }
    bool number_float(double, const std::string &) { return Put(FlatLine::Value::OTHER); }
    bool string(std::string &v)
    {
        if (depth_ == 1 && Put(FlatLine::Value::STRING))
            line_.values[line_.count - 1].text.swap(v);
        return true;
    }
    bool binary(std::vector<uint8_t> &) { return Put(FlatLine::Value::OTHER); }
    bool start_object(std::size_t)
    {
        Put(FlatLine::Value::OTHER);
        line_.object = line_.object || depth_ == 0;
        ++depth_;
        return true;
    }
    bool end_object() { return --depth_, true; }
    bool start_array(std::size_t)
    {
        Put(FlatLine::Value::OTHER);
        ++depth_;
        return true;
    }
    bool end_array() { return --depth_, true; }
    bool key(std::string &k)
    {
        if (depth_ == 1)
            key_.swap(k);
        return true;
    }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) { return false; }

private:
    // a member of the line itself (depth 1); nested values are not kept
    bool Put(FlatLine::Value::Type type, int64_t number = 0)
    {
        if (depth_ != 1)
            return true;
        if (line_.count == line_.values.size())
            line_.values.emplace_back();
        FlatLine::Value &v = line_.values[line_.count++];
        v.type = type;
        v.name = key_;
        v.number = number;
        v.text.clear();
        return true;
    }
    FlatLine &line_;
    int depth_ = 0;
    std::string key_;
};

// Reads `text` as one JSON object: false when it is not JSON or not an object.
bool ParseLine(const std::string &text, FlatLine &line)
{
    line.count = 0;
    line.object = false;
    FlatSax sax(line);
    return json::sax_parse(text, &sax) && line.object;
}

struct Fields {
    const FlatLine &j;
    std::string error;

    bool Int(const char *name, int64_t &out, bool required = true)
    {
        const FlatLine::Value *v = j.Find(name);
        if (!v) {
            if (required)
                error = std::string("no \"") + name + "\"";
            return !required;
        }
        if (v->type != FlatLine::Value::INT && v->type != FlatLine::Value::TOO_BIG) {
            error = std::string("\"") + name + "\" is not a whole number";
            return false;
        }
        out = v->number;
        if (v->type == FlatLine::Value::TOO_BIG || out < -kCaptureMaxTime || out > kCaptureMaxTime) {
            error = std::string("\"") + name + "\" is out of range";
            return false;
        }
        return true;
    }
    bool Int(const char *name, int &out, bool required = true)
    {
        int64_t v = out;
        if (!Int(name, v, required))
            return false;
        if (v < INT32_MIN || v > INT32_MAX) {
            error = std::string("\"") + name + "\" is out of range";
            return false;
        }
        out = static_cast<int>(v);
        return true;
    }
    bool Text(const char *name, std::string &out, bool required = true)
    {
        const FlatLine::Value *v = j.Find(name);
        if (!v) {
            if (required)
                error = std::string("no \"") + name + "\"";
            return !required;
        }
        if (v->type != FlatLine::Value::STRING) {
            error = std::string("\"") + name + "\" is not a string";
            return false;
        }
        out = v->text;
        return true;
    }
    bool Hex(const char *name, Bytes &out, bool required = true)
    {
        std::string text;
        if (!Text(name, text, required))
            return false;
        if (!ParseHex(text, out)) {
            error = std::string("bad hex in \"") + name + "\"";
            return false;
        }
        return true;
    }
};

const std::map<std::string, CaptureEvent::Kind> kKinds = {
    {"header", CaptureEvent::HEADER}, {"open", CaptureEvent::OPEN},     {"close", CaptureEvent::CLOSE},
    {"call", CaptureEvent::CALL},     {"tx", CaptureEvent::TX},         {"rx", CaptureEvent::RX},
    {"timeout", CaptureEvent::TIMEOUT}, {"result", CaptureEvent::RESULT}, {"line", CaptureEvent::LINE},
    {"note", CaptureEvent::NOTE}};

// "2026-12-11T08:26:27.123456Z" (the fraction optional): µs since 1970 UTC.
bool WallClockUs(const std::string &text, int64_t &us)
{
    int y, mo, d, h, mi, sec, n = 0;
    if (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &sec, &n) != 6 || n != 19 ||
        y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 60)
        return false;
    int64_t fraction = 0, scale = 1000000;
    size_t i = 19;
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            if (scale > 1)
                fraction += (text[i] - '0') * (scale /= 10);
    if (i + 1 != text.size() || text[i] != 'Z')
        return false;
    // days from the civil date (the proleptic Gregorian calendar)
    const int yy = y - (mo <= 2), era = yy / 400, yoe = yy - era * 400;
    const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t days = (int64_t)era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    us = ((days * 86400 + h * 3600 + mi * 60 + sec) * 1000000) + fraction;
    return true;
}

// "1042,0*3,988": the pauses (µs) of a received run's bytes after its
// first; false for anything else.
bool ParseGaps(const std::string &text, std::vector<int64_t> &out)
{
    out.clear();
    size_t i = 0;
    int64_t total = 0;
    while (i < text.size()) {
        int64_t value = 0, repeat = 1;
        size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 12)
            value = value * 10 + (text[i++] - '0');
        if (i == start)
            return false;
        if (i < text.size() && text[i] == '*') {
            start = ++i;
            repeat = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 7)
                repeat = repeat * 10 + (text[i++] - '0');
            if (i == start || repeat < 1)
                return false;
        }
        if (i < text.size() && text[i++] != ',')
            return false;
        if (i == text.size() && text.back() == ',')
            return false;
        total += value * repeat;
        if (total > kCaptureMaxTime || out.size() + repeat > (1 << 20))
            return false;
        out.insert(out.end(), (size_t)repeat, value);
    }
    return true;
}

// The fields of one event; false with the reason in f.error. A received
// run's pauses go to `gaps` (empty: every byte at its time).
bool ReadEvent(Fields &f, CaptureEvent &e, std::vector<int64_t> &gaps)
{
    std::string kind;
    if (!f.Text("e", kind))
        return false;
    auto k = kKinds.find(kind);
    if (k == kKinds.end()) {
        f.error = "unknown event \"" + kind.substr(0, 40) + "\"";
        return false;
    }
    e.kind = k->second;
    if (e.kind == CaptureEvent::HEADER) {
        int format = 0;
        std::string wall;
        if (!f.Int("format", format) || !f.Text("writer", e.writer) || !f.Text("version", e.version, false) ||
            !f.Text("port", e.port, false) || !f.Int("baud", e.baud, false) || !f.Int("pid", e.pid, false) ||
            !f.Text("wall", wall, false))
            return false;
        if (format != 1 && format != 2) {
            f.error = "format " + std::to_string(format) + " is not one this reader knows (1, 2)";
            return false;
        }
        if (!wall.empty() && !WallClockUs(wall, e.wallUs)) {
            f.error = "\"wall\" is not a time (2026-12-11T08:26:27.123456Z)";
            return false;
        }
        return true;
    }
    if (!f.Int("t", e.t) || !f.Text("handle", e.handle, false) || !f.Int("pid", e.pid, false))
        return false;
    if (e.t < 0) {
        f.error = "a negative time";
        return false;
    }
    switch (e.kind) {
    case CaptureEvent::OPEN: return f.Text("port", e.port) && f.Int("baud", e.baud) && f.Int("error", e.rc, false);
    case CaptureEvent::CLOSE: return f.Int("rc", e.rc);
    case CaptureEvent::CALL:
        return f.Text("fn", e.fn) && f.Hex("cmd", e.bytes, false) && f.Int("ack", e.ack, false) &&
               f.Int("reply", e.reply, false) && f.Int("eot", e.eot, false);
    case CaptureEvent::TX: return f.Hex("hex", e.bytes);
    case CaptureEvent::RX: {
        std::string text;
        if (!f.Hex("hex", e.bytes) || !f.Text("gaps", text, false))
            return false;
        if (!text.empty() && (!ParseGaps(text, gaps) || gaps.size() + 1 != e.bytes.size())) {
            f.error = "bad \"gaps\" (one pause for each byte after the first)";
            return false;
        }
        return true;
    }
    case CaptureEvent::TIMEOUT: return f.Text("wait", e.wait) && f.Int("ms", e.ms);
    case CaptureEvent::RESULT:
        if (!f.Text("fn", e.fn) || !f.Int("rc", e.rc) || !f.Int("us", e.us))
            return false;
        if (e.us < 0) {
            f.error = "a negative duration";
            return false;
        }
        return true;
    case CaptureEvent::LINE: return f.Int("baud", e.baud);
    case CaptureEvent::NOTE: return f.Text("text", e.reason);
    default: return true;
    }
}


// What could be read of a damaged line: its port and process, so that the
// exchange it touched can be found.
void SalvageWhere(const FlatLine &j, CaptureEvent &e)
{
    const FlatLine::Value *h = j.Find("handle");
    if (h && h->type == FlatLine::Value::STRING)
        e.handle = h->text;
    const FlatLine::Value *p = j.Find("pid");
    if (p && p->type == FlatLine::Value::INT)
        e.pid = p->number;
}

}  // namespace

int CaptureLines::Next(std::string &line)
{
    line.clear();
    bool overlong = false;
    for (;;) {
        if (pos_ == buffer_.size()) {
            buffer_.resize(1 << 16);
            in_.read(buffer_.data(), (std::streamsize)buffer_.size());
            buffer_.resize((size_t)in_.gcount());
            pos_ = 0;
            if (buffer_.empty())
                return overlong ? -1 : line.empty() ? 0 : -2;
        }
        const char *start = buffer_.data() + pos_;
        const char *end = static_cast<const char *>(memchr(start, '\n', buffer_.size() - pos_));
        const size_t n = end ? (size_t)(end - start) : buffer_.size() - pos_;
        const size_t room = kMaxLine - std::min(kMaxLine, line.size());
        line.append(start, std::min(n, room));
        overlong = overlong || n > room;
        pos_ += n + (end ? 1 : 0);
        if (end)
            return overlong ? -1 : 1;
    }
}

struct CaptureReader::State {
    FlatLine line;              // the line being read, reused
    std::vector<int64_t> gaps;  // its received bytes' pauses
    // per port of each session: a trace of several ports interleaves calls,
    // and several processes may write one file, each on its own clock
    std::map<std::pair<int, std::string>, int> ports;
    std::pair<int, std::string> lastPort{-1, ""};
    int lastPortId = 0;
    std::unordered_map<int, int64_t> lastTime;  // by port

    int PortId(int session, const std::string &handle)
    {
        if (session == lastPort.first && handle == lastPort.second)
            return lastPortId;
        lastPort = {session, handle};
        auto it = ports.find(lastPort);
        if (it == ports.end())
            it = ports.emplace(lastPort, (int)ports.size() + 1).first;
        return lastPortId = it->second;
    }
    std::map<int64_t, int> sessionOf;        // the latest header of each process
    std::map<int, int64_t> offsetOf;         // each session's place on the one time line
    int64_t firstWall = 0, latest = 0;       // the first header's wall clock; the latest time seen
    int lastSession = 1;
};

bool CaptureReader::Start(CaptureEvent &first, std::string &error)
{
    state_ = std::make_shared<State>();
    split_.clear();
    number_ = 0;
    sessions_ = 0;
    if (!Read(first, &error)) {
        if (error.empty())
            error = "line 1: not a capture (no header)";
        return false;
    }
    return true;
}

bool CaptureReader::Next(CaptureEvent &e)
{
    if (!split_.empty()) {
        e = std::move(split_.back());
        split_.pop_back();
        return true;
    }
    return state_ && Read(e, nullptr);
}

bool CaptureReader::Read(CaptureEvent &e, std::string *refusal)
{
    State &st = *state_;
    std::string text;
    for (;;) {
        const int got = lines_.Next(text);
        if (got == 0)
            return false;
        ++number_;
        std::string why;
        FlatLine &j = state_->line;
        j.count = 0;
        std::vector<int64_t> &gaps = state_->gaps;
        gaps.clear();
        e = CaptureEvent();
        e.line = number_;
        if (got == -1) {
            why = "longer than 1 MiB";
        } else if (got == -2) {
            why = "cut short (no end of line)";
        } else if (text.empty() || text == "\r") {
            continue;
        } else {
            if (!ParseLine(text, j)) {
                why = "not a JSON object";
            } else {
                Fields f{j, ""};
                if (!ReadEvent(f, e, gaps))
                    why = f.error;
            }
        }
        const std::string where = "line " + std::to_string(number_) + ": ";
        if (refusal) {
            // the first line decides whether this is a capture at all
            if (why.rfind("format ", 0) == 0)
                *refusal = where + why;
            else if (!why.empty() || e.kind != CaptureEvent::HEADER)
                *refusal = where + "not a capture (no header)" + (why.empty() ? "" : ": " + why);
            if (!refusal->empty())
                return false;
        }
        if (why.empty() && e.kind == CaptureEvent::HEADER) {
            const int session = ++sessions_;
            st.sessionOf[e.pid] = session;
            if (st.firstWall == 0 && e.wallUs > 0)
                st.firstWall = e.wallUs;
            // on the wall clock when the header has one; otherwise after
            // everything before it
            st.offsetOf[session] = e.wallUs > 0 && st.firstWall > 0 ? std::max<int64_t>(0, e.wallUs - st.firstWall)
                                                                     : st.latest;
        } else if (why.empty()) {
            if (!st.sessionOf.count(e.pid)) {
                why = "a line of process " + std::to_string(e.pid) + " before its header";
            } else {
                int64_t &last = st.lastTime[st.PortId(st.sessionOf[e.pid], e.handle)];
                if (e.t < last)
                    why = "time " + std::to_string(e.t) + " is before the line before it (" + std::to_string(last) + ")";
                else
                    last = e.t;
            }
        }
        if (!why.empty()) {
            CaptureEvent d;
            d.kind = CaptureEvent::DAMAGED;
            d.line = number_;
            d.reason = why;
            SalvageWhere(j, d);
            e = d;
            gaps.clear();
        }
        // a damaged line of an unknown process belongs with the line before it
        auto s = st.sessionOf.find(e.pid);
        e.session = s != st.sessionOf.end() ? s->second : st.lastSession;
        st.lastSession = e.session;
        e.portId = e.kind == CaptureEvent::HEADER ? 0 : st.PortId(e.session, e.handle);
        e.at = st.offsetOf[e.session] + e.t;
        st.latest = std::max(st.latest, e.at);
        if (!gaps.empty()) {
            // the run as the reads it was made of: one event per time
            std::vector<CaptureEvent> pieces;
            int64_t t = e.t;
            size_t from = 0;
            for (size_t i = 1; i <= e.bytes.size(); ++i) {
                if (i < e.bytes.size() && gaps[i - 1] == 0)
                    continue;
                CaptureEvent piece = e;
                piece.bytes.assign(e.bytes.begin() + from, e.bytes.begin() + i);
                piece.t = t;
                piece.at = st.offsetOf[e.session] + t;
                pieces.push_back(std::move(piece));
                if (i < e.bytes.size())
                    t += gaps[i - 1];
                from = i;
            }
            st.lastTime[e.portId] = t;
            st.latest = std::max(st.latest, pieces.back().at);
            e = std::move(pieces.front());
            for (size_t i = pieces.size(); i-- > 1;)
                split_.push_back(std::move(pieces[i]));
        }
        return true;
    }
}

bool ReadCapture(std::istream &in, Capture &capture, std::string &error)
{
    capture.events.clear();
    capture.skipped.clear();
    CaptureReader reader(in);
    CaptureEvent e;
    if (!reader.Start(e, error))
        return false;
    do {
        if (e.kind == CaptureEvent::DAMAGED)
            capture.skipped.push_back("line " + std::to_string(e.line) + ": " + e.reason);
        capture.events.push_back(std::move(e));
    } while (reader.Next(e));
    return true;
}

bool ReadCaptureFile(const std::string &path, Capture &capture, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    if (!ReadCapture(in, capture, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

CaptureWriter::~CaptureWriter() { Close(); }

namespace {

// Hex, two digits a byte.
std::string PlainHex(const Bytes &bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

}  // namespace

std::string WallClockText(int64_t us)
{
    const time_t seconds = (time_t)(us / 1000000);
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[48];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900, utc.tm_mon + 1,
             utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, (int)(us % 1000000));
    return text;
}

bool CaptureWriter::LimitFromText(const std::string &megabytes, long long &bytes)
{
    char *end = nullptr;
    const double mb = strtod(megabytes.c_str(), &end);
    if (megabytes.empty() || *end != 0 || !(mb > 0) || !(mb <= 1048576))
        return false;
    bytes = std::max(1LL, (long long)(mb * 1024 * 1024));
    return true;
}

bool CaptureWriter::Open(const std::string &path, const std::string &writer, const std::string &port, int baud,
                         bool exclusive, long long limitBytes)
{
    // exclusive: neither the file nor the one it rolls over to may be one
    // this writer did not make
    if (exclusive && access((path + ".1").c_str(), F_OK) == 0) {
        errno = EEXIST;
        return false;
    }
    file_ = fopen(path.c_str(), exclusive ? "wx" : "w");
    if (!file_)
        return false;
    path_ = path;
    limit_ = limitBytes;
    size_ = 0;
    struct timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    json h = {{"e", "header"}, {"format", 2}, {"writer", writer}, {"version", "1.0.0.1"}, {"port", port},
              {"baud", baud},  {"clock", "us"}, {"wall", WallClockText((int64_t)wall.tv_sec * 1000000 + wall.tv_nsec / 1000)}};
    header_ = h.dump(-1, ' ', false, json::error_handler_t::replace);
    Write(header_);
    return true;
}

void CaptureWriter::Tx(int64_t t, const Bytes &bytes)
{
    if (!file_ || bytes.empty())
        return;
    FlushRun();
    Write(json({{"e", "tx"}, {"t", t}, {"hex", PlainHex(bytes)}}).dump());
}

void CaptureWriter::Rx(int64_t t, const Bytes &bytes)
{
    if (!file_ || bytes.empty())
        return;
    if (!run_.empty() && (run_.size() + bytes.size() > 1000 || t - runTimes_.back() > 99999999))
        FlushRun();
    run_.insert(run_.end(), bytes.begin(), bytes.end());
    runTimes_.insert(runTimes_.end(), bytes.size(), t);
}

void CaptureWriter::Idle(int64_t t)
{
    if (!run_.empty() && t - runTimes_.back() >= 100000)
        FlushRun();
}

void CaptureWriter::FlushRun()
{
    if (run_.empty())
        return;
    json j = {{"e", "rx"}, {"t", runTimes_.front()}, {"hex", PlainHex(run_)}};
    std::string gaps;
    bool paused = false;
    // each byte's pause after the one before it; a value repeated three
    // times or more written once with its count, as the library writes it
    for (size_t i = 1; i < run_.size();) {
        const int64_t gap = runTimes_[i] - runTimes_[i - 1];
        size_t same = 1;
        while (i + same < run_.size() && runTimes_[i + same] - runTimes_[i + same - 1] == gap)
            ++same;
        if (same < 3)
            same = 1;
        gaps += (gaps.empty() ? "" : ",") + std::to_string(gap) + (same >= 3 ? "*" + std::to_string(same) : "");
        paused = paused || gap != 0;
        i += same;
    }
    if (paused)
        j["gaps"] = gaps;
    run_.clear();
    runTimes_.clear();
    Write(j.dump());
}

void CaptureWriter::Line(int64_t t, int baud)
{
    if (!file_)
        return;
    FlushRun();
    Write(json({{"e", "line"}, {"t", t}, {"baud", baud}}).dump());
}

void CaptureWriter::Note(int64_t t, const std::string &text)
{
    if (!file_)
        return;
    FlushRun();
    Write(json({{"e", "note"}, {"t", t}, {"text", text}}).dump(-1, ' ', false, json::error_handler_t::replace));
}

void CaptureWriter::Write(const std::string &line)
{
    if (!file_)
        return;
    if (size_ >= limit_ && size_ > (long long)header_.size() + 1) {
        // past its limit: the file becomes PATH.1 (replacing the older one)
        // and a new one starts with the header; times go on
        fclose(file_);
        file_ = nullptr;
        if (rename(path_.c_str(), (path_ + ".1").c_str()) != 0 || !(file_ = fopen(path_.c_str(), "w"))) {
            fprintf(stderr, "capture: cannot roll %s over to %s.1: %s; the recording stops\n",
                    Printable(path_).c_str(), Printable(path_).c_str(), strerror(errno));
            return;
        }
        size_ = 0;
        Write(header_);
    }
    fputs(line.c_str(), file_);
    fputc('\n', file_);
    fflush(file_);
    size_ += (long long)line.size() + 1;
}

void CaptureWriter::Close()
{
    if (file_) {
        FlushRun();
        fclose(file_);
    }
    file_ = nullptr;
}
