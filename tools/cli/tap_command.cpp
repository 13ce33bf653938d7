// volmirax tap --device PATH --link PATH [--record FILE] (Linux).
#include <cstdio>

#include "commands.h"
#include "tap.h"

int TapCommand(const CommandLine &line)
{
    if (int bad = OnlyOptions(line, {"--device", "--link", "--record"}))
        return bad;
    if (!line.words.empty())
        return CommandLineError("tap takes no arguments");
    const std::string device = line.Value("--device"), link = line.Value("--link");
    if (device.empty() || link.empty())
        return CommandLineError("tap needs --device PATH and --link PATH");
    return RunTap(device, link, line.Value("--record"), fileno(stdout));
}
