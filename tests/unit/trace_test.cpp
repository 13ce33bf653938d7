// The library's trace on the fake link: the same exchanges give the same
// results, wire bytes and host buffers with the trace on and off, and the
// trace holds what happened.
#include <functional>

#include <nlohmann/json.hpp>

#include "exchange_fixture.h"
#include "fake_trace_sink.h"
#include "trace/trace_sink.h"

namespace {

struct Outcome {
    int rc;
    Bytes wire;
    Bytes data;
    unsigned len;
    uint32_t ms;
};

struct TraceCase {
    const char *name;
    std::function<void(ScriptedDevice &, FakeLink &)> setUp;
    std::vector<std::string> waits;  // time-outs the trace must show
};

class TraceTest : public ExchangeTest {
protected:
    void TearDown() override
    {
        g_traceOn = 0;
        g_traceText.clear();
        g_traceWrites.clear();
        ExchangeTest::TearDown();
    }

    Outcome Exchange(const TraceCase &c, int traceOn)
    {
        link = FakeLink();
        device = ScriptedDevice();
        device.reply = ReplyFrame('P', '1', '0', Str("00CARD"));
        c.setUp(device, link);
        SetUp();
        g_traceOn = traceOn;
        Outcome r;
        r.data.assign(VOLMIRAX_MAX_REPLY_DATA, 0xEE);
        r.len = 777;
        const Bytes cmd = Str("10x");
        r.rc = SendCmd(FakePort(), cmd.data(), 3, r.data.data(), &r.len, 200, 300, 100);
        r.wire = link.wire;
        r.ms = link.now;
        g_traceOn = 0;
        return r;
    }
};

std::vector<nlohmann::json> Events(const std::string &text)
{
    std::vector<nlohmann::json> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(nlohmann::json::parse(text.substr(start, end - start)));
    EXPECT_EQ(start, text.size()) << "the trace ends with a whole line";
    return out;
}

Bytes Unhex(const std::string &hex)
{
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        b.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

}  // namespace

TEST_F(TraceTest, TheSameExchangeWithAndWithoutTheTrace)
{
    const TraceCase cases[] = {
        {"answered", [](ScriptedDevice &, FakeLink &) {}, {}},
        {"silent device", [](ScriptedDevice &d, FakeLink &) { d.ackSilent = true; }, {"ack"}},
        {"reply never ends", [](ScriptedDevice &d, FakeLink &) { d.reply = Str("\x02P10"); }, {"reply"}},
        {"silent, abort unanswered", [](ScriptedDevice &d, FakeLink &) { d.ackSilent = d.eotSilent = true; },
         {"ack", "echo"}},
        {"bad block check", [](ScriptedDevice &d, FakeLink &) { d.reply = ReplyFrame('P', '1', '0', Str("00"), 1); }, {}},
        {"negative reply, split", [](ScriptedDevice &d, FakeLink &) {
             d.reply = ReplyFrame('N', '1', '0', Str("05"));
             d.replySpacing = 7;
         }, {}},
        {"a read fails", [](ScriptedDevice &, FakeLink &l) { l.failRead = 1; }, {}},
        // tx means the bytes have left: a write that failed is not one
        {"the frame's write fails", [](ScriptedDevice &, FakeLink &l) { l.failWrite = 0; }, {}},
        {"the request's write fails", [](ScriptedDevice &, FakeLink &l) { l.failWrite = 1; }, {}},
        {"the abort's write fails", [](ScriptedDevice &d, FakeLink &l) { d.ackSilent = true; l.failWrite = 1; }, {"ack"}},
    };
    for (const TraceCase &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome off = Exchange(c, 0);
        EXPECT_TRUE(g_traceText.empty());
        const Outcome on = Exchange(c, 1);
        EXPECT_EQ(on.rc, off.rc);
        EXPECT_EQ(Hex(on.wire), Hex(off.wire));
        EXPECT_EQ(on.data, off.data);
        EXPECT_EQ(on.len, off.len);
        EXPECT_EQ(on.ms, off.ms);

        // What the trace says: the call, every byte written, the time-outs,
        // the result; and the reply bytes it read, in order.
        const auto events = Events(g_traceText);
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events.front()["e"], "call");
        EXPECT_EQ(events.front()["cmd"], "313078");
        EXPECT_EQ(events.front()["ack"], 200);
        EXPECT_EQ(events.back()["e"], "result");
        EXPECT_EQ(events.back()["rc"], off.rc);
        EXPECT_EQ(events.back()["us"], static_cast<int64_t>(off.ms) * 1000);
        Bytes tx;
        std::vector<std::string> waits;
        for (const auto &e : events) {
            if (e["e"] == "tx") {
                const Bytes b = Unhex(e["hex"]);
                tx.insert(tx.end(), b.begin(), b.end());
            }
            if (e["e"] == "timeout")
                waits.push_back(e["wait"]);
        }
        EXPECT_EQ(Hex(tx), Hex(off.wire));
        EXPECT_EQ(waits, c.waits);
        g_traceText.clear();
    }
}

// The reads between two other lines make one "rx" line, timed at its first
// byte, with each further byte's pause after the one before it: every
// byte's time is kept, to the microsecond, in one line.
TEST_F(TraceTest, ReceivedBytesMakeOneLineThatKeepsEveryBytesTime)
{
    struct {
        uint32_t spacing;       // ms between the reply's bytes
        const char *replyGaps;  // the reply line's "gaps" (13 bytes); null: none
    } cases[] = {{0, nullptr}, {1, "1000*12"}, {2, "2000*12"}};
    for (auto c : cases) {
        SCOPED_TRACE(c.spacing);
        Exchange({"spaced", [&](ScriptedDevice &d, FakeLink &) { d.replySpacing = c.spacing; }, {}}, 1);
        std::vector<nlohmann::json> rx;
        for (const auto &e : Events(g_traceText))
            if (e["e"] == "rx")
                rx.push_back(e);
        ASSERT_EQ(rx.size(), 2u);  // the acknowledgement, then the reply
        EXPECT_EQ(rx[1]["hex"].get<std::string>().size(), 26u);
        if (c.replyGaps)
            EXPECT_EQ(rx[1]["gaps"], c.replyGaps);
        else
            EXPECT_FALSE(rx[1].contains("gaps"));
        g_traceText.clear();
    }
}

// The trace holds every byte the library read, as it came: the
// acknowledgement, the reply, and what followed the reply's CR in the same
// read (the exchange drops it; the trace still says the device sent it).
TEST_F(TraceTest, EveryByteReadIsInTheTrace)
{
    const Bytes reply = ReplyFrame('P', '1', '0', Str("00CARD"));
    struct {
        const char *name;
        Bytes sent;  // the reply and what follows it
        uint32_t spacing;
    } cases[] = {
        {"together", reply, 0},
        {"one by one", reply, 2},
        {"noise after the CR", Cat(reply, Str("\x02P1")), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = Exchange({c.name, [&](ScriptedDevice &d, FakeLink &) {
                                        d.reply = c.sent;
                                        d.replySpacing = c.spacing;
                                    }, {}}, 1);
        EXPECT_EQ(r.rc, 0);
        Bytes rx;
        for (const auto &e : Events(g_traceText))
            if (e["e"] == "rx") {
                const Bytes b = Unhex(e["hex"]);
                rx.insert(rx.end(), b.begin(), b.end());
            }
        EXPECT_EQ(Hex(rx), Hex(Cat(Str("\x06\r"), c.sent)));
        g_traceText.clear();
    }
}

TEST(TraceLimitTest, NonsenseSizesAreRefusedNotConverted)
{
    const long long mb = 1024 * 1024;
    struct {
        const char *text;
        long long bytes;
        int refused;
    } cases[] = {
        {nullptr, 32 * mb, 0}, {"", 32 * mb, 0},      {"0.5", mb / 2, 0},    {"1048576", 1048576LL * mb, 0},
        {"inf", 32 * mb, 1},   {"nan", 32 * mb, 1},   {"1e300", 32 * mb, 1}, {"1048577", 32 * mb, 1},
        {"-1", 32 * mb, 1},    {"0", 32 * mb, 1},     {"12abc", 32 * mb, 1}, {"abc", 32 * mb, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        int refused = -1;
        EXPECT_EQ(TraceLimitBytes(c.text, &refused), c.bytes);
        EXPECT_EQ(refused, c.refused);
    }
}

TEST_F(TraceTest, EveryLineGoesOutInOneWriteHoweverLongTheCommand)
{
    for (unsigned length : {2u, 620u, 700u, 999u, 1000u, 1001u, 5000u}) {
        SCOPED_TRACE(length);
        link = FakeLink();
        device = ScriptedDevice();
        device.reply = ReplyFrame('P', '1', '0', Str("00"));
        SetUp();
        g_traceOn = 1;
        Bytes cmd(length, 'x');
        cmd[0] = '1';
        cmd[1] = '0';
        SendCmd(FakePort(), cmd.data(), length, nullptr, nullptr, 200, 300, 100);
        g_traceOn = 0;
        for (const std::string &w : g_traceWrites) {
            ASSERT_FALSE(w.empty());
            EXPECT_EQ(w.back(), '\n') << "a write ends inside a line";
            for (size_t at = 0; at < w.size(); at = w.find('\n', at) + 1)
                EXPECT_EQ(w[at], '{') << "a write starts inside a line";
        }
        auto events = Events(g_traceText);
        ASSERT_FALSE(events.empty());
        const auto &call = events.front();
        ASSERT_EQ(call["e"], "call");
        const Bytes shown = Unhex(call["cmd"].get<std::string>() + " ");
        EXPECT_EQ(shown.size(), std::min(length, 1000u));
        EXPECT_EQ(call.contains("cmdLen"), length > 1000);
        if (length > 1000) {
            EXPECT_EQ(call["cmdLen"], length);
        }
        EXPECT_EQ(call["pid"], 4242) << "each line names its process";
        for (const std::string &w : g_traceWrites)
            for (size_t at = 0, end; (end = w.find('\n', at)) != std::string::npos; at = end + 1)
                EXPECT_LE(end - at + 1, static_cast<size_t>(TRACE_LINE_MAX));
        g_traceText.clear();
        g_traceWrites.clear();
    }
}
