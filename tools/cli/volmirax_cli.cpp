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
#include "commands.h"

int main(int argc, char **argv)
{
    CommandLine line;
    const int bad = SplitCommandLine(argc, argv, line);
    if (bad != 0)
        return bad < 0 ? 0 : bad;
#ifndef _WIN32
    if (line.command == "tap")
        return TapCommand(line);
    if (line.command == "trace")
        return TraceCommand(line);
    if (line.command == "report")
        return ReportCommand(line);
#endif
    return DeviceCommand(line);
}
