#include "tap.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "capture.h"
#include "clock.h"
#include "posix_line.h"
#include "printable.h"
#include "serial_ports.h"
#include "wire_model.h"

namespace {

volatile sig_atomic_t g_stop = 0;

// Every ending but SIGKILL goes through the tap's own clean-up: an
// interrupt, a termination, a hang-up of its terminal, and a broken pipe
// (the trace piped into a program that has ended).
void CatchEndings()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = [](int) { g_stop = 1; };
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(sig, &sa, nullptr);
}

double NowSeconds() { return MonotonicUs() / 1e6; }

// Bytes on their way in one direction, held while the receiving side does
// not take them. Past kHeld the newest are dropped, as a UART that nobody
// reads drops them, and counted.
class Pending {
public:
    static const size_t kHeld = 64 * 1024;

    void Add(const unsigned char *b, size_t n)
    {
        const size_t room = kHeld - held_.size();
        const size_t kept = n < room ? n : room;
        held_.insert(held_.end(), b, b + kept);
        dropped_ += n - kept;
    }
    bool Empty() const { return held_.empty(); }
    // Writes what `fd` takes now: false when the write fails.
    bool Flush(int fd)
    {
        if (held_.empty())
            return true;
        ssize_t n = write(fd, held_.data(), held_.size());
        if (n > 0)
            held_.erase(held_.begin(), held_.begin() + n);
        return n >= 0 || errno == EAGAIN || errno == EINTR;
    }
    // Bytes dropped since the last call.
    unsigned long long TakeDropped()
    {
        const unsigned long long d = dropped_;
        dropped_ = 0;
        return d;
    }

private:
    std::vector<unsigned char> held_;
    unsigned long long dropped_ = 0;
};

// The settings of the line that the host has set on its pseudo-terminal,
// carried over to the device: rate, character size, parity, stop bits.
void FollowSettings(int hostSide, int device, tcflag_t &lastFlags, speed_t &lastSpeed)
{
    termios h, d;
    if (tcgetattr(hostSide, &h) != 0 || tcgetattr(device, &d) != 0)
        return;
    const tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB;
    const speed_t speed = cfgetospeed(&h);
    if ((h.c_cflag & mask) == lastFlags && speed == lastSpeed)
        return;
    lastFlags = h.c_cflag & mask;
    lastSpeed = speed;
    d.c_cflag = (d.c_cflag & ~mask) | lastFlags;
    cfsetispeed(&d, speed);
    cfsetospeed(&d, speed);
    tcsetattr(device, TCSANOW, &d);
}

// The tap's trace: lines go out only as fast as the trace's reader takes
// them (a look with poll() before each write, pieces no larger than a pipe
// or terminal takes at once), so that a reader that stops reading (a pager
// not scrolled, a stopped consumer) never holds up the relay or the
// signals. Up to kHeld bytes wait; lines past that are dropped and counted.
class TraceOut {
public:
    static const size_t kHeld = 1 << 20;

    explicit TraceOut(int fd) : fd_(fd) {}
    bool On() const { return fd_ >= 0 && ok_; }
    void Add(const std::string &line)
    {
        if (!On())
            return;
        if (held_.size() + line.size() + 1 > kHeld) {
            ++dropped_;
            return;
        }
        held_ += line;
        held_ += '\n';
    }
    // Writes what the reader takes now: false once it cannot be written.
    bool Flush()
    {
        while (On() && !held_.empty()) {
            pollfd p = {fd_, POLLOUT, 0};
            if (poll(&p, 1, 0) <= 0)
                break;
            if (p.revents & (POLLERR | POLLHUP)) {
                ok_ = false;
                break;
            }
            const ssize_t n = write(fd_, held_.data(), held_.size() < 256 ? held_.size() : 256);
            if (n > 0)
                held_.erase(0, (size_t)n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                ok_ = false;
            else
                break;
        }
        return ok_;
    }
    unsigned long long Dropped() const { return dropped_; }

private:
    int fd_;
    bool ok_ = true;
    std::string held_;
    unsigned long long dropped_ = 0;
};

void Trace(TraceOut &trace, double seconds, const std::vector<LineDecoder::Message> &messages)
{
    for (const auto &m : messages)
        trace.Add(TraceLine(seconds, m.direction == LineDecoder::HOST_TO_DEVICE ? "host>dev" : "dev>host", m.bytes,
                            m.meaning));
}

void TraceDropped(TraceOut &trace, double seconds, const char *direction, unsigned long long dropped, const char *reader)
{
    if (dropped == 0)
        return;
    trace.Add(TraceLine(seconds, direction, Bytes(), std::to_string(dropped) + " bytes dropped: the " + reader +
                                                         " is not reading"));
}

// Whether `link` may be made: it does not exist, or it is a link that an
// earlier tap left behind (a symbolic link to a pseudo-terminal that no
// longer exists), which is removed. Anything else is left alone and
// `why` says what it is.
bool ClaimLink(const std::string &link, std::string &why)
{
    struct stat st;
    if (lstat(link.c_str(), &st) != 0)
        return errno == ENOENT || (why = link + ": " + strerror(errno), false);
    if (!S_ISLNK(st.st_mode)) {
        why = link + " exists and is not a link made by the tap; give a path that does not exist";
        return false;
    }
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    target[n > 0 ? n : 0] = 0;
    if (strncmp(target, "/dev/pts/", 9) != 0) {
        why = link + " is a link to " + target + ", not one made by the tap; give a path that does not exist";
        return false;
    }
    if (access(target, F_OK) == 0) {
        why = link + " leads to " + target + ", a pseudo-terminal still in use (another tap?)";
        return false;
    }
    unlink(link.c_str());
    return true;
}

// The device, held exclusively as the library holds a port, with the
// settings it had so that they can be given back.
struct Device {
    int fd = -1;
    bool saved = false;
    termios before;
};

int OpenDevice(const std::string &path, Device &d)
{
    d.fd = OpenExclusive(path);
    if (d.fd < 0)
        return errno;
    d.saved = tcgetattr(d.fd, &d.before) == 0;
    SetRaw(d.fd);
    return 0;
}

// Gives the device back as it was found: its settings, not exclusive.
void ReleaseDevice(Device &d)
{
    if (d.saved)
        tcsetattr(d.fd, TCSANOW, &d.before);
    ioctl(d.fd, TIOCNXCL);
    close(d.fd);
}

// Forwards both ways until a signal or the device's end: 0, or 1 when the
// device has gone (with a message).
int Forward(int device, const PseudoTerminal &host, TraceOut &trace, CaptureWriter &record)
{
    LineDecoder decoder;
    Pending toDevice, toHost;
    tcflag_t flags = 0;
    speed_t speed = 0;
    const double t0 = NowSeconds();
    unsigned char buf[4096];
    std::string gone;
    // a trace whose reader has gone (a closed pipe) ends the tap, as SIGPIPE does
    while (!g_stop && gone.empty() && trace.Flush()) {
        const speed_t before = speed;
        FollowSettings(host.slave, device, flags, speed);
        if (speed != before && before != 0)
            record.Line((int64_t)((NowSeconds() - t0) * 1e6), BaudOfSpeed(speed));
        pollfd p[2] = {{host.master, (short)(POLLIN | (toHost.Empty() ? 0 : POLLOUT)), 0},
                       {device, (short)(POLLIN | (toDevice.Empty() ? 0 : POLLOUT)), 0}};
        // settings are looked at again at least every 50 ms, and before any
        // byte the host writes goes on
        if (poll(p, 2, 50) < 0 && errno != EINTR)
            break;
        const double now = NowSeconds() - t0;
        record.Idle((int64_t)(now * 1e6));
        if (p[0].revents & POLLIN) {
            const ssize_t n = read(host.master, buf, sizeof buf);
            if (n > 0) {
                FollowSettings(host.slave, device, flags, speed);
                toDevice.Add(buf, (size_t)n);
                record.Tx((int64_t)(now * 1e6), Bytes(buf, buf + n));
                Trace(trace, now, decoder.Feed(LineDecoder::HOST_TO_DEVICE, Bytes(buf, buf + n)));
            }
        }
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = read(device, buf, sizeof buf);
            if (n > 0) {
                toHost.Add(buf, (size_t)n);
                record.Rx((int64_t)(now * 1e6), Bytes(buf, buf + n));
                Trace(trace, now, decoder.Feed(LineDecoder::DEVICE_TO_HOST, Bytes(buf, buf + n)));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                gone = n == 0 ? "hung up" : strerror(errno);
            }
        }
        if (!toDevice.Flush(device) && gone.empty())
            gone = strerror(errno);
        toHost.Flush(host.master);
        TraceDropped(trace, now, "dev>host", toHost.TakeDropped(), "host");
        TraceDropped(trace, now, "host>dev", toDevice.TakeDropped(), "device");
    }
    if (trace.Dropped() > 0) {
        const std::string note = std::to_string(trace.Dropped()) +
                                 " trace lines dropped: the trace's reader did not keep up (the recording has every byte)";
        fprintf(stderr, "volmirax: %s\n", note.c_str());
        record.Note((int64_t)((NowSeconds() - t0) * 1e6), note);
    }
    if (!gone.empty()) {
        fprintf(stderr, "volmirax: the device has gone (%s)\n", gone.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int RunTap(const std::string &devicePath, const std::string &link, const std::string &recordPath, long long recordLimit,
           int traceFd)
{
    CatchEndings();
    std::string why;
    if (!ClaimLink(link, why)) {
        fprintf(stderr, "volmirax: refusing --link %s\n", Printable(why).c_str());
        return 2;
    }
    struct stat st;
    // the recording and the file it rolls over to are made by the tap alone
    for (const std::string &path : {recordPath, recordPath + ".1"})
        if (!recordPath.empty() && lstat(path.c_str(), &st) == 0) {
            fprintf(stderr, "volmirax: refusing --record %s: %s exists; give a path that does not exist\n",
                    Printable(recordPath).c_str(), Printable(path).c_str());
            return 2;
        }
    Device device;
    if (int reason = OpenDevice(devicePath, device)) {
        fprintf(stderr, "volmirax: %s\n", Printable(OpenFailureMessage(devicePath, (unsigned long)reason)).c_str());
        return 3;
    }
    // the host's side; its slave is held open so that the line stays up
    // between the host's opens and the host's settings can be read
    PseudoTerminal host;
    if (!OpenPseudoTerminal(host) || symlink(host.path.c_str(), link.c_str()) != 0) {
        fprintf(stderr, "volmirax: the host's side at %s: %s\n", Printable(link).c_str(), strerror(errno));
        ReleaseDevice(device);
        return 1;
    }
    CaptureWriter record;
    if (!recordPath.empty()) {
        termios t;
        const int baud = tcgetattr(device.fd, &t) == 0 ? BaudOfSpeed(cfgetospeed(&t)) : 0;
        if (!record.Open(recordPath, "volmirax tap", devicePath, baud, true, recordLimit)) {
            fprintf(stderr, "volmirax: cannot write %s: %s\n", Printable(recordPath).c_str(), strerror(errno));
            ClosePseudoTerminal(host);
            unlink(link.c_str());
            ReleaseDevice(device);
            return 1;
        }
    }
    fprintf(stderr, "volmirax: tap %s <-> %s (host side %s)\n", Printable(link).c_str(), Printable(devicePath).c_str(),
            host.path.c_str());
    TraceOut trace(traceFd);
    const int status = Forward(device.fd, host, trace, record);
    // the link is removed only while it is still the one this tap made
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && host.path == std::string(target, (size_t)n))
        unlink(link.c_str());
    ClosePseudoTerminal(host);
    ReleaseDevice(device);
    return status;
}
