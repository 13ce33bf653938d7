#include <cstring>

#include "exchange_fixture.h"

struct CommandCase {
    const char *name;
    std::function<int()> call;
    Bytes cmd;
};

class CommandTest : public ExchangeTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, SendsItsCommandBytesWithTheFixedTimeouts)
{
    const CommandCase &c = GetParam();
    device.reply = ReplyFrame('P', c.cmd[0], c.cmd[1], Str("00"));
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(Hex(link.wire), Hex(Cat(CommandFrame(c.cmd), {0x05, 0x0D})));

    // time-outs 1000 / 3000 / 500: a silent device is abandoned after 1000 ms
    // and the call ends 500 ms later
    link = FakeLink();
    device.Attach(link);
    device.ackSilent = true;
    device.eotSilent = true;
    EXPECT_EQ(c.call(), ERR_ACK_TIMEOUT);
    EXPECT_EQ(link.now, 1500u);
    // and a silent reply after 3000 ms from the request
    link = FakeLink();
    device.Attach(link);
    device.ackSilent = false;
    device.replySilent = true;
    EXPECT_EQ(c.call(), ERR_REPLY_TIMEOUT);
    EXPECT_EQ(link.now, 5u + 3000u + 500u);
}

static unsigned char g_version[256];

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandTest,
    ::testing::Values(
        CommandCase{"eject", [] { return EjectCard(FakePort(), 0x30); }, Str("30")},
        CommandCase{"eject_low_byte", [] { return EjectCard(FakePort(), 0x131); }, Str("31")},
        CommandCase{"reset", [] { return ReSet(FakePort(), '0', '0', '0', '0', '0', '0', '0', '0'); },
                    Str("0032400000000")},
        CommandCase{"reset_low_bytes",
                    [] { return ReSet(FakePort(), 0x141, 0x101, 0x202, -1, 0x0D, 0x03, 0x02, 0x7FFFFF30); },
                    {'0', 0x41, '3', '2', '4', '0', 0x01, 0x02, 0xFF, 0x0D, 0x03, 0x02, 0x30}},
        CommandCase{"version", [] { return GetMachineVersion(FakePort(), g_version); }, Str("<0")}),
    [](const ::testing::TestParamInfo<CommandCase> &i) { return std::string(i.param.name); });

TEST_F(ExchangeTest, CommandsPassTheDeviceStatusOnUnchanged)
{
    device.reply = ReplyFrame('N', '3', '0', Str("12"));
    EXPECT_EQ(EjectCard(FakePort(), '0'), 258);
    device.reply = ReplyFrame('N', '0', '1', Str("01"));
    EXPECT_EQ(ReSet(FakePort(), '1', 0, 0, 0, 0, 0, 0, 0), 1);
}

struct VersionCase {
    const char *name;
    Bytes reply;
    int rc;
    size_t copied;   // bytes expected in the version buffer, from the third byte of the caller data
};

class VersionTest : public ExchangeTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, CopiesTheVersionWithinItsBounds)
{
    const VersionCase &c = GetParam();
    device.reply = c.reply;
    unsigned char buffer[8 + VOLMIRAX_MAX_VERSION + 8];
    memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(GetMachineVersion(FakePort(), buffer + 8), c.rc);
    const size_t dataAt = 6;  // STX marker code param s1 s2
    for (size_t i = 0; i < sizeof buffer; ++i) {
        size_t at = i - 8;
        bool inside = i >= 8 && at < c.copied;
        unsigned char want = inside ? c.reply[dataAt + at] : 0xAA;
        ASSERT_EQ(buffer[i], want) << "at " << i;
    }
}

Bytes Version(size_t n)
{
    Bytes d = Str("00");
    for (size_t i = 0; i < n; ++i)
        d.push_back(static_cast<unsigned char>('A' + i % 26));
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Version, VersionTest,
    ::testing::Values(VersionCase{"text", ReplyFrame('P', '<', '0', Str("00VMX 1.02")), 0, 8},
                      VersionCase{"status_only", ReplyFrame('P', '<', '0', Str("00")), 0, 0},
                      VersionCase{"one_status_byte", ReplyFrame('P', '<', '0', Str("0")), 0, 0},
                      VersionCase{"no_status", ReplyFrame('P', '<', '0', {}), 0, 0},
                      VersionCase{"negative_00_is_success", ReplyFrame('N', '<', '0', Str("00v2")), 0, 2},
                      VersionCase{"negative_untouched", ReplyFrame('N', '<', '0', Str("03v2")), 3, 0},
                      VersionCase{"bad_bcc_untouched", ReplyFrame('P', '<', '0', Str("00v2"), 1), ERR_BCC, 0},
                      VersionCase{"exactly_253", ReplyFrame('P', '<', '0', Version(253)), 0, 253},
                      VersionCase{"longer_is_cut_at_253", ReplyFrame('P', '<', '0', Version(991)), 0, 253}),
    [](const ::testing::TestParamInfo<VersionCase> &i) { return std::string(i.param.name); });

TEST_F(ExchangeTest, VersionNeedsPortThenBuffer)
{
    unsigned char v[4];
    EXPECT_EQ(GetMachineVersion(nullptr, nullptr), ERR_NO_PORT);
    EXPECT_EQ(GetMachineVersion(nullptr, v), ERR_NO_PORT);
    EXPECT_EQ(GetMachineVersion(FakePort(), nullptr), ERR_ARGUMENT);
    EXPECT_EQ(EjectCard(nullptr, '0'), ERR_NO_PORT);
    EXPECT_EQ(ReSet(nullptr, '0', 0, 0, 0, 0, 0, 0, 0), ERR_NO_PORT);
    EXPECT_TRUE(link.ops.empty());
}
