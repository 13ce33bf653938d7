// The Windows waits' sleeps between looks at the port, on the virtual
// clock and a scripted message queue: a silent wait looks seldom, a device
// that answers soon is seen at once, a message or a timer wakes the wait
// when it comes, and no sleep runs past the deadline.
#include "link/wait.h"
#include "link/windows/idle_step.h"
#include "exchange_fixture.h"
#include "fake_messages.h"

namespace {

void *const kWindow = reinterpret_cast<void *>(0x100);
const uint32_t kAppMessage = 0x8001;

class IdlePaceTest : public ExchangeTest {
protected:
    FakeMessages messages;
    std::vector<uint32_t> dispatchedAt;  // virtual time of each dispatch

    void SetUp() override
    {
        ExchangeTest::SetUp();
        g_messages = &messages;
        messages.onDispatch = [this](FakeMessages &, const QueuedMessage &) { dispatchedAt.push_back(link.now); };
    }
    void TearDown() override
    {
        g_messages = nullptr;
        ExchangeTest::TearDown();
    }
};

}  // namespace

TEST(LookPeriod, ShortWhileAnAnswerIsLikelyLongWhileSilent)
{
    struct {
        int32_t silentMs;
        int flowing;
        int32_t period;
    } cases[] = {
        {0, 1, 0},     // bytes flowing: at once
        {1, 1, 0},
        {2, 1, 1},     // the flow paused: every millisecond
        {0, 0, 1},     // a wait just begun: every millisecond
        {49, 0, 1},
        {50, 0, LOOK_SLOW_MS},
        {60000, 1, LOOK_SLOW_MS},
    };
    for (auto c : cases)
        EXPECT_EQ(LookPeriodMs(c.silentMs, c.flowing), c.period) << c.silentMs << " ms, flowing " << c.flowing;
}

TEST_F(IdlePaceTest, ASilentWaitLooksSeldomAndEndsOnTime)
{
    EXPECT_EQ(WaitForBytes(FakePort(), 2, 1000), 0);
    EXPECT_EQ(link.now, 1000u) << "no sleep runs past the deadline";
    // 50 looks in the first 50 ms, then one every 16 ms: about 110
    EXPECT_LE(link.idles, 50 + 950 / LOOK_SLOW_MS + 2);
    EXPECT_GE(link.idles, 50);
    for (int32_t ms : messages.sleeps)
        EXPECT_LE(ms, LOOK_SLOW_MS);
}

TEST_F(IdlePaceTest, AnAnswerIsSeenSoonAfterItComes)
{
    struct {
        uint32_t at;      // the second acknowledgement byte arrives
        uint32_t within;  // and is seen this soon after
    } cases[] = {{0, 0}, {3, 1}, {30, 1}, {49, 1}, {300, LOOK_SLOW_MS}, {999, LOOK_SLOW_MS}};
    for (auto c : cases) {
        SCOPED_TRACE(c.at);
        link = FakeLink();
        link.Send({0x06}, 0);
        link.Send({0x0D}, c.at);
        EXPECT_EQ(WaitForBytes(FakePort(), 2, 1000), 1);
        EXPECT_GE(link.now, c.at);
        EXPECT_LE(link.now, c.at + c.within);
    }
}

TEST_F(IdlePaceTest, BytesFlowingAreLookedAtWithoutSleeping)
{
    // a reply byte every millisecond: once they flow, no pass sleeps until
    // the flow pauses
    link.Send(Bytes(20, 'x'), 10, 1);
    EXPECT_EQ(WaitForBytes(FakePort(), 20, 1000), 1);
    EXPECT_EQ(link.now, 29u);
    EXPECT_EQ(messages.sleeps.size(), 10u) << "only the first 10 ms were slept";
}

TEST_F(IdlePaceTest, AMessageWakesTheWaitWhenItComes)
{
    // posted by another thread at these times of a silent 1-s wait: each is
    // dispatched the moment it comes, also deep in the slow looks
    const uint32_t posts[] = {5, 120, 500, 733, 999};
    for (uint32_t at : posts)
        messages.PostAt(at, kWindow, kAppMessage);
    EXPECT_EQ(WaitForBytes(FakePort(), 1, 1000), 0);
    ASSERT_EQ(dispatchedAt.size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(dispatchedAt[i], posts[i]);
    EXPECT_EQ(link.now, 1000u);
}

TEST_F(IdlePaceTest, AWindowTimerKeepsItsRhythmThroughASilentWait)
{
    messages.timerPeriod = 10;
    messages.timerWindow = kWindow;
    messages.nextTimer = 10;
    EXPECT_EQ(WaitForBytes(FakePort(), 1, 3000), 0);
    EXPECT_EQ(link.now, 3000u);
    ASSERT_GE(dispatchedAt.size(), 299u);
    for (size_t i = 1; i < dispatchedAt.size(); ++i)
        EXPECT_EQ(dispatchedAt[i] - dispatchedAt[i - 1], 10u) << "tick " << i;
}

TEST_F(IdlePaceTest, AReplyThatFlowsIsTakenAsItComesAndItsEndSeenAtOnce)
{
    // 300 reply bytes a millisecond apart: each pass takes what came, so the
    // idle step's own look finds none; it still knows they flow and never
    // sleeps long, and the reply's CR is seen within a millisecond
    struct {
        uint32_t spacing;
        uint32_t within;
    } cases[] = {{1, 1}, {3, 1}, {20, 1}};
    for (auto c : cases) {
        SCOPED_TRACE(c.spacing);
        link = FakeLink();
        device = ScriptedDevice();
        device.reply = ReplyFrame('P', '3', '0', Cat(Str("00"), Bytes(296, 'd')));
        device.replyDelay = 10;
        device.replySpacing = c.spacing;
        device.Attach(link);
        uint32_t lastByteAt = 0;
        const Bytes cmd = Str("30");
        unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
        unsigned len = 0;
        auto onWrite = link.onWrite;
        link.onWrite = [&](FakeLink &l, const Bytes &w) {
            onWrite(l, w);
            if (!l.scheduled.empty())
                lastByteAt = l.scheduled.back().first;
        };
        EXPECT_EQ(SendCmd(FakePort(), cmd.data(), 2, data, &len, 1000, 20000, 500), 0);
        EXPECT_LE(link.now, lastByteAt + c.within);
        for (int32_t ms : messages.sleeps)
            EXPECT_LE(ms, 1) << "a long sleep while the reply flowed";
        messages.sleeps.clear();
    }
}
