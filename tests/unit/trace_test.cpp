// The library's trace on the fake link: the same exchanges give the same
// results, wire bytes and host buffers with the trace on and off, and the
// trace holds what happened.
#include <functional>

#include <nlohmann/json.hpp>

#include "exchange_fixture.h"
#include "fake_trace_sink.h"

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
    for (size_t i = 0; i + 1 < hex.size(); i += 3)
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
        EXPECT_EQ(events.front()["cmd"], "31 30 78");
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

TEST_F(TraceTest, ReplyBytesThatComeTogetherMakeOneLineAndAPauseStartsAnother)
{
    struct {
        uint32_t spacing;
        size_t rxLines;  // the acknowledgement, then the reply
    } cases[] = {{0, 2}, {1, 2}, {2, 1 + 13}};  // the reply is 13 bytes
    for (auto c : cases) {
        SCOPED_TRACE(c.spacing);
        Exchange({"spaced", [&](ScriptedDevice &d, FakeLink &) { d.replySpacing = c.spacing; }, {}}, 1);
        size_t rx = 0;
        for (const auto &e : Events(g_traceText))
            rx += e["e"] == "rx";
        EXPECT_EQ(rx, c.rxLines);
        g_traceText.clear();
    }
}
