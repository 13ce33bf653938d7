// volmirax: talk to the card device from a shell.
//
//   volmirax (--port N | --device PATH) [--baud B] [--json] COMMAND
//   COMMAND: version | reset PM D1..D7 | eject PM | send HEX... | eot | ports
//   volmirax tap --device PATH --link PATH [--record FILE]   (Linux)
//   volmirax trace FILE                                     (Linux)
//   volmirax report FILE [-o report.html]                   (Linux)
//
// Written only against the public header. Arguments are checked before
// the library is called at all.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "volmirax.h"
#include "volmirax_codes.h"
#include "fd_io.h"
#include "json_text.h"
#include "printable.h"
#include "wire_model.h"
#include "serial_ports.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fstream>
#include <sys/stat.h>

#include "capture_listing.h"
#include "report.h"
#include "tap.h"
#endif

namespace {

const char kUsage[] =
    "usage: volmirax (--port N | --device PATH) [--baud B] [--json] COMMAND\n"
    "commands:\n"
    "  version              read the device's version (GetMachineVersion)\n"
    "  reset PM D1..D7      reset the device (ReSet)\n"
    "  eject PM             eject the card (EjectCard)\n"
    "  send HEX...          send command bytes of your own (SendCmd), e.g. send 33 30\n"
    "  eot                  send the abort sequence (SendEot)\n"
    "  ports                list the serial ports of this machine\n"
#ifndef _WIN32
    "  tap                  sit between a host and a real device (--device) and print\n"
    "                       the decoded traffic; the host opens the --link path\n"
    "  trace FILE           print a capture (the library's VOLMIRAX_TRACE file, or one\n"
    "                       recorded by the tap or the simulator) as a decoded listing\n"
    "  report FILE -o OUT   write a capture as one self-contained HTML page: summary,\n"
    "                       response times against the time-outs, a timeline per exchange\n"
#endif
    "options:\n"
    "  --port N             COM port number, 1 to 256 (on Linux /dev/ttyS<N-1>)\n"
#ifndef _WIN32
    "  --device PATH        serial device by path (/dev/ttyUSB0, a pseudo-terminal)\n"
    "  --link PATH          tap: where the host's side of the tap appears\n"
    "  --record FILE        tap: also write the traffic to FILE as a capture\n"
#endif
    "  --baud B             1200 to 115200, default 9600 (others open at 9600)\n"
    "  --json               one JSON object on standard output\n"
    "  --ack MS --reply MS --eot MS   time-outs of send and eot (1000, 3000, 500)\n"
    "A byte argument (PM, D1..D7) is one character (0 is 0x30) or 0xNN.\n"
    "Exit status: 0 when the result code is 0; 1 for any other result code; 2 for a\n"
    "bad argument (the library is not called); 3 when the port could not be opened.\n";

struct Options {
    int port = 0;
    std::string device;
    std::string link;
    std::string record;  // tap: the capture to write
    std::string file;    // trace, report: the capture to read
    std::string output = "report.html";  // report: the page to write
    int baud = 9600;
    bool json = false;
    int ack = 1000, reply = 3000, eot = 500;
    std::string command;
    std::vector<unsigned char> bytes;  // reset: pm d1..d7; eject: pm; send: command bytes
};

int Error(const std::string &message)
{
    fprintf(stderr, "volmirax: %s (try --help)\n", Printable(message).c_str());
    return 2;
}

// A whole decimal number, digits only (no sign, no spaces), within [lo, hi].
bool ParseInt(const char *s, int lo, int hi, int &out)
{
    if (*s == 0 || strspn(s, "0123456789") != strlen(s) || strlen(s) > 9)
        return false;
    long v = strtol(s, nullptr, 10);
    if (v < lo || v > hi)
        return false;
    out = (int)v;
    return true;
}

bool ParseByte(const std::string &s, unsigned char &out)
{
    if (s.size() == 1) {
        out = (unsigned char)s[0];
        return true;
    }
    if (s.size() == 4 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && isxdigit((unsigned char)s[2]) &&
        isxdigit((unsigned char)s[3])) {
        out = (unsigned char)strtol(s.c_str() + 2, nullptr, 16);
        return true;
    }
    return false;
}

bool ParseHex(const std::string &s, std::vector<unsigned char> &out)
{
    std::string digits;
    for (char c : s) {
        if (!isxdigit((unsigned char)c))
            return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back((unsigned char)strtol(digits.substr(i, 2).c_str(), nullptr, 16));
    return true;
}

// 0 when the arguments are sound; otherwise the exit status, after a
// one-line message.
int Parse(int argc, char **argv, Options &o)
{
    // Options may come before or after the command ("tap --device ...");
    // everything else is the command and its arguments, in order.
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "-o") && i + 1 < argc) {
            o.output = argv[++i];
            continue;
        }
        if (argv[i][0] != '-' || argv[i][1] != '-') {
            positional.push_back(argv[i]);
            continue;
        }
        std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--help") {
            fputs(kUsage, stdout);
            return -1;
        } else if (a == "--json") {
            o.json = true;
        } else if (!v) {
            return Error("missing value after " + a);
        } else if (a == "--port") {
            if (!ParseInt(v, 1, 256, o.port))
                return Error(std::string("port out of range: ") + v + " (1 to 256)");
            ++i;
#ifndef _WIN32
        } else if (a == "--device") {
            o.device = v;
            ++i;
        } else if (a == "--link") {
            o.link = v;
            ++i;
        } else if (a == "--record") {
            o.record = v;
            ++i;
#endif
        } else if (a == "--baud") {
            if (!ParseInt(v, 1, 10000000, o.baud))
                return Error(std::string("bad baud rate: ") + v);
            ++i;
        } else if (a == "--ack" || a == "--reply" || a == "--eot") {
            int &t = a == "--ack" ? o.ack : a == "--reply" ? o.reply : o.eot;
            if (!ParseInt(v, 0, 600000, t))
                return Error("bad time-out " + a + " " + v);
            ++i;
        } else {
            return Error("unknown option " + a);
        }
    }
    if (positional.empty())
        return Error("no command");
    o.command = positional[0];
    std::vector<std::string> args(positional.begin() + 1, positional.end());
    size_t want = o.command == "reset" ? 8 : o.command == "eject" ? 1 : 0;
    if (o.command == "reset" || o.command == "eject") {
        if (args.size() != want)
            return Error(o.command + " takes " + std::to_string(want) + " byte argument" + (want > 1 ? "s" : ""));
        for (auto &a : args) {
            unsigned char b;
            if (!ParseByte(a, b))
                return Error("bad byte '" + a + "' (one character, or 0xNN)");
            o.bytes.push_back(b);
        }
    } else if (o.command == "send") {
        for (auto &a : args)
            if (!ParseHex(a, o.bytes))
                return Error("bad hex '" + a + "'");
        if (o.bytes.size() < 2)
            return Error("send needs at least two bytes: command code and parameter code");
    } else if (o.command == "version" || o.command == "eot" || o.command == "ports") {
        if (!args.empty())
            return Error(o.command + " takes no arguments");
#ifndef _WIN32
    } else if (o.command == "tap") {
        if (!args.empty())
            return Error("tap takes no arguments");
        if (o.device.empty() || o.link.empty())
            return Error("tap needs --device PATH and --link PATH");
        return 0;
    } else if (o.command == "trace" || o.command == "report") {
        if (args.size() != 1)
            return Error(o.command + " takes one capture file");
        o.file = args[0];
        return 0;
#endif
    } else {
        return Error("unknown command '" + o.command + "'");
    }
    if (o.command != "ports" && o.port == 0 && o.device.empty())
        return Error("say which port: --port N" 
#ifndef _WIN32
                     " or --device PATH"
#endif
        );
    return 0;
}

std::string TextOf(const unsigned char *b, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += (b[i] >= 0x20 && b[i] < 0x7F) ? (char)b[i] : '.';
    return s;
}

struct Result {
    int rc = 0;
    std::vector<unsigned char> data;
    bool hasData = false;
    long long ms = 0;
};

void Print(const Options &o, const Result &r)
{
    const bool library = VolmiraxFindCode(r.rc) != nullptr;
    const std::string name = library ? VolmiraxCodeName(r.rc) : "DEVICE_STATUS";
    const std::string meaning = VolmiraxCodeMeaning(r.rc);
    if (o.json) {
        printf("{\"command\": %s, \"result\": %d, \"name\": %s, \"meaning\": %s", JsonString(o.command).c_str(),
               r.rc, JsonString(name).c_str(), JsonString(meaning).c_str());
        if (r.hasData)
            printf(", \"data_hex\": %s, \"data_text\": %s",
                   JsonString(HexOf(r.data)).c_str(),
                   JsonString(TextOf(r.data.data(), r.data.size())).c_str());
        printf(", \"ms\": %lld}\n", r.ms);
        return;
    }
    printf("result: %d %s (%s)\n", r.rc, name.c_str(), meaning.c_str());
    if (r.hasData)
        printf("data:   %s  \"%s\"\n", HexOf(r.data).c_str(),
               TextOf(r.data.data(), r.data.size()).c_str());
    printf("time:   %lld ms\n", r.ms);
}

Result Run(HANDLE h, const Options &o)
{
    Result r;
    auto t0 = std::chrono::steady_clock::now();
    const std::vector<unsigned char> &b = o.bytes;
    if (o.command == "version") {
        unsigned char v[VOLMIRAX_MAX_VERSION + 1];
        memset(v, 0, sizeof v);
        r.rc = GetMachineVersion(h, v);
        if (r.rc == 0) {
            // The buffer was zeroed and no length comes back: the data runs
            // to its last non-zero byte, NUL bytes inside it included.
            size_t n = VOLMIRAX_MAX_VERSION;
            while (n > 0 && v[n - 1] == 0)
                --n;
            r.hasData = true;
            r.data.assign(v, v + n);
        }
    } else if (o.command == "reset") {
        r.rc = ReSet(h, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
    } else if (o.command == "eject") {
        r.rc = EjectCard(h, b[0]);
    } else if (o.command == "send") {
        unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
        unsigned len = 0;
        r.rc = SendCmd(h, b.data(), (unsigned)b.size(), data, &len, o.ack, o.reply, o.eot);
        r.hasData = len > 0;
        r.data.assign(data, data + len);
    } else if (o.command == "eot") {
        r.rc = SendEot(h, o.eot);
    }
    r.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    return r;
}

#ifndef _WIN32
// Reads a capture for trace and report: 0; 2 with the reader's refusal;
// 4 when lines were skipped (each said on standard error).
int ReadForTool(const std::string &path, Capture &capture)
{
    std::string error;
    if (!ReadCaptureFile(path, capture, error)) {
        fprintf(stderr, "volmirax: %s\n", Printable(error).c_str());
        return 2;
    }
    for (const std::string &s : capture.skipped)
        fprintf(stderr, "volmirax: %s: skipped %s\n", Printable(path).c_str(), Printable(s).c_str());
    return capture.skipped.empty() ? 0 : 4;
}

// volmirax trace: 0, 2 with the reader's refusal (line and reason), 4 when
// lines were skipped.
int PrintCapture(const std::string &path)
{
    Capture capture;
    const int read = ReadForTool(path, capture);
    if (read == 2)
        return read;
    for (const std::string &line : ListCapture(capture))
        printf("%s\n", line.c_str());
    return read;
}

// Whether two paths name one file (the output may not exist yet).
bool SameFile(const std::string &a, const std::string &b)
{
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// volmirax report: 0, 2 with the reader's refusal or an output that is the
// capture itself, 1 when the page cannot be written, 4 when lines were
// skipped.
int WriteReport(const std::string &path, const std::string &output)
{
    if (SameFile(path, output)) {
        fprintf(stderr, "volmirax: the page would overwrite the capture %s: give another -o\n", Printable(output).c_str());
        return 2;
    }
    Capture capture;
    const int read = ReadForTool(path, capture);
    if (read == 2)
        return read;
    const std::string page = ReportPage(path, capture);
    std::ofstream out(output, std::ios::binary);
    if (!out.write(page.data(), (std::streamsize)page.size()) || !out.flush()) {
        fprintf(stderr, "volmirax: cannot write %s\n", Printable(output).c_str());
        return 1;
    }
    printf("%s: %zu bytes\n", Printable(output).c_str(), page.size());
    return read;
}
#endif

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    int bad = Parse(argc, argv, o);
    if (bad != 0)
        return bad < 0 ? 0 : bad;
    if (o.command == "ports") {
        for (const std::string &p : ListSerialPorts())
            printf("%s\n", p.c_str());
        return 0;
    }
#ifndef _WIN32
    if (o.command == "tap")
        return RunTap(o.device, o.link, o.record, fileno(stdout));
    if (o.command == "trace")
        return PrintCapture(o.file);
    if (o.command == "report")
        return WriteReport(o.file, o.output);
    HANDLE h = o.device.empty() ? OpenComm(o.port, o.baud) : OpenCommPath(o.device.c_str(), o.baud);
    const std::string where = o.device.empty() ? "/dev/ttyS" + std::to_string(o.port - 1) : o.device;
#else
    HANDLE h = OpenComm(o.port, o.baud);
    const std::string where = "COM" + std::to_string(o.port);
#endif
    if (!h) {
        const unsigned long reason = LastSystemError();
        const std::string message = OpenFailureMessage(where, reason);
        if (o.json)
            printf("{\"command\": %s, \"error\": %s, \"reason\": %lu}\n", JsonString(o.command).c_str(),
                   JsonString(message).c_str(), reason);
        else
            fprintf(stderr, "volmirax: %s\n", Printable(message).c_str());
        return 3;
    }
    Result r = Run(h, o);
    CloseComm(&h);
    Print(o, r);
    return r.rc == 0 ? 0 : 1;
}
