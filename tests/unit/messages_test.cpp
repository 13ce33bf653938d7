// The host's messages during the waits (the Windows idle step), on a
// scripted message queue and the virtual clock.
#include <algorithm>
#include <iterator>

#include "link/windows/held_messages.h"
#include "link/wait.h"
#include "exchange_fixture.h"
#include "fake_messages.h"

namespace {

void *const kWindow = reinterpret_cast<void *>(0x100);
const uint32_t kAppMessage = 0x8001;   // WM_APP + 1
const uint32_t kPaint = 0x000F;

class MessagesTest : public ExchangeTest {
protected:
    FakeMessages messages;
    int64_t abortAt = -1;  // virtual time at which the abort sequence went out

    void SetUp() override
    {
        ExchangeTest::SetUp();
        g_messages = &messages;
        auto device = link.onWrite;
        link.onWrite = [this, device](FakeLink &l, const Bytes &w) {
            if (w == kAbortSeq && abortAt < 0)
                abortAt = l.now;
            device(l, w);
        };
    }
    void TearDown() override
    {
        g_messages = nullptr;
        ExchangeTest::TearDown();
    }

    int Exchange(int ack, int reply, int eot)
    {
        const Bytes cmd = Str("30");
        return SendCmd(FakePort(), cmd.data(), 2, nullptr, nullptr, ack, reply, eot);
    }

    // A window procedure that posts its message again, spending `ms` on each.
    void RepostingWindow(uint32_t ms)
    {
        link.idleStep = 0;  // all time passes in the host's procedure
        messages.Post(kWindow, kAppMessage);
        messages.onDispatch = [this, ms](FakeMessages &q, const QueuedMessage &m) {
            link.now += ms;
            q.Post(m.window, m.message);
        };
    }

    int Dispatched(uint32_t message) const
    {
        return static_cast<int>(std::count_if(messages.dispatched.begin(), messages.dispatched.end(),
                                              [message](const QueuedMessage &m) { return m.message == message; }));
    }
};

bool SameMessage(const QueuedMessage &m, void *window, uint32_t message, uintptr_t w, intptr_t l)
{
    return m.window == window && m.message == message && m.wParam == w && m.lParam == l;
}

}  // namespace

TEST_F(MessagesTest, AStreamOfMessagesCannotHoldTheCall)
{
    struct {
        uint32_t procMs;  // time the host's procedure spends in each message
    } cases[] = {{1}, {7}, {50}};
    for (auto c : cases) {
        SCOPED_TRACE(c.procMs);
        link = FakeLink();
        messages = FakeMessages();
        abortAt = -1;
        SetUp();
        device.ackSilent = true;
        device.eotSilent = true;
        RepostingWindow(c.procMs);
        EXPECT_EQ(Exchange(300, 300, 300), ERR_ACK_TIMEOUT);
        // the abort goes out once the acknowledgement time is up, and the
        // call ends once the echo's time is up, each late by at most the
        // one message in hand
        EXPECT_GE(abortAt, 300);
        EXPECT_LT(abortAt, 300 + c.procMs + 1);
        EXPECT_LT(link.now, abortAt + 300 + c.procMs + 1);
        EXPECT_GT(Dispatched(kAppMessage), 300 / static_cast<int>(c.procMs) * 2 - 4) << "the host's messages kept flowing";
    }
}

TEST_F(MessagesTest, AStreamOfMessagesDoesNotHideTheDevicesBytes)
{
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.ackDelay = 20;
    device.replyDelay = 30;
    RepostingWindow(1);
    EXPECT_EQ(Exchange(1000, 3000, 500), 0);
    EXPECT_EQ(abortAt, -1);
    // 20 ms to the acknowledgement, 30 to the reply, one byte a pass
    EXPECT_LE(link.now, 20u + 30u + 9u);
}

TEST_F(MessagesTest, ThreadMessagesAreGivenBackInOrderWithTheirValues)
{
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.replyDelay = 40;
    messages.Post(nullptr, kAppMessage, 1, 2);  // before the call
    messages.Post(kWindow, kPaint);
    messages.Post(nullptr, kAppMessage + 1, 3, -4);
    messages.onDispatch = [](FakeMessages &q, const QueuedMessage &m) {
        if (m.message == kPaint)  // a procedure that posts to its thread during the call
            q.Post(nullptr, kAppMessage + 2, 5, 6);
    };
    EXPECT_EQ(Exchange(1000, 3000, 500), 0);
    EXPECT_EQ(Dispatched(kPaint), 1) << "the window message behind them was dispatched";
    for (const QueuedMessage &m : messages.dispatched)
        EXPECT_NE(m.window, nullptr) << "a thread message was dispatched, and so dropped";
    ASSERT_EQ(messages.queue.size(), 3u);
    EXPECT_TRUE(SameMessage(messages.queue[0], nullptr, kAppMessage, 1, 2));
    EXPECT_TRUE(SameMessage(messages.queue[1], nullptr, kAppMessage + 1, 3, -4));
    EXPECT_TRUE(SameMessage(messages.queue[2], nullptr, kAppMessage + 2, 5, 6));
}

TEST_F(MessagesTest, MessagesStillQueuedWhenAWaitEndsKeepTheirOrder)
{
    // The pass keeps A, dispatches the window message, whose procedure posts
    // B and takes a millisecond: the pass ends there and the bytes are
    // there, so B is still queued when the wait gives A back.
    link.Send({1, 2}, 1);
    messages.Post(nullptr, kAppMessage, 1, 0);
    messages.Post(kWindow, kPaint);
    messages.Post(kWindow, kPaint + 1);  // stays: window messages are not taken at the end
    messages.onDispatch = [this](FakeMessages &q, const QueuedMessage &m) {
        if (m.message == kPaint) {
            q.Post(nullptr, kAppMessage, 2, 0);
            link.now += 1;
        }
    };
    EXPECT_EQ(WaitForBytes(FakePort(), 2, 100), 1);
    ASSERT_EQ(messages.queue.size(), 3u);
    EXPECT_EQ(messages.queue[0].message, kPaint + 1u);
    EXPECT_TRUE(SameMessage(messages.queue[1], nullptr, kAppMessage, 1, 0));
    EXPECT_TRUE(SameMessage(messages.queue[2], nullptr, kAppMessage, 2, 0));
}

TEST_F(MessagesTest, MessagesAreGivenBackWhenEachWaitEnds)
{
    // the acknowledgement wait times out; its message is back in the queue
    // before the abort exchange starts its own wait
    device.ackSilent = true;
    device.eotSilent = true;
    messages.Post(nullptr, kAppMessage, 9, 9);
    size_t queuedAtAbort = 0;
    auto inner = link.onWrite;
    link.onWrite = [&](FakeLink &l, const Bytes &w) {
        if (w == kAbortSeq)
            queuedAtAbort = messages.queue.size();
        inner(l, w);
    };
    EXPECT_EQ(Exchange(50, 50, 50), ERR_ACK_TIMEOUT);
    EXPECT_EQ(queuedAtAbort, 1u);
    ASSERT_EQ(messages.queue.size(), 1u);
    EXPECT_TRUE(SameMessage(messages.queue[0], nullptr, kAppMessage, 9, 9));
}

TEST_F(MessagesTest, PendingQuitLetsTimersRunAndIsGivenBackLast)
{
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.replyDelay = 200;
    messages.PostQuitMessage(7);
    messages.Post(nullptr, kAppMessage, 1, 1);
    messages.timerPeriod = 20;
    messages.timerWindow = kWindow;
    messages.nextTimer = 20;
    EXPECT_EQ(Exchange(1000, 3000, 500), 0);
    EXPECT_GE(Dispatched(MESSAGE_TIMER), 9) << "the timer kept firing while the WM_QUIT waited";
    EXPECT_EQ(Dispatched(MESSAGE_QUIT), 0);
    EXPECT_TRUE(messages.quit);
    EXPECT_EQ(messages.quitCode, 7);
    ASSERT_EQ(messages.queue.size(), 1u) << "the thread message is there, ahead of the WM_QUIT";
    EXPECT_TRUE(SameMessage(messages.queue[0], nullptr, kAppMessage, 1, 1));
}

TEST_F(MessagesTest, ThreadTimerProcedureRunsDuringAWait)
{
    messages.timerPeriod = 10;
    messages.timerProc = 0x4000;  // SetTimer(NULL, ..., proc)
    EXPECT_EQ(WaitForBytes(FakePort(), 1, 100), 0);
    EXPECT_GE(Dispatched(MESSAGE_TIMER), 9);
    EXPECT_TRUE(messages.queue.empty()) << "a timer message is never posted by hand";
    EXPECT_EQ(messages.posts, 0);
}

TEST_F(MessagesTest, AFloodOfThreadMessagesKeepsItsOrderAndLosesNone)
{
    // Up to the system's limit on a queue every message comes back in the
    // order it came; past it, none is lost and the window message behind
    // them is still reached.
    struct {
        int flood;
        int inOrder;  // the first this many come back in their order
    } cases[] = {{HELD_MESSAGES_FIRST + 1, HELD_MESSAGES_FIRST + 1},
                 {257, 257},
                 {HELD_MESSAGES_MAX, HELD_MESSAGES_MAX},
                 {HELD_MESSAGES_MAX + 40, HELD_MESSAGES_MAX}};
    for (auto c : cases) {
        SCOPED_TRACE(c.flood);
        messages = FakeMessages();
        link.now = 0;
        for (int i = 0; i < c.flood; ++i)
            messages.Post(nullptr, kAppMessage, static_cast<uintptr_t>(i), 0);
        messages.Post(kWindow, kPaint);
        EXPECT_EQ(WaitForBytes(FakePort(), 1, 100), 0);
        EXPECT_EQ(Dispatched(kPaint), 1) << "the window message behind the flood was reached";
        std::vector<int> back;
        for (const QueuedMessage &m : messages.queue) {
            ASSERT_EQ(m.message, kAppMessage);
            back.push_back(static_cast<int>(m.wParam));
        }
        ASSERT_EQ(back.size(), static_cast<size_t>(c.flood));
        std::vector<int> first;
        std::copy_if(back.begin(), back.end(), std::back_inserter(first), [&](int v) { return v < c.inOrder; });
        for (int i = 0; i < c.inOrder; ++i)
            ASSERT_EQ(first[i], i) << "out of order";
        std::sort(back.begin(), back.end());
        for (int i = 0; i < c.flood; ++i)
            ASSERT_EQ(back[i], i) << "a message was lost or doubled";
        EXPECT_EQ(link.now, 100u) << "the wait still ends on time";
    }
}

TEST_F(MessagesTest, ATimerKeepsFiringThroughAFloodOfThreadMessages)
{
    // 2,000 thread messages, each costing 1 ms to take, keep the queue from
    // ever emptying during a 600-ms wait for the acknowledgement: a 20-ms
    // window timer still fires about every 20 ms, and the flood comes back
    // whole and in order
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.ackDelay = 600;
    for (int i = 0; i < 2000; ++i)
        messages.Post(nullptr, kAppMessage, static_cast<uintptr_t>(i), 0);
    messages.takeCost = 1;
    messages.timerPeriod = 20;
    messages.timerWindow = kWindow;
    messages.nextTimer = 20;
    EXPECT_EQ(Exchange(1000, 3000, 500), 0);
    EXPECT_GE(Dispatched(MESSAGE_TIMER), 25);
    ASSERT_EQ(messages.queue.size(), 2000u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(messages.queue[i].wParam, static_cast<uintptr_t>(i));
}

TEST_F(MessagesTest, AFloodKeepsItsOrderAcrossTheWaitsOfOneCall)
{
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    device.ackDelay = 10;
    device.replyDelay = 10;
    for (int i = 0; i < 400; ++i)
        messages.Post(nullptr, kAppMessage, static_cast<uintptr_t>(i), 0);
    EXPECT_EQ(Exchange(1000, 3000, 500), 0);
    ASSERT_EQ(messages.queue.size(), 400u);
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(messages.queue[i].wParam, static_cast<uintptr_t>(i));
}

TEST_F(MessagesTest, AWaitThatKeptNothingTakesNothing)
{
    // The procedure of a window message posts to its thread and then to its
    // window: with nothing kept, the wait leaves both where they are.
    link.Send({1, 2}, 1);
    messages.Post(kWindow, kPaint);
    messages.onDispatch = [this](FakeMessages &q, const QueuedMessage &m) {
        if (m.message == kPaint) {
            q.Post(nullptr, kAppMessage, 1, 0);
            q.Post(kWindow, kPaint + 1);
            link.now += 1;
        }
    };
    EXPECT_EQ(WaitForBytes(FakePort(), 2, 100), 1);
    ASSERT_EQ(messages.queue.size(), 2u);
    EXPECT_TRUE(SameMessage(messages.queue[0], nullptr, kAppMessage, 1, 0));
    EXPECT_EQ(messages.queue[1].message, kPaint + 1u);
    EXPECT_EQ(messages.posts, 0);
}

TEST_F(MessagesTest, BytesAlreadyQueuedAreReachedWithoutTouchingTheQueue)
{
    link.Send({1, 2});
    messages.Post(nullptr, kAppMessage, 1, 0);
    messages.Post(kWindow, kPaint);
    EXPECT_EQ(WaitForBytes(FakePort(), 2, 100), 1);
    EXPECT_TRUE(messages.dispatched.empty());
    EXPECT_EQ(messages.posts, 0);
    ASSERT_EQ(messages.queue.size(), 2u);
    EXPECT_EQ(messages.queue[0].message, kAppMessage);
    EXPECT_EQ(messages.takes, 0) << "the queue was looked at";
}

TEST_F(MessagesTest, ZeroTimeoutDrainsTheQueueOnce)
{
    link.idleStep = 0;
    for (int i = 0; i < 3; ++i)
        messages.Post(kWindow, kPaint);
    EXPECT_EQ(WaitForBytes(FakePort(), 1, 0), 0);
    EXPECT_EQ(Dispatched(kPaint), 3);
    EXPECT_EQ(link.idles, 1);
}
