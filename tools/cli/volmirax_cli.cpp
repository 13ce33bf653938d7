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
#include "cli_options.h"
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
    int bad = ParseOptions(argc, argv, o);
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
