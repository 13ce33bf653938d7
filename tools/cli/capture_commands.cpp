// volmirax trace FILE and volmirax report FILE [-o OUT] (Linux).
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <vector>
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

// Reads a capture an event at a time, in constant memory, handing each to
// `take`; each skipped line is said on standard error. 0; 2 with the
// reader's refusal; 4 when lines were skipped.
int ReadForTool(const std::string &path, const std::function<void(const CaptureEvent &)> &take)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "volmirax: %s: cannot be read\n", Printable(path).c_str());
        return 2;
    }
    std::vector<char> buffer(1 << 20);
    in.rdbuf()->pubsetbuf(buffer.data(), (std::streamsize)buffer.size());
    CaptureReader reader(in);
    CaptureEvent e;
    std::string error;
    if (!reader.Start(e, error)) {
        fprintf(stderr, "volmirax: %s: %s\n", Printable(path).c_str(), Printable(error).c_str());
        return 2;
    }
    bool skipped = false;
    do {
        if (e.kind == CaptureEvent::DAMAGED) {
            skipped = true;
            fprintf(stderr, "volmirax: %s: skipped line %zu: %s\n", Printable(path).c_str(), e.line,
                    Printable(e.reason).c_str());
        }
        take(e);
    } while (reader.Next(e));
    return skipped ? 4 : 0;
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
    CaptureListing listing;
    std::vector<std::string> lines;
    auto print = [&]() {
        for (const std::string &text : lines) {
            fputs(text.c_str(), stdout);
            fputc('\n', stdout);
        }
        lines.clear();
    };
    const int read = ReadForTool(path, [&](const CaptureEvent &e) {
        listing.Add(e, lines);
        print();
    });
    if (read == 2)
        return read;
    listing.End(lines);
    print();
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
    ReportBuilder report(path);
    const int read = ReadForTool(path, [&](const CaptureEvent &e) { report.Add(e); });
    if (read == 2)
        return read;
    const std::string page = report.Page();
    std::ofstream out(output, std::ios::binary);
    if (!out.write(page.data(), (std::streamsize)page.size()) || !out.flush()) {
        fprintf(stderr, "volmirax: cannot write %s\n", Printable(output).c_str());
        return 1;
    }
    printf("%s: %zu bytes\n", Printable(output).c_str(), page.size());
    return read;
}
