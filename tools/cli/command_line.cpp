#include "command_line.h"

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
    "  --record-max MB      tap: FILE moves to FILE.1 past this size (default 32)\n"
#endif
    "  --baud B             1200 to 115200, default 9600 (others open at 9600)\n"
    "  --json               one JSON object on standard output\n"
    "  --ack MS --reply MS --eot MS   time-outs of send and eot (1000, 3000, 500)\n"
    "A byte argument (PM, D1..D7) is one character (0 is 0x30) or 0xNN.\n"
    "Exit status: 0 when the result code is 0; 1 for any other result code; 2 for a\n"
    "bad argument (the library is not called); 3 when the port could not be opened;\n"
    "4 when trace or report skipped damaged lines of a capture.\n";

// Every option the tool knows, and whether a value follows it.
const struct {
    const char *name;
    bool takesValue;
} kOptions[] = {{"--help", false},  {"--json", false},   {"--port", true},  {"--device", true},
                {"--link", true},   {"--record", true},  {"--record-max", true},  {"--baud", true},  {"--ack", true},
                {"--reply", true},  {"--eot", true},     {"-o", true}};

}  // namespace

bool CommandLine::Has(const std::string &name) const
{
    for (const auto &o : options)
        if (o.first == name)
            return true;
    return false;
}

std::string CommandLine::Value(const std::string &name, const std::string &fallback) const
{
    std::string value = fallback;
    for (const auto &o : options)
        if (o.first == name)
            value = o.second;
    return value;
}

int CommandLineError(const std::string &message)
{
    fprintf(stderr, "volmirax: %s (try --help)\n", Printable(message).c_str());
    return 2;
}

int SplitCommandLine(int argc, char **argv, CommandLine &line)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.size() < 2 || a[0] != '-' || (a[1] != '-' && a != "-o")) {
            if (line.command.empty())
                line.command = a;
            else
                line.words.push_back(a);
            continue;
        }
        if (a == "--help") {
            fputs(kUsage, stdout);
            return -1;
        }
        bool known = false, takesValue = false;
        for (const auto &o : kOptions)
            if (a == o.name) {
                known = true;
                takesValue = o.takesValue;
            }
        if (!known)
            return CommandLineError("unknown option " + a);
        if (takesValue && i + 1 >= argc)
            return CommandLineError("missing value after " + a);
        line.options.push_back({a, takesValue ? argv[++i] : ""});
    }
    if (line.command.empty())
        return CommandLineError("no command");
    return 0;
}

int OnlyOptions(const CommandLine &line, std::initializer_list<const char *> allowed)
{
    for (const auto &o : line.options) {
        bool ok = false;
        for (const char *name : allowed)
            ok = ok || o.first == name;
        if (!ok)
            return CommandLineError(line.command + " does not take " + o.first);
    }
    return 0;
}

bool ParseInt(const std::string &s, int lo, int hi, int &out)
{
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 9)
        return false;
    const long v = strtol(s.c_str(), nullptr, 10);
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
    if (s.empty() || s.size() % 2 != 0 || s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    for (size_t i = 0; i < s.size(); i += 2)
        out.push_back((unsigned char)strtol(s.substr(i, 2).c_str(), nullptr, 16));
    return true;
}
