#include "capture.h"

#include <algorithm>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

using json = nlohmann::json;

namespace {

const size_t kMaxLine = 1 << 20;

// One line of at most kMaxLine bytes; 0 at the end, 1 for a line, -1 when
// the line is longer (the rest of it is skipped), -2 when the file ends
// without ending the line.
int NextLine(std::istream &in, std::string &line)
{
    line.clear();
    bool overlong = false;
    int c;
    while ((c = in.get()) != EOF) {
        if (c == '\n')
            return overlong ? -1 : 1;
        if (line.size() < kMaxLine)
            line.push_back(static_cast<char>(c));
        else
            overlong = true;
    }
    if (overlong)
        return -1;
    return line.empty() ? 0 : -2;
}

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

struct Fields {
    const json &j;
    std::string error;

    bool Int(const char *name, int64_t &out, bool required = true)
    {
        auto it = j.find(name);
        if (it == j.end()) {
            if (required)
                error = std::string("no \"") + name + "\"";
            return !required;
        }
        if (!it->is_number_integer()) {
            error = std::string("\"") + name + "\" is not a whole number";
            return false;
        }
        out = it->get<int64_t>();
        if (out < -kCaptureMaxTime || out > kCaptureMaxTime) {
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
        auto it = j.find(name);
        if (it == j.end()) {
            if (required)
                error = std::string("no \"") + name + "\"";
            return !required;
        }
        if (!it->is_string()) {
            error = std::string("\"") + name + "\" is not a string";
            return false;
        }
        out = it->get<std::string>();
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

// The fields of one event; false with the reason in f.error.
bool ReadEvent(Fields &f, CaptureEvent &e)
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
        if (!f.Int("format", format) || !f.Text("writer", e.writer) || !f.Text("version", e.version, false) ||
            !f.Text("port", e.port, false) || !f.Int("baud", e.baud, false) || !f.Int("pid", e.pid, false))
            return false;
        if (format != 1) {
            f.error = "format " + std::to_string(format) + " is not one this reader knows (1)";
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
    case CaptureEvent::TX:
    case CaptureEvent::RX: return f.Hex("hex", e.bytes);
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
void SalvageWhere(const json &j, CaptureEvent &e)
{
    if (!j.is_object())
        return;
    auto h = j.find("handle");
    if (h != j.end() && h->is_string())
        e.handle = h->get<std::string>();
    auto p = j.find("pid");
    if (p != j.end() && p->is_number_integer())
        e.pid = p->get<int64_t>();
}

}  // namespace

bool ReadCapture(std::istream &in, Capture &capture, std::string &error)
{
    capture.events.clear();
    capture.skipped.clear();
    std::string text;
    // per process and port: a trace of several ports interleaves calls, and
    // several processes may write one file, each on its own clock
    std::map<std::pair<int64_t, std::string>, int64_t> lastTime;
    std::map<int64_t, int> sessionOf;  // the latest header of each process
    int sessions = 0;
    for (size_t number = 1;; ++number) {
        const int got = NextLine(in, text);
        if (got == 0)
            break;
        std::string why;
        json j;
        CaptureEvent e;
        e.line = number;
        if (got == -1) {
            why = "longer than 1 MiB";
        } else if (got == -2) {
            why = "cut short (no end of line)";
        } else if (text.empty() || text == "\r") {
            continue;
        } else {
            j = json::parse(text, nullptr, false);
            if (j.is_discarded() || !j.is_object()) {
                why = "not a JSON object";
            } else {
                Fields f{j, ""};
                if (!ReadEvent(f, e))
                    why = f.error;
            }
        }
        const std::string where = "line " + std::to_string(number) + ": ";
        if (why.rfind("format ", 0) == 0) {  // a header of another format
            error = where + why;
            return false;
        }
        if (sessions == 0 && (!why.empty() || e.kind != CaptureEvent::HEADER)) {
            // the first line decides whether this is a capture at all
            error = where + "not a capture (no header)" + (why.empty() ? "" : ": " + why);
            return false;
        }
        if (why.empty() && e.kind == CaptureEvent::HEADER) {
            sessionOf[e.pid] = ++sessions;
            for (auto it = lastTime.begin(); it != lastTime.end();)
                it = it->first.first == e.pid ? lastTime.erase(it) : std::next(it);
        } else if (why.empty()) {
            if (!sessionOf.count(e.pid)) {
                why = "a line of process " + std::to_string(e.pid) + " before its header";
            } else {
                int64_t &last = lastTime[{e.pid, e.handle}];
                if (e.t < last)
                    why = "time " + std::to_string(e.t) + " is before the line before it (" + std::to_string(last) + ")";
                else
                    last = e.t;
            }
        }
        if (!why.empty()) {
            CaptureEvent d;
            d.kind = CaptureEvent::DAMAGED;
            d.line = number;
            d.reason = why;
            SalvageWhere(j, d);
            e = d;
            capture.skipped.push_back(where + why);
        }
        // a damaged line of an unknown process belongs with the line before it
        e.session = sessionOf.count(e.pid) ? sessionOf[e.pid]
                    : capture.events.empty() ? 1 : capture.events.back().session;
        capture.events.push_back(std::move(e));
    }
    if (sessions == 0) {
        error = "line 1: not a capture (no header)";
        return false;
    }
    std::stable_sort(capture.events.begin(), capture.events.end(),
                     [](const CaptureEvent &a, const CaptureEvent &b) { return a.session < b.session; });
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

bool CaptureWriter::Open(const std::string &path, const std::string &writer, const std::string &port, int baud,
                         bool exclusive)
{
    file_ = fopen(path.c_str(), exclusive ? "wx" : "w");
    if (!file_)
        return false;
    json h = {{"e", "header"}, {"format", 1}, {"writer", writer}, {"version", "1.0.0.1"},
              {"port", port},  {"baud", baud}, {"clock", "us"}};
    Write(h.dump(-1, ' ', false, json::error_handler_t::replace));
    return true;
}

void CaptureWriter::Bytes_(CaptureEvent::Kind direction, int64_t t, const Bytes &bytes)
{
    if (!file_ || bytes.empty())
        return;
    json j = {{"e", direction == CaptureEvent::TX ? "tx" : "rx"}, {"t", t}, {"hex", HexOf(bytes)}};
    Write(j.dump());
}

void CaptureWriter::Line(int64_t t, int baud)
{
    if (file_)
        Write(json({{"e", "line"}, {"t", t}, {"baud", baud}}).dump());
}

void CaptureWriter::Note(int64_t t, const std::string &text)
{
    if (file_)
        Write(json({{"e", "note"}, {"t", t}, {"text", text}}).dump(-1, ' ', false, json::error_handler_t::replace));
}

void CaptureWriter::Write(const std::string &line)
{
    fputs(line.c_str(), file_);
    fputc('\n', file_);
    fflush(file_);
}

void CaptureWriter::Close()
{
    if (file_)
        fclose(file_);
    file_ = nullptr;
}
