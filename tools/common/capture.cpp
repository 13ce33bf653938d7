#include "capture.h"

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
    {"timeout", CaptureEvent::TIMEOUT}, {"result", CaptureEvent::RESULT}, {"line", CaptureEvent::LINE}};

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
            !f.Text("port", e.port, false) || !f.Int("baud", e.baud, false))
            return false;
        if (format != 1) {
            f.error = "format " + std::to_string(format) + " is not one this reader knows (1)";
            return false;
        }
        return true;
    }
    if (!f.Int("t", e.t) || !f.Text("handle", e.handle, false))
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
    case CaptureEvent::RESULT: return f.Text("fn", e.fn) && f.Int("rc", e.rc) && f.Int("us", e.us);
    case CaptureEvent::LINE: return f.Int("baud", e.baud);
    default: return true;
    }
}

}  // namespace

bool ReadCapture(std::istream &in, Capture &capture, std::string &error)
{
    capture.events.clear();
    std::string text;
    std::map<std::string, int64_t> lastTime;  // per port: a trace of several ports interleaves calls
    int session = 0;
    for (size_t number = 1;; ++number) {
        const int got = NextLine(in, text);
        auto fail = [&](const std::string &why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (got == 0)
            break;
        if (got == -1)
            return fail("longer than 1 MiB");
        if (got == -2)
            return fail("cut short (no end of line)");
        if (text.empty() || text == "\r")
            continue;
        json j = json::parse(text, nullptr, false);
        if (j.is_discarded() || !j.is_object())
            return fail("not a JSON object");
        CaptureEvent e;
        Fields f{j, ""};
        if (!ReadEvent(f, e))
            return fail(f.error);
        e.line = number;
        if (e.kind == CaptureEvent::HEADER) {
            ++session;
            lastTime.clear();
        } else if (session == 0) {
            return fail("an event before the header");
        } else {
            int64_t &last = lastTime[e.handle];
            if (e.t < last)
                return fail("time " + std::to_string(e.t) + " is before the line before it (" + std::to_string(last) + ")");
            last = e.t;
        }
        e.session = session;
        capture.events.push_back(std::move(e));
    }
    if (session == 0) {
        error = "line 1: not a capture (no header)";
        return false;
    }
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

bool CaptureWriter::Open(const std::string &path, const std::string &writer, const std::string &port, int baud)
{
    file_ = fopen(path.c_str(), "w");
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
