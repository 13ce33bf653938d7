// devsim: a simulated card device on a pseudo-terminal.
//
//   devsim [--link PATH] [--trace] [--control] [--pace BAUD]
//          [--on CODE=BEHAVIOUR]... [--default BEHAVIOUR] [--record FILE [--record-max MB]]
//   devsim [--link PATH] [--trace] --replay FILE [--loose] [--allow-prefix]
//
// --record writes the line to FILE as a capture (moved to FILE.1 once it
// passes --record-max megabytes, default 32, as the library's trace); --replay plays the
// device's side of a capture instead of the behaviours, and exits 1 at the
// end unless the host followed it to its end (with --allow-prefix: as far
// as it went). Lines of the capture that cannot be read are said on
// standard error and their exchanges are not answered.
//
// It prints the slave's path ("devsim: /dev/pts/N") and, with --link, keeps
// a symbolic link at PATH pointing to it (also after a scripted hang-up,
// when it opens a new pseudo-terminal). See README for the behaviours.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture.h"
#include "clock.h"
#include "device.h"
#include "printable.h"
#include "pty_line.h"
#include "replay.h"
#include "wire_model.h"

using namespace devsim;

namespace {

volatile sig_atomic_t g_stop = 0;

int64_t NowUs() { return MonotonicUs(); }

void Trace(FILE *f, int64_t t0, const char *dir, const Bytes &b, const std::string &what)
{
    if (!f)
        return;
    fprintf(f, "%s\n", TraceLine((NowUs() - t0) / 1e6, dir, b, what).c_str());
    fflush(f);
}

// A line rate of the list the library and the tap know ("0" too, when
// `zero` allows it).
bool Rate(const std::string &text, int &out, bool zero)
{
    char *end = nullptr;
    const long v = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || v < 0 || v > 4000000 || (v == 0 ? !zero : !IsLineRate((int)v)))
        return false;
    out = (int)v;
    return true;
}

// The rate the host has set on its end of the line (0 when unreadable).
int HostBaud(int slave)
{
    termios t;
    return tcgetattr(slave, &t) == 0 ? BaudOfSpeed(cfgetospeed(&t)) : 0;
}

int Usage()
{
    fprintf(stderr,
            "usage: devsim [--link PATH] [--trace[=FILE]] [--control] [--baud BAUD|any] [--pace BAUD|0]\n"
            "              [--on CODE=BEHAVIOUR]... [--default BEHAVIOUR] [--record FILE [--record-max MB]]\n"
            "       devsim [--link PATH] [--trace[=FILE]] --replay FILE [--loose] [--allow-prefix]\n"
            "--record-max: the recording moves to FILE.1 once it passes this size (default 32 MB).\n"
            "--baud: the device's line rate (default 9600); a host at another rate is heard as\n"
            "  garbage and not answered ('any': heard at every rate). --pace: bytes go out no\n"
            "  faster than this rate (default: the device's rate; 0: as fast as they come).\n"
            "BEHAVIOUR: comma-separated words, for one command code (--on) or all others (--default):\n"
            "  ok            answer correctly (and forget the words before it)\n"
            "  silent        no acknowledgement, no reply; the abort is echoed\n"
            "  dead          nothing at all, not even the abort's echo\n"
            "  noreply       acknowledge, then never reply\n"
            "  nak           the acknowledgement starts with NAK instead of ACK\n"
            "  halfack       only the first byte of the acknowledgement, then nothing\n"
            "  badbcc        the reply's block check is wrong\n"
            "  badecho       the reply echoes the parameter code plus one\n"
            "  nocr          the reply never ends (no CR)\n"
            "  extra         garbage after the acknowledgement and after the reply's CR\n"
            "  noise         garbage before the reply's STX\n"
            "  crdata        a CR inside the reply's status bytes\n"
            "  early         reply to the request while the host is still writing its CR\n"
            "  hangup        hang up half-way through the reply (a new line at the same --link)\n"
            "  eotnone       do not echo the abort sequence\n"
            "  eotwrong      echo the abort sequence wrongly (LF for CR)\n"
            "  marker=X      the reply's marker (P positive, N negative)\n"
            "  status=TEXT   the reply's two status bytes (default 00)\n"
            "  data=TEXT     the reply's data; datalen=N: N letters A..Z as data\n"
            "  ackdelay=MS   think before the acknowledgement; replydelay=MS: before the reply\n"
            "  slow=MS       pause between reply bytes; split=N:MS: the reply in N-byte pieces, MS apart\n"
            "  TEXT takes \\xNN for any byte; MS and N are 0 to 600000\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    Device device;
    device.behaviours['<'].data = {'V', 'O', 'L', 'M', 'I', 'R', 'A', 'X', '-', 'S', 'I', 'M', ' ', '1', '.', '0'};
    std::string link, recordPath, replayPath;
    bool loose = false, allowPrefix = false, paceGiven = false;
    long long recordLimit = CaptureWriter::kDefaultLimit;
    FILE *trace = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string next = i + 1 < argc ? argv[i + 1] : "";
        std::string error;
        if (a == "--link" && i + 1 < argc) {
            link = next;
            ++i;
        } else if (a == "--trace") {
            trace = stdout;
        } else if (a.rfind("--trace=", 0) == 0) {
            trace = fopen(a.c_str() + 8, "w");
        } else if (a == "--record" && i + 1 < argc) {
            recordPath = next;
            ++i;
        } else if (a == "--record-max" && i + 1 < argc) {
            if (!CaptureWriter::LimitFromText(next, recordLimit))
                return fprintf(stderr, "devsim: --record-max takes megabytes (more than 0, at most 1048576), not '%s'\n",
                               Printable(next).c_str()), 2;
            ++i;
        } else if (a == "--replay" && i + 1 < argc) {
            replayPath = next;
            ++i;
        } else if (a == "--loose") {
            loose = true;
        } else if (a == "--allow-prefix") {
            allowPrefix = true;
        } else if (a == "--control") {
            device.control = true;
        } else if (a == "--pace" && i + 1 < argc) {
            if (!Rate(next, device.paceBaud, true))
                return fprintf(stderr, "devsim: --pace takes a line rate or 0, not '%s'\n", Printable(next).c_str()), 2;
            paceGiven = true;
            ++i;
        } else if (a == "--baud" && i + 1 < argc) {
            if (next == "any")
                device.lineBaud = 0;
            else if (!Rate(next, device.lineBaud, false))
                return fprintf(stderr, "devsim: --baud takes a line rate or 'any', not '%s'\n", Printable(next).c_str()), 2;
            ++i;
        } else if (a == "--default" && i + 1 < argc) {
            if (!ApplyBehaviour(next, device.fallback, error))
                return fprintf(stderr, "devsim: %s\n", Printable(error).c_str()), 2;
            ++i;
        } else if (a == "--on" && i + 1 < argc && next.size() > 2 && next[1] == '=') {
            Behaviour &b = device.behaviours[static_cast<unsigned char>(next[0])];
            if (!ApplyBehaviour(next.substr(2), b, error))
                return fprintf(stderr, "devsim: %s\n", Printable(error).c_str()), 2;
            ++i;
        } else {
            return Usage();
        }
    }

    // the device's line is paced at its own rate unless told otherwise
    if (!paceGiven)
        device.paceBaud = device.lineBaud;
    device.KeepAsStart();
    Replay replay;
    if (!replayPath.empty()) {
        Capture capture;
        std::string error;
        if (!ReadCaptureFile(replayPath, capture, error) || !replay.Load(capture, loose, error))
            return fprintf(stderr, "devsim: %s\n", Printable(error).c_str()), 2;
        for (const std::string &s : capture.skipped)
            fprintf(stderr, "devsim: %s: skipped %s\n", Printable(replayPath).c_str(), Printable(s).c_str());
    }
    // wake on time to the microsecond, so that a paced line keeps its rate;
    // ahead of the hosts on a busy machine where the system allows it (root)
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    setpriority(PRIO_PROCESS, 0, -10);
    signal(SIGINT, [](int) { g_stop = 1; });
    signal(SIGTERM, [](int) { g_stop = 1; });
    signal(SIGPIPE, SIG_IGN);

    Pty pty;
    if (!OpenPty(pty, link)) {
        perror("devsim: pseudo-terminal");
        return 1;
    }
    printf("devsim: %s\n", pty.path.c_str());
    fflush(stdout);

    CaptureWriter record;
    if (!recordPath.empty() && !record.Open(recordPath, "devsim", link.empty() ? pty.path : link, device.lineBaud, false,
                                                    recordLimit))
        return fprintf(stderr, "devsim: cannot write %s\n", Printable(recordPath).c_str()), 1;
    const int64_t t0 = NowUs();
    int64_t orphanCheckAt = t0;
    int closes = WatchCloses(pty);
    std::vector<Output> queue;
    while (!g_stop) {
        if (NowUs() >= orphanCheckAt) {
            ReleaseOrphanedExclusive(pty);
            orphanCheckAt = NowUs() + 100000;
        }
        // wakes for the next byte due to the microsecond, so that a paced
        // line keeps its rate
        int64_t wait = 200000;
        if (!queue.empty())
            wait = std::max<int64_t>(0, std::min<int64_t>(queue.front().at - NowUs(), 200000));
        timespec timeout = {static_cast<time_t>(wait / 1000000), static_cast<long>(wait % 1000000) * 1000};
        pollfd fds[2] = {{pty.master, POLLIN, 0}, {closes, POLLIN, 0}};
        int r = ppoll(fds, closes >= 0 ? 2 : 1, &timeout, nullptr);
        if (r > 0 && closes >= 0 && (fds[1].revents & POLLIN)) {
            // a host closed the line, or died: its exclusive mode goes now
            ForgetCloses(closes);
            ReleaseOrphanedExclusive(pty);
        }
        record.Idle(NowUs() - t0);
        const pollfd &p = fds[0];
        if (r > 0 && (p.revents & POLLIN)) {
            unsigned char buf[4096];
            ssize_t n = read(pty.master, buf, sizeof buf);
            if (n > 0) {
                Bytes in(buf, buf + n);
                if (!replayPath.empty()) {
                    record.Tx(NowUs() - t0, in);
                    Trace(trace, t0, "host>dev", in, "");
                    replay.Receive(in, NowUs(), queue);
                    std::stable_sort(queue.begin(), queue.end(),
                                     [](const Output &a, const Output &b) { return a.at < b.at; });
                    continue;
                }
                // the simulator's own traffic is left out of the trace
                const bool wasControl = device.InControl();
                device.lineReport = LineReport(pty.slave);
                device.hostBaud = HostBaud(pty.slave);
                device.Receive(in, NowUs(), queue);
                if (!wasControl && !device.InControl()) {
                    record.Tx(NowUs() - t0, in);
                    std::string notes;
                    for (auto &s : device.notes)
                        notes += (notes.empty() ? "" : "; ") + s;
                    Trace(trace, t0, "host>dev", in, notes);
                }
                device.notes.clear();
                std::stable_sort(queue.begin(), queue.end(),
                                 [](const Output &a, const Output &b) { return a.at < b.at; });
            }
        } else if (r > 0 && (p.revents & (POLLHUP | POLLERR))) {
            usleep(1000);
        }
        while (!queue.empty() && queue.front().at <= NowUs()) {
            Output o = queue.front();
            queue.erase(queue.begin());
            if (!o.bytes.empty()) {
                ssize_t w = write(pty.master, o.bytes.data(), o.bytes.size());
                (void)w;
                if (!o.control) {
                    record.Rx(NowUs() - t0, o.bytes);
                    Trace(trace, t0, "dev>host", o.bytes, o.what);
                }
            }
            if (o.hangup) {
                Trace(trace, t0, "dev>host", {}, "hangs up; new line at the same link");
                ClosePty(pty);
                queue.clear();
                usleep(100000);
                if (!OpenPty(pty, link)) {
                    perror("devsim: pseudo-terminal");
                    return 1;
                }
                if (closes >= 0)
                    close(closes);
                closes = WatchCloses(pty);
                printf("devsim: %s\n", pty.path.c_str());
                fflush(stdout);
            }
        }
    }
    ClosePty(pty);
    if (!link.empty())
        unlink(link.c_str());
    if (!replayPath.empty()) {
        printf("%s\n", replay.Summary().c_str());
        return replay.Failed(allowPrefix) ? 1 : 0;
    }
    return 0;
}
