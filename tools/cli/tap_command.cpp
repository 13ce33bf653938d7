// volmirax tap --device PATH --link PATH [--record FILE [--record-max MB]] (Linux).
#include <cstdio>

#include "capture.h"
#include "commands.h"
#include "tap.h"

int TapCommand(const CommandLine &line)
{
    if (int bad = OnlyOptions(line, {"--device", "--link", "--record", "--record-max"}))
        return bad;
    long long limit = CaptureWriter::kDefaultLimit;
    if (line.Has("--record-max") && !CaptureWriter::LimitFromText(line.Value("--record-max"), limit))
        return CommandLineError("--record-max takes megabytes (more than 0, at most 1048576), not " +
                                line.Value("--record-max"));
    if (!line.words.empty())
        return CommandLineError("tap takes no arguments");
    const std::string device = line.Value("--device"), link = line.Value("--link");
    if (device.empty() || link.empty())
        return CommandLineError("tap needs --device PATH and --link PATH");
    return RunTap(device, link, line.Value("--record"), limit, fileno(stdout));
}
