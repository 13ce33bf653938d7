#include <algorithm>
#include <cstring>

#include "exchange_fixture.h"

namespace {

const Bytes kEject0 = Str("30");

// Runs SendCmd with guarded caller buffers and tells what it did.
struct Outcome {
    int rc;
    Bytes data;          // what landed in replyData
    bool dataTouched;    // any byte of replyData or its guards changed
    bool lenTouched;
    unsigned len;
};

Outcome Exchange(const Bytes &cmd, int ack = 1000, int reply = 3000, int eot = 500)
{
    unsigned char buffer[VOLMIRAX_MAX_REPLY_DATA + 16];
    memset(buffer, 0xAA, sizeof buffer);
    unsigned len = 0xDEADBEEF;
    Outcome o;
    o.rc = SendCmd(FakePort(), cmd.data(), static_cast<unsigned>(cmd.size()), buffer + 8, &len, ack,
                   reply, eot);
    o.lenTouched = len != 0xDEADBEEF;
    o.len = len;
    o.dataTouched = std::any_of(buffer, buffer + sizeof buffer, [](unsigned char b) { return b != 0xAA; });
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(buffer[i], 0xAA) << "written before replyData";
    if (o.lenTouched && o.len <= VOLMIRAX_MAX_REPLY_DATA) {
        o.data.assign(buffer + 8, buffer + 8 + o.len);
        for (size_t i = 8 + o.len; i < sizeof buffer; ++i)
            EXPECT_EQ(buffer[i], 0xAA) << "written past replyLen at " << i;
    }
    return o;
}

}  // namespace

TEST_F(ExchangeTest, WorkedEjectionPutsFrameAndRequestOnTheWire)
{
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    ASSERT_EQ(Hex(device.reply), "02 50 33 30 30 30 03 50 0D");
    Outcome o = Exchange(kEject0);
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(Hex(link.wire), "02 43 33 30 03 43 0D 05 0D");
    EXPECT_EQ(o.data, Str("00"));
    EXPECT_EQ(o.len, 2u);
}

TEST_F(ExchangeTest, StepsRunInOrderWithPurgesBeforeEachWrite)
{
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.ackDelay = 0;  // the acknowledgement is already queued when its wait starts
    device.replyDelay = 0;
    Exchange(kEject0);
    std::vector<std::string> expected = {
        "purge-rx", "purge-tx", "write 02 43 33 30 03 43 0D", "read 2",
        "purge-rx", "purge-tx", "write 05 0D"};
    // then the whole reply, already there, in one read, and no idle step
    // after the CR
    expected.push_back("read 9");
    EXPECT_EQ(link.ops, expected);
}

TEST_F(ExchangeTest, EachPassTakesEveryByteAlreadyWaiting)
{
    // a reply arriving a byte every 2 ms, looked at every 4 ms: each pass
    // reads what has come since the last, and nothing is left behind
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.replyDelay = 0;
    device.replySpacing = 2;
    link.idleStep = 4;
    Outcome o = Exchange(kEject0);
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(o.data, Str("00"));
    std::vector<std::string> reply(std::find(link.ops.begin(), link.ops.end(), "write 05 0D") + 1, link.ops.end());
    EXPECT_EQ(reply, (std::vector<std::string>{"read 1", "idle", "read 2", "idle", "read 2", "idle",
                                               "read 2", "idle", "read 2"}));
}

TEST_F(ExchangeTest, ALateLastPassStillSeesAReplyThatCameInTime)
{
    // a window procedure holds each pass for 400 ms; the reply is complete at
    // 905 ms, before the 1000-ms reply time-out, but the pass that finds the
    // time up ends at 1205 ms: the queue is looked at once more, and the
    // reply is taken, not reported as a time-out
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.replyDelay = 900;
    link.idleStep = 400;
    Outcome o = Exchange(kEject0, 300, 1000, 200);
    EXPECT_EQ(o.rc, 0);
    EXPECT_FALSE(WireHas(kAbortSeq));
}

TEST_F(ExchangeTest, WaitsForAcknowledgementAndReplyOnTheClock)
{
    device.ackDelay = 40;
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.replyDelay = 100;
    device.replySpacing = 3;
    EXPECT_EQ(Exchange(kEject0).rc, 0);
    // 40 ms to the acknowledgement, 100 ms to the first reply byte, 8 gaps of 3 ms
    EXPECT_EQ(link.now, 40u + 100u + 24u);
}

struct ReplyCase {
    const char *name;
    Bytes reply;
    int rc;
    bool written;       // replyData and replyLen receive the caller data
    Bytes data;
};

class ReplyTest : public ExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, ChecksTheReply)
{
    const ReplyCase &c = GetParam();
    device.reply = c.reply;
    Outcome o = Exchange(kEject0);
    EXPECT_EQ(o.rc, c.rc);
    if (c.written) {
        EXPECT_TRUE(o.lenTouched);
        EXPECT_EQ(o.len, c.data.size());
        EXPECT_EQ(o.data, c.data);
    } else {
        EXPECT_FALSE(o.lenTouched);
        EXPECT_FALSE(o.dataTouched);
    }
    EXPECT_FALSE(WireHas(kAbortSeq)) << "only time-outs abort";
}

Bytes Long(size_t n) { return Bytes(n, 'x'); }

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTest,
    ::testing::Values(
        ReplyCase{"positive_with_data", ReplyFrame('P', '3', '0', Str("00ABC")), 0, true, Str("00ABC")},
        ReplyCase{"n6_no_status", ReplyFrame('P', '3', '0', {}), 0, true, {}},
        ReplyCase{"n7_one_byte", ReplyFrame('P', '3', '0', Str("0")), 0, true, Str("0")},
        ReplyCase{"negative_02", ReplyFrame('N', '3', '0', Str("02xyz")), 2, true, Str("02xyz")},
        ReplyCase{"negative_10_is_256", ReplyFrame('N', '3', '0', Str("10")), 256, true, Str("10")},
        ReplyCase{"negative_00_is_0", ReplyFrame('N', '3', '0', Str("00")), 0, true, Str("00")},
        ReplyCase{"negative_below_zero", ReplyFrame('N', '3', '0', {0x30, 0x2F}), -1, true, {0x30, 0x2F}},
        // n = 6 not marked "P": places 4 and 5 hold ETX and BCC
        ReplyCase{"negative_n6_uses_frame_bytes", {0x02, 'N', '3', '0', 0x03, 'N' ^ '3' ^ '0' ^ 0x03, 0x0D},
                  0x03 * 256 + ('N' ^ '3' ^ '0' ^ 0x03) - 0x3030, true, {}},
        ReplyCase{"bad_bcc_positive", ReplyFrame('P', '3', '0', Str("00"), 1), ERR_BCC, false, {}},
        ReplyCase{"bad_bcc_before_echo", ReplyFrame('P', '4', '0', Str("00"), 1), ERR_BCC, false, {}},
        ReplyCase{"wrong_code_echo", ReplyFrame('P', '4', '0', Str("00")), ERR_ECHO, false, {}},
        ReplyCase{"wrong_param_echo", ReplyFrame('P', '3', '1', Str("00")), ERR_ECHO, false, {}},
        ReplyCase{"negative_wrong_echo", ReplyFrame('N', '3', '1', Str("05")), ERR_ECHO, false, {}},
        ReplyCase{"only_cr", {0x0D}, ERR_BCC, false, {}},
        ReplyCase{"five_bytes", {0x02, 'P', '3', '0', 0x03, 0x0D}, ERR_BCC, false, {}},
        ReplyCase{"two_bytes", {0x02, 'P', 0x0D}, ERR_BCC, false, {}},
        // a CR in the status cuts the frame short there, and it must fail
        ReplyCase{"cr_in_status", ReplyFrame('P', '3', '0', {0x30, 0x0D}), ERR_BCC, false, {}},
        ReplyCase{"longest_reply", ReplyFrame('P', '3', '0', Long(993)), 0, true, Long(993)},
        ReplyCase{"one_byte_too_long", ReplyFrame('P', '3', '0', Long(994)), ERR_BCC, false, {}},
        ReplyCase{"far_too_long", ReplyFrame('P', '3', '0', Long(2500)), ERR_BCC, false, {}}),
    [](const ::testing::TestParamInfo<ReplyCase> &i) { return std::string(i.param.name); });

TEST_F(ExchangeTest, NullReplyBuffersAreOptional)
{
    device.reply = ReplyFrame('N', '3', '0', Str("07data"));
    EXPECT_EQ(SendCmd(FakePort(), kEject0.data(), 2, nullptr, nullptr, 100, 100, 100), 7);
}

TEST_F(ExchangeTest, WrongAcknowledgementEndsWithoutAbort)
{
    device.ack = {0x15, 0x0D};
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    Outcome o = Exchange(kEject0);
    EXPECT_EQ(o.rc, ERR_NO_ACK);
    EXPECT_EQ(Hex(link.wire), "02 43 33 30 03 43 0D");
    EXPECT_FALSE(o.dataTouched);
    EXPECT_FALSE(o.lenTouched);
}

TEST_F(ExchangeTest, SecondAcknowledgementByteIsNotExamined)
{
    device.ack = {0x06, 0x99};
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    EXPECT_EQ(Exchange(kEject0).rc, 0);
}

TEST_F(ExchangeTest, BytesAfterTheAcknowledgementAreDiscarded)
{
    device.afterAck = Str("\x02PX");  // would corrupt the reply if kept
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    EXPECT_EQ(Exchange(kEject0).rc, 0);
}

TEST_F(ExchangeTest, BytesAfterTheReplyNeverReachTheNextExchange)
{
    device.reply = Cat(ReplyFrame('P', '3', '0', Str("00")), Str("\x02P30003P\r"));
    device.replySpacing = 0;
    EXPECT_EQ(Exchange(kEject0).rc, 0);
    device.reply = ReplyFrame('N', '3', '0', Str("05"));
    EXPECT_EQ(Exchange(kEject0).rc, 5);
}

struct TimeoutCase {
    const char *name;
    bool ackSilent, replySilent, eotSilent;
    Bytes eotEcho;
    int rc;
    uint32_t abortAt;     // virtual ms at which the abort sequence goes out
    uint32_t endsAt;      // virtual ms at which the call returns
};

class TimeoutTest : public ExchangeTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(TimeoutTest, AbortsOnceAndReturnsTheTimeout)
{
    const TimeoutCase &c = GetParam();
    link.now = 0xFFFFFF00u;  // the clock wraps during the call
    const uint32_t start = link.now;
    device.ackSilent = c.ackSilent;
    device.replySilent = c.replySilent;
    device.reply = Bytes{0x02, 'P', '3', '0', '0', '0'};  // never ends
    device.eotSilent = c.eotSilent;
    device.eotEcho = c.eotEcho;
    uint32_t abortAt = 0;
    auto play = link.onWrite;
    link.onWrite = [&](FakeLink &l, const Bytes &w) {
        if (w == kAbortSeq)
            abortAt = l.now - start;
        play(l, w);
    };
    Outcome o = Exchange(kEject0, 300, 700, 200);
    EXPECT_EQ(o.rc, c.rc);
    EXPECT_EQ(abortAt, c.abortAt);
    EXPECT_EQ(link.now - start, c.endsAt);
    EXPECT_EQ(std::count(link.ops.begin(), link.ops.end(), "write 10 04 0D"), 1);
    EXPECT_FALSE(o.dataTouched);
    EXPECT_FALSE(o.lenTouched);
}

INSTANTIATE_TEST_SUITE_P(
    Timeouts, TimeoutTest,
    ::testing::Values(
        // ack after 300 ms; echo after 2 ms
        TimeoutCase{"ack_silent_echo_ok", true, false, false, kAbortSeq, ERR_ACK_TIMEOUT, 300, 302},
        TimeoutCase{"ack_silent_echo_silent", true, false, true, kAbortSeq, ERR_ACK_TIMEOUT, 300, 500},
        TimeoutCase{"ack_silent_echo_wrong", true, false, false, Str("xyz"), ERR_ACK_TIMEOUT, 300, 302},
        // ack at 5 ms, reply time counts from the request
        TimeoutCase{"reply_silent", false, true, false, kAbortSeq, ERR_REPLY_TIMEOUT, 705, 707},
        TimeoutCase{"reply_without_cr", false, false, true, kAbortSeq, ERR_REPLY_TIMEOUT, 705, 905}),
    [](const ::testing::TestParamInfo<TimeoutCase> &i) { return std::string(i.param.name); });

TEST_F(ExchangeTest, OverlongReplyWithoutCrTimesOut)
{
    device.reply = Long(2000);
    Outcome o = Exchange(kEject0, 100, 500, 50);
    EXPECT_EQ(o.rc, ERR_REPLY_TIMEOUT);
    EXPECT_TRUE(WireHas(kAbortSeq));
    EXPECT_FALSE(o.dataTouched);
}

TEST_F(ExchangeTest, ZeroAndNegativeTimeoutsGiveOnePass)
{
    for (int t : {0, -5, INT32_MIN}) {
        link = FakeLink();
        device.Attach(link);
        device.ackSilent = true;
        EXPECT_EQ(Exchange(kEject0, t, t, t).rc, ERR_ACK_TIMEOUT) << t;
        // one idle step for the acknowledgement, one for the echo
        EXPECT_EQ(link.idles, 2) << t;
    }
}

struct LinkFailureCase {
    const char *name;
    int failWrite, shortWrite, failRead, shortRead;
    int rc;
    bool requestSent;
};

class LinkFailureTest : public ExchangeTest, public ::testing::WithParamInterface<LinkFailureCase> {};

TEST_P(LinkFailureTest, ReturnsTheLinkCodeWithoutAbort)
{
    const LinkFailureCase &c = GetParam();
    link.failWrite = c.failWrite;
    link.shortWrite = c.shortWrite;
    link.failRead = c.failRead;
    link.shortRead = c.shortRead;
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    Outcome o = Exchange(kEject0);
    EXPECT_EQ(o.rc, c.rc);
    EXPECT_EQ(WireHas(kRequestSeq), c.requestSent);
    EXPECT_FALSE(WireHas(kAbortSeq));
    EXPECT_FALSE(o.dataTouched);
    EXPECT_FALSE(o.lenTouched);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LinkFailureTest,
    ::testing::Values(LinkFailureCase{"frame_write_fails", 0, -1, -1, -1, ERR_WRITE, false},
                      LinkFailureCase{"frame_write_short", -1, 0, -1, -1, ERR_WRITE_SHORT, false},
                      LinkFailureCase{"request_write_fails", 1, -1, -1, -1, ERR_WRITE, false},
                      LinkFailureCase{"request_write_short", -1, 1, -1, -1, ERR_WRITE_SHORT, false},
                      LinkFailureCase{"ack_read_fails", -1, -1, 0, -1, ERR_READ, false},
                      LinkFailureCase{"ack_read_short", -1, -1, -1, 0, ERR_READ_SHORT, false},
                      LinkFailureCase{"reply_read_fails", -1, -1, 1, -1, ERR_READ, true},
                      LinkFailureCase{"reply_read_short", -1, -1, -1, 1, ERR_READ_SHORT, true}),
    [](const ::testing::TestParamInfo<LinkFailureCase> &i) { return std::string(i.param.name); });

// Another thread closes the port while the call waits: the wait's next
// look ends the call with ERR_WRITE, before its time-out and with nothing
// more sent (no abort into a port that may by then be someone else's).
struct ClosedCase {
    const char *name;
    bool ackSilent, replySilent;
    bool requestSent;
};

class ClosedDuringCallTest : public ExchangeTest, public ::testing::WithParamInterface<ClosedCase> {};

TEST_P(ClosedDuringCallTest, EndsWithWriteFailureAtTheNextLook)
{
    const ClosedCase &c = GetParam();
    device.ackSilent = c.ackSilent;
    device.replySilent = c.replySilent;
    device.ackDelay = 50;
    link.closedAt = 20;
    if (!c.ackSilent)
        link.closedAt = 80;  // after the acknowledgement, during the reply's wait
    Outcome o = Exchange(kEject0, 1000, 3000, 500);
    EXPECT_EQ(o.rc, ERR_WRITE);
    EXPECT_LT(link.now, 200u) << "the call waited for its time-out";
    EXPECT_EQ(WireHas(kRequestSeq), c.requestSent);
    EXPECT_FALSE(WireHas(kAbortSeq));
    EXPECT_FALSE(o.dataTouched);
    EXPECT_FALSE(o.lenTouched);
}

INSTANTIATE_TEST_SUITE_P(
    Closed, ClosedDuringCallTest,
    ::testing::Values(ClosedCase{"during_the_acknowledgement_wait", true, false, false},
                      ClosedCase{"during_the_reply_wait", false, true, true}),
    [](const ::testing::TestParamInfo<ClosedCase> &i) { return std::string(i.param.name); });

TEST_F(ExchangeTest, SendEotOnAPortClosedDuringTheEchoWaitEndsAtOnce)
{
    device.eotSilent = true;
    link.closedAt = 10;
    EXPECT_EQ(SendEot(FakePort(), 500), ERR_WRITE);
    EXPECT_LT(link.now, 100u);
}

TEST_F(ExchangeTest, BadArgumentsSendNothing)
{
    const unsigned char cmd[2] = {'3', '0'};
    unsigned char data[4] = {1, 2, 3, 4};
    unsigned len = 77;
    EXPECT_EQ(SendCmd(nullptr, cmd, 2, data, &len, 1, 1, 1), ERR_NO_PORT);
    EXPECT_EQ(SendCmd(nullptr, nullptr, 0, data, &len, 1, 1, 1), ERR_NO_PORT);
    EXPECT_EQ(SendCmd(FakePort(), nullptr, 2, data, &len, 1, 1, 1), ERR_ARGUMENT);
    EXPECT_EQ(SendCmd(FakePort(), cmd, 0, data, &len, 1, 1, 1), ERR_ARGUMENT);
    EXPECT_EQ(SendCmd(FakePort(), cmd, 1, data, &len, 1, 1, 1), ERR_ARGUMENT);
    EXPECT_EQ(SendCmd(FakePort(), cmd, 0xFFFFFFFFu, data, &len, 1, 1, 1), ERR_ARGUMENT);
    EXPECT_EQ(SendCmd(FakePort(), cmd, 0xFFFFFFFBu, data, &len, 1, 1, 1), ERR_ARGUMENT);
    EXPECT_TRUE(link.ops.empty());
    EXPECT_EQ(len, 77u);
    EXPECT_EQ(data[0], 1);
}

TEST_F(ExchangeTest, CommandBytesMayHoldControlValues)
{
    const Bytes cmd = {'3', 0x0D, 0x02, 0x03, 0x0D};
    device.reply = ReplyFrame('P', '3', 0x0D, Str("00"));
    // a CR in the echoed parameter cuts the reply short: it must fail
    EXPECT_EQ(Exchange(cmd).rc, ERR_BCC);
    EXPECT_EQ(Hex(Bytes(link.wire.begin(), link.wire.begin() + 10)), Hex(CommandFrame(cmd)));
}
