#include "reference_host.h"

#include "clock.h"
#include "fd_io.h"
#include "posix_line.h"

#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

int Fd(HANDLE h) { return (int)(intptr_t)h - 1; }

long long NowMs() { return MonotonicMs(); }

speed_t Speed(int baud)
{
    switch (baud) {
    case 115200: return B115200;
    case 57600: return B57600;
    case 38400: return B38400;
    case 19200: return B19200;
    default: return B9600;
    }
}

HANDLE Open(const char *path, int baud)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    SetRaw(fd);
    termios t;
    tcgetattr(fd, &t);
    cfsetspeed(&t, Speed(baud));
    tcsetattr(fd, TCSANOW, &t);
    return (HANDLE)(intptr_t)(fd + 1);
}

int Close(HANDLE *h)
{
    close(Fd(*h));
    *h = nullptr;
    return 1;
}

// Reads into buf until `done(buf, got)` or the time-out: bytes read, -1 on time-out.
template <typename Done>
int ReadUntil(int fd, unsigned char *buf, int cap, int timeoutMs, Done done)
{
    const long long end = NowMs() + timeoutMs;
    int got = 0;
    while (!done(buf, got)) {
        long long left = end - NowMs();
        if (left <= 0)
            return -1;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, (int)left) <= 0)
            continue;
        ssize_t k = read(fd, buf + got, (size_t)(cap - got));
        if (k > 0)
            got += (int)k;
    }
    return got;
}

int RefSendCmd(HANDLE h, const unsigned char *cmd, unsigned len, unsigned char *data, unsigned *dataLen, int ack,
            int replyTimeout, int)
{
    const int fd = Fd(h);
    unsigned char frame[1100], buf[1100];
    frame[0] = 0x02;
    frame[1] = 0x43;
    memcpy(frame + 2, cmd, len);
    frame[2 + len] = 0x03;
    unsigned char bcc = 0;
    for (unsigned i = 1; i < len + 3; ++i)
        bcc ^= frame[i];
    frame[3 + len] = bcc;
    frame[4 + len] = 0x0D;
    tcflush(fd, TCIOFLUSH);
    WriteAll(fd, frame, len + 5);
    if (ReadUntil(fd, buf, 2, ack, [](const unsigned char *, int n) { return n >= 2; }) < 0)
        return -110;
    if (buf[0] != 0x06)
        return -113;
    tcflush(fd, TCIFLUSH);
    const unsigned char enq[2] = {0x05, 0x0D};
    WriteAll(fd, enq, 2);
    int n = ReadUntil(fd, buf, sizeof buf, replyTimeout,
                      [](const unsigned char *b, int got) { return got > 0 && memchr(b, 0x0D, (size_t)got); });
    if (n < 0)
        return -111;
    n = (int)((const unsigned char *)memchr(buf, 0x0D, (size_t)n) - buf);
    if (n < 6)
        return -116;
    if (data)
        memcpy(data, buf + 4, (size_t)(n - 6));
    if (dataLen)
        *dataLen = (unsigned)(n - 6);
    return buf[1] == 'P' ? 0 : buf[4] * 256 + buf[5] - 0x3030;
}

int RefEjectCard(HANDLE h, int pm)
{
    const unsigned char cmd[2] = {'3', (unsigned char)pm};
    return RefSendCmd(h, cmd, 2, nullptr, nullptr, 1000, 3000, 500);
}

int RefGetMachineVersion(HANDLE h, unsigned char *version)
{
    const unsigned char cmd[2] = {'<', '0'};
    unsigned char data[1000];
    unsigned len = 0;
    int rc = RefSendCmd(h, cmd, 2, data, &len, 1000, 3000, 500);
    if (rc == 0 && len > 2)
        memcpy(version, data + 2, len - 2);
    return rc;
}

}  // namespace

void UseReferenceHost(Library &lib)
{
    memset(&lib, 0, sizeof lib);
    lib.OpenCommPath = Open;
    lib.CloseComm = Close;
    lib.SendCmd = RefSendCmd;
    lib.EjectCard = RefEjectCard;
    lib.GetMachineVersion = RefGetMachineVersion;
}
