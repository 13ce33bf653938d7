#include "cli_options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "printable.h"

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
    "bad argument (the library is not called); 3 when the port could not be opened;\n"
    "4 when trace or report skipped damaged lines of a capture.\n";



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

}  // namespace

int ParseOptions(int argc, char **argv, Options &o)
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
