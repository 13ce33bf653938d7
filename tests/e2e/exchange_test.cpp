// Exchanges against a device that behaves and misbehaves, their timing, the
// abort exchange, the device commands, and a line that goes away.
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "volmirax_codes.h"

struct Scenario {
    const char *name;
    const char *behaviour;
    int rc;
    const char *data;       // caller data expected, or null when nothing may be written
    bool abort;             // the abort sequence goes out
    int replyTimeout = 0;   // 0: 600 ms; long replies get more, since under Wine on a
                            // busy machine a reply read a byte a pass can take over half a second
};

void TestExchanges(HANDLE h)
{
    const Scenario scenarios[] = {
        {"positive reply", "data=abc", 0, "00abc", false},
        {"positive reply without data", "ok", 0, "00", false},
        {"negative reply 02", "marker=N,status=02,data=xyz", 2, "02xyz", false},
        {"negative reply 10 is 256", "marker=N,status=10", 256, "10", false},
        {"negative reply 00 is 0", "marker=N,status=00", 0, "00", false},
        {"no status bytes", "status=", 0, "", false},
        {"wrong acknowledgement", "nak", ERR_NO_ACK, nullptr, false},
        {"bad BCC", "badbcc", ERR_BCC, nullptr, false},
        {"wrong echo", "badecho", ERR_ECHO, nullptr, false},
        {"CR inside the status", "crdata", ERR_BCC, nullptr, false},
        {"noise before the STX", "noise", ERR_BCC, nullptr, false},
        {"extra bytes after acknowledgement and reply", "extra,data=q", 0, "00q", false},
        {"silent device", "silent", ERR_ACK_TIMEOUT, nullptr, true},
        {"no reply", "noreply", ERR_REPLY_TIMEOUT, nullptr, true},
        {"reply without CR", "nocr", ERR_REPLY_TIMEOUT, nullptr, true},
        {"slow bytes", "slow=5,data=slowly", 0, "00slowly", false},
        {"reply in small pieces", "split=3:20,data=pieces", 0, "00pieces", false},
        {"think time", "ackdelay=100,replydelay=150", 0, "00", false},
        {"reply while the request is written", "early,data=e", 0, "00e", false},
        {"longest reply", "datalen=991", 0, nullptr, false, 5000},
        {"overlong reply", "datalen=1200", ERR_BCC, nullptr, false, 5000},
    };
    for (const Scenario &s : scenarios) {
        On(h, "T", s.behaviour);
        Outcome o = Exchange(h, "T1", 300, s.replyTimeout ? s.replyTimeout : 600, 200);
        std::string name = std::string("SendCmd: ") + s.name;
        CheckRc(o.rc, s.rc, name);
        if (s.data)
            Check(o.len == strlen(s.data) && o.data == s.data, name + ": reply data", "len " + std::to_string(o.len) + " '" + o.data + "'");
        else if (s.rc != 0)
            Check(!o.touched, name + ": reply buffers untouched");
        std::string request = Frame("T1") + " 05 0D";
        bool aborted = o.wire.find(kAbort) != std::string::npos;
        Check(aborted == s.abort, name + (s.abort ? ": abort sequence sent" : ": no abort sequence"), o.wire);
        if (s.rc == ERR_NO_ACK || s.rc == ERR_ACK_TIMEOUT)
            Check(o.wire.rfind(Frame("T1"), 0) == 0 && o.wire.find("05 0D") == std::string::npos, name + ": no request", o.wire);
        else
            Check(o.wire.rfind(request, 0) == 0, name + ": frame and request on the wire", o.wire);
    }
    On(h, "T", "datalen=991");
    Outcome o = Exchange(h, "T1", 300, 5000, 200);
    Check(o.rc == 0 && o.len == 993 && o.data.substr(0, 4) == "00AB", "SendCmd: 993 bytes of reply data", std::to_string(o.len));

    // a command with control values inside goes out unchanged
    On(h, "U", "ok");
    std::string raw = std::string("U\x02") + "\x03\x0D" + "zz";
    o = Exchange(h, raw);
    CheckRc(o.rc, 0, "SendCmd: command bytes holding STX, ETX and CR");
    Check(o.wire.rfind(Frame(raw), 0) == 0, "SendCmd: control bytes sent unchanged", o.wire);

    unsigned char one[1] = {'3'};
    CheckRc(lib.SendCmd(h, one, 1, nullptr, nullptr, 100, 100, 100), ERR_ARGUMENT, "SendCmd with one command byte");
    CheckRc(lib.SendCmd(h, nullptr, 2, nullptr, nullptr, 100, 100, 100), ERR_ARGUMENT, "SendCmd without command bytes");
    Check(Wire(h).empty(), "bad arguments send nothing");
}

void TestTimeouts(HANDLE h)
{
    // the abort goes out ackTimeout after the frame, replyTimeout after the request
    struct { const char *name; const char *behaviour; int rc; int ack, reply, eot; long long abortAt, total; } cases[] = {
        {"acknowledgement time-out, echoed abort", "silent", ERR_ACK_TIMEOUT, 300, 600, 400, 300, 300},
        {"acknowledgement time-out, silent abort", "dead", ERR_ACK_TIMEOUT, 300, 600, 400, 300, 700},
        {"reply time-out, echoed abort", "noreply", ERR_REPLY_TIMEOUT, 300, 600, 400, 600, 600},
        {"reply time-out, silent abort", "noreply,eotnone", ERR_REPLY_TIMEOUT, 300, 600, 400, 600, 1000},
    };
    for (auto &c : cases) {
        On(h, "T", c.behaviour);
        Outcome o = Exchange(h, "T1", c.ack, c.reply, c.eot);
        long long abortAt = atoll(Ctl(h, "abortdelay").c_str());
        std::string name = std::string("timing: ") + c.name;
        CheckRc(o.rc, c.rc, name);
        Check(abortAt >= c.abortAt - 20 && abortAt <= c.abortAt + Late(150), name + ": abort after " + std::to_string(c.abortAt) + " ms",
              std::to_string(abortAt) + " ms");
        Check(o.ms >= c.total - 20 && o.ms <= c.total + Late(250), name + ": call ends after about " + std::to_string(c.total) + " ms",
              std::to_string(o.ms) + " ms");
        size_t first = o.wire.find(kAbort);
        Check(first != std::string::npos && o.wire.find(kAbort, first + 1) == std::string::npos, name + ": one abort sequence", o.wire);
    }
}

void TestSendEot(HANDLE h)
{
    struct { const char *behaviour; int rc; const char *name; } cases[] = {
        {"ok", 0, "echoed"}, {"eotwrong", ERR_EOT_ECHO, "wrong echo"}, {"eotnone", ERR_EOT_TIMEOUT, "no echo"}};
    for (auto &c : cases) {
        // the abort answers for the code of the last command
        On(h, "T", c.behaviour);
        Exchange(h, "T1");
        long long t0 = NowMs();
        int rc = lib.SendEot(h, 250);
        long long ms = NowMs() - t0;
        CheckRc(rc, c.rc, std::string("SendEot: ") + c.name);
        Check(Wire(h) == kAbort, std::string("SendEot: ") + c.name + ": DLE EOT CR on the wire");
        if (c.rc == ERR_EOT_TIMEOUT)
            Check(ms >= 230 && ms < Late(500), "SendEot: times out after its time-out", std::to_string(ms) + " ms");
    }
}

void TestCommands(HANDLE h)
{
    On(h, "3", "ok");
    CheckRc(lib.EjectCard(h, 0x30), 0, "EjectCard");
    Check(Wire(h) == "02 43 33 30 03 43 0D 05 0D", "EjectCard: wire bytes");
    CheckRc(lib.EjectCard(h, 0x131), 0, "EjectCard with 0x131");
    Check(Wire(h) == Frame("31") + " 05 0D", "EjectCard sends the low byte only");
    On(h, "3", "marker=N,status=12");
    CheckRc(lib.EjectCard(h, '0'), 258, "EjectCard: device status passed on");
    Wire(h);

    On(h, "0", "data=ignored");
    CheckRc(lib.ReSet(h, '0', '0', '0', '0', '0', '0', '0', '0'), 0, "ReSet");
    Check(Wire(h) == "02 43 30 30 33 32 34 30 30 30 30 30 30 30 30 03 75 0D 05 0D", "ReSet: wire bytes");

    unsigned char v[300];
    memset(v, 0xAA, sizeof v);
    On(h, "<", "data=VMX 2.1");
    CheckRc(lib.GetMachineVersion(h, v), 0, "GetMachineVersion");
    Check(memcmp(v, "VMX 2.1", 7) == 0 && v[7] == 0xAA, "GetMachineVersion: version copied without a terminator", Hex(v, 9));
    Check(Wire(h) == "02 43 3C 30 03 4C 0D 05 0D", "GetMachineVersion: wire bytes");

    memset(v, 0xAA, sizeof v);
    On(h, "<", "marker=N,status=04,data=nope");
    CheckRc(lib.GetMachineVersion(h, v), 4, "GetMachineVersion: negative reply");
    Check(v[0] == 0xAA && v[1] == 0xAA, "GetMachineVersion: negative reply leaves the buffer untouched");

    On(h, "<", "marker=N,status=00,data=v00");
    CheckRc(lib.GetMachineVersion(h, v), 0, "GetMachineVersion: status 00 counts as success");
    Check(memcmp(v, "v00", 3) == 0, "GetMachineVersion: status 00 copies the version");

    memset(v, 0xAA, sizeof v);
    On(h, "<", "datalen=900");
    CheckRc(lib.GetMachineVersion(h, v), 0, "GetMachineVersion: long version");
    Check(v[252] == 'A' + 252 % 26 && v[253] == 0xAA, "GetMachineVersion: at most 253 bytes copied");
    CheckRc(lib.GetMachineVersion(h, nullptr), ERR_ARGUMENT, "GetMachineVersion without a buffer");
    Wire(h);
}

// The line goes away in the middle of a reply, and between two calls: the
// calls fail with a code and the host carries on with a new handle.
HANDLE TestLineLoss(HANDLE h)
{
    On(h, "T", "hangup,datalen=40");
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA + 8];
    memset(data, 0xAA, sizeof data);
    unsigned len = 0xDEADBEEF;
    const unsigned char cmd[2] = {'T', '1'};
    int rc = lib.SendCmd(h, cmd, 2, data, &len, 300, 400, 100);
    Check(rc == ERR_REPLY_TIMEOUT || rc == ERR_READ || rc == ERR_READ_SHORT, "hang-up mid-reply: the call fails", Code(rc));
    Check(len == 0xDEADBEEF && data[0] == 0xAA, "hang-up mid-reply: reply buffers untouched");
    h = Reopen(&h);
    Check(h != nullptr, "hang-up mid-reply: the port opens again");
    if (!h)
        return h;
    Ctl(h, "reset");
    CheckRc(lib.EjectCard(h, '0'), 0, "hang-up mid-reply: exchanges work again");

    Ctl(h, "hangup");
    Sleep100();
    rc = lib.SendCmd(h, cmd, 2, data, &len, 200, 200, 100);
    Check(rc < 0 && len == 0xDEADBEEF, "port gone between calls: SendCmd fails", Code(rc));
    rc = lib.SendEot(h, 100);
    Check(rc < 0, "port gone between calls: SendEot fails", Code(rc));
    rc = lib.EjectCard(h, '0');
    Check(rc < 0, "port gone between calls: EjectCard fails", Code(rc));
    h = Reopen(&h);
    Check(h != nullptr, "port gone between calls: the port opens again");
    if (h)
        CheckRc(lib.EjectCard(h, '0'), 0, "port gone between calls: exchanges work again");
    return h;
}
