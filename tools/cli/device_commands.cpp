// version, reset, eject, send, eot (one call on an opened port) and ports.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "fd_io.h"
#include "json_text.h"
#include "printable.h"
#include "serial_ports.h"
#include "volmirax.h"
#include "volmirax_codes.h"
#include "wire_model.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct Call {
    std::string command;
    std::vector<unsigned char> bytes;  // reset: pm d1..d7; eject: pm; send: command bytes
    int ack = 1000, reply = 3000, eot = 500;
    bool json = false;
};

struct Result {
    int rc = 0;
    std::vector<unsigned char> data;
    bool hasData = false;
    long long ms = 0;
};

std::string TextOf(const std::vector<unsigned char> &b)
{
    std::string s;
    for (unsigned char c : b)
        s += (c >= 0x20 && c < 0x7F) ? (char)c : '.';
    return s;
}

void Print(const Call &c, const Result &r)
{
    const bool library = VolmiraxFindCode(r.rc) != nullptr;
    const std::string name = library ? VolmiraxCodeName(r.rc) : "DEVICE_STATUS";
    const std::string meaning = VolmiraxCodeMeaning(r.rc);
    if (c.json) {
        printf("{\"command\": %s, \"result\": %d, \"name\": %s, \"meaning\": %s", JsonString(c.command).c_str(),
               r.rc, JsonString(name).c_str(), JsonString(meaning).c_str());
        if (r.hasData)
            printf(", \"data_hex\": %s, \"data_text\": %s", JsonString(HexOf(r.data)).c_str(),
                   JsonString(TextOf(r.data)).c_str());
        printf(", \"ms\": %lld}\n", r.ms);
        return;
    }
    printf("result: %d %s (%s)\n", r.rc, name.c_str(), meaning.c_str());
    if (r.hasData)
        printf("data:   %s  \"%s\"\n", HexOf(r.data).c_str(), TextOf(r.data).c_str());
    printf("time:   %lld ms\n", r.ms);
}

Result Run(HANDLE h, const Call &c)
{
    Result r;
    auto t0 = std::chrono::steady_clock::now();
    const std::vector<unsigned char> &b = c.bytes;
    if (c.command == "version") {
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
    } else if (c.command == "reset") {
        r.rc = ReSet(h, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
    } else if (c.command == "eject") {
        r.rc = EjectCard(h, b[0]);
    } else if (c.command == "send") {
        unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
        unsigned len = 0;
        r.rc = SendCmd(h, b.data(), (unsigned)b.size(), data, &len, c.ack, c.reply, c.eot);
        r.hasData = len > 0;
        r.data.assign(data, data + len);
    } else if (c.command == "eot") {
        r.rc = SendEot(h, c.eot);
    }
    r.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    return r;
}

// The command's words: 0, or 2 after a message.
int ParseWords(const CommandLine &line, Call &c)
{
    const std::vector<std::string> &words = line.words;
    if (c.command == "reset" || c.command == "eject") {
        const size_t want = c.command == "reset" ? 8 : 1;
        if (words.size() != want)
            return CommandLineError(c.command + " takes " + std::to_string(want) + " byte argument" +
                                    (want > 1 ? "s" : ""));
        for (const std::string &w : words) {
            unsigned char b;
            if (!ParseByte(w, b))
                return CommandLineError("bad byte '" + w + "' (one character, or 0xNN)");
            c.bytes.push_back(b);
        }
    } else if (c.command == "send") {
        for (const std::string &w : words)
            if (!ParseHex(w, c.bytes))
                return CommandLineError("bad hex '" + w + "'");
        if (c.bytes.size() < 2)
            return CommandLineError("send needs at least two bytes: command code and parameter code");
    } else if (c.command == "version" || c.command == "eot" || c.command == "ports") {
        if (!words.empty())
            return CommandLineError(c.command + " takes no arguments");
    } else {
        return CommandLineError("unknown command '" + c.command + "'");
    }
    return 0;
}

}  // namespace

int DeviceCommand(const CommandLine &line)
{
    Call c;
    c.command = line.command;
    if (int bad = ParseWords(line, c))
        return bad;
    if (c.command == "ports") {
        if (int bad = OnlyOptions(line, {"--json"}))
            return bad;
        for (const std::string &p : ListSerialPorts())
            printf("%s\n", p.c_str());
        return 0;
    }
    if (int bad = OnlyOptions(line, {"--port", "--device", "--baud", "--json", "--ack", "--reply", "--eot"}))
        return bad;
    int port = 0, baud = 9600;
    if (line.Has("--port") && !ParseInt(line.Value("--port"), 1, 256, port))
        return CommandLineError("port out of range: " + line.Value("--port") + " (1 to 256)");
    if (line.Has("--baud") && !ParseInt(line.Value("--baud"), 1, 10000000, baud))
        return CommandLineError("bad baud rate: " + line.Value("--baud"));
    for (const char *name : {"--ack", "--reply", "--eot"}) {
        int &t = !strcmp(name, "--ack") ? c.ack : !strcmp(name, "--reply") ? c.reply : c.eot;
        if (line.Has(name) && !ParseInt(line.Value(name), 0, 600000, t))
            return CommandLineError(std::string("bad time-out ") + name + " " + line.Value(name));
    }
    c.json = line.Has("--json");
    const std::string device = line.Value("--device");
#ifdef _WIN32
    if (!device.empty())
        return CommandLineError("--device is for Linux; say --port N");
#endif
    if (port == 0 && device.empty())
        return CommandLineError("say which port: --port N"
#ifndef _WIN32
                                " or --device PATH"
#endif
        );
#ifndef _WIN32
    HANDLE h = device.empty() ? OpenComm(port, baud) : OpenCommPath(device.c_str(), baud);
    const std::string where = device.empty() ? "/dev/ttyS" + std::to_string(port - 1) : device;
#else
    HANDLE h = OpenComm(port, baud);
    const std::string where = "COM" + std::to_string(port);
#endif
    if (!h) {
        const unsigned long reason = LastSystemError();
        const std::string message = OpenFailureMessage(where, reason);
        if (c.json)
            printf("{\"command\": %s, \"error\": %s, \"reason\": %lu}\n", JsonString(c.command).c_str(),
                   JsonString(message).c_str(), reason);
        else
            fprintf(stderr, "volmirax: %s\n", Printable(message).c_str());
        return 3;
    }
    Result r = Run(h, c);
    CloseComm(&h);
    Print(c, r);
    return r.rc == 0 ? 0 : 1;
}
