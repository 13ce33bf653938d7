#include "exchange_fixture.h"

struct EotCase {
    const char *name;
    bool silent;
    Bytes echo;
    int failWrite, shortRead;
    int rc;
};

class SendEotTest : public ExchangeTest, public ::testing::WithParamInterface<EotCase> {};

TEST_P(SendEotTest, AbortExchange)
{
    const EotCase &c = GetParam();
    device.eotSilent = c.silent;
    device.eotEcho = c.echo;
    link.failWrite = c.failWrite;
    link.shortRead = c.shortRead;
    EXPECT_EQ(SendEot(FakePort(), 50), c.rc);
    std::vector<std::string> start(link.ops.begin(), link.ops.begin() + 2);
    EXPECT_EQ(start, (std::vector<std::string>{"purge-rx", "purge-tx"}));
}

INSTANTIATE_TEST_SUITE_P(
    Eot, SendEotTest,
    ::testing::Values(EotCase{"echoed", false, {0x10, 0x04, 0x0D}, -1, -1, 0},
                      EotCase{"wrong_echo", false, {0x10, 0x04, 0x0A}, -1, -1, ERR_EOT_ECHO},
                      EotCase{"short_echo_times_out", false, {0x10, 0x04}, -1, -1, ERR_EOT_TIMEOUT},
                      EotCase{"silent", true, {}, -1, -1, ERR_EOT_TIMEOUT},
                      EotCase{"write_fails", false, {0x10, 0x04, 0x0D}, 0, -1, ERR_WRITE},
                      EotCase{"read_short", false, {0x10, 0x04, 0x0D}, -1, 0, ERR_READ_SHORT}),
    [](const ::testing::TestParamInfo<EotCase> &i) { return std::string(i.param.name); });

TEST_F(ExchangeTest, SendEotWritesTheAbortSequenceAndTimesOutOnTheClock)
{
    device.eotSilent = true;
    EXPECT_EQ(SendEot(FakePort(), 250), ERR_EOT_TIMEOUT);
    EXPECT_EQ(Hex(link.wire), "10 04 0D");
    EXPECT_EQ(link.now, 250u);
}

TEST_F(ExchangeTest, SendEotWithoutPortDoesNothing)
{
    EXPECT_EQ(SendEot(nullptr, 50), ERR_NO_PORT);
    EXPECT_TRUE(link.ops.empty());
}
