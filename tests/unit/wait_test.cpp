#include "link/wait.h"
#include "exchange_fixture.h"

TEST_F(ExchangeTest, WaitReachedAtOnceWhenBytesAreQueued)
{
    link.Send({1, 2, 3});
    EXPECT_EQ(WaitForBytes(FakePort(), 3, 100), 1);
    EXPECT_EQ(link.idles, 0);
    EXPECT_EQ(link.rx.size(), 3u) << "the wait reads nothing";
}

TEST_F(ExchangeTest, WaitWithZeroTimeoutGivesOneIdleStep)
{
    EXPECT_EQ(WaitForBytes(FakePort(), 1, 0), 0);
    EXPECT_EQ(link.idles, 1);
}

TEST_F(ExchangeTest, WaitNeedsTheWholeCount)
{
    link.Send({1}, 0);
    link.Send({2}, 30);
    EXPECT_EQ(WaitForBytes(FakePort(), 2, 100), 1);
    EXPECT_EQ(link.now, 30u);
    link = FakeLink();
    link.Send({1}, 0);
    EXPECT_EQ(WaitForBytes(FakePort(), 2, 100), 0);
    EXPECT_EQ(link.now, 100u);
}

TEST_F(ExchangeTest, WaitCountsAcrossTheClockWrap)
{
    link.now = 0xFFFFFFF0u;
    link.Send({1}, 40);
    EXPECT_EQ(WaitForBytes(FakePort(), 1, 30), 0);
    EXPECT_EQ(link.now, 0x0000000Eu);
}

TEST_F(ExchangeTest, SlowIdleStepsCountInFull)
{
    link.idleStep = 400;  // a window procedure that keeps the thread busy
    EXPECT_EQ(WaitForBytes(FakePort(), 1, 1000), 0);
    EXPECT_EQ(link.idles, 3);
}

TEST_F(ExchangeTest, BytesThatCameBeforeTheTimeOutAreNeverATimeOut)
{
    // passes of 400 ms: the pass that finds the time up (at 1200 ms) comes
    // after the byte (at 900 ms); the queue is looked at once more
    link.idleStep = 400;
    link.Send({1}, 900);
    EXPECT_EQ(WaitForBytes(FakePort(), 1, 1000), 1);
    EXPECT_EQ(link.idles, 3);
}
