// volmirax trace FILE and volmirax report FILE [-o OUT] (Linux).
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "capture_listing.h"
#include "commands.h"
#include "printable.h"
#include "report.h"

namespace {

// The one capture file both commands take: 0, or 2 after a message.
int CaptureFileOf(const CommandLine &line, std::string &path)
{
    if (line.words.size() != 1)
        return CommandLineError(line.command + " takes one capture file");
    path = line.words[0];
    return 0;
}

// Reads a capture: 0; 2 with the reader's refusal; 4 when lines were
// skipped (each said on standard error).
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

// Whether two paths name one file (the output may not exist yet).
bool SameFile(const std::string &a, const std::string &b)
{
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

}  // namespace

// 0, 2 with the reader's refusal (line and reason), 4 when lines were
// skipped.
int TraceCommand(const CommandLine &line)
{
    std::string path;
    if (int bad = OnlyOptions(line, {}))
        return bad;
    if (int bad = CaptureFileOf(line, path))
        return bad;
    Capture capture;
    const int read = ReadForTool(path, capture);
    if (read == 2)
        return read;
    for (const std::string &text : ListCapture(capture))
        printf("%s\n", text.c_str());
    return read;
}

// 0, 2 with the reader's refusal or an output that is the capture itself,
// 1 when the page cannot be written, 4 when lines were skipped.
int ReportCommand(const CommandLine &line)
{
    std::string path;
    if (int bad = OnlyOptions(line, {"-o"}))
        return bad;
    if (int bad = CaptureFileOf(line, path))
        return bad;
    const std::string output = line.Value("-o", "report.html");
    if (SameFile(path, output)) {
        fprintf(stderr, "volmirax: the page would overwrite the capture %s: give another -o\n",
                Printable(output).c_str());
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
