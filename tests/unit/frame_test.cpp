#include <gtest/gtest.h>

#include "protocol/frame.h"
#include "fake_link.h"

TEST(ComputeBcc, XorFromZero)
{
    EXPECT_EQ(ComputeBcc(nullptr, 0), 0);
    const unsigned char one[] = {0xA5};
    EXPECT_EQ(ComputeBcc(one, 1), 0xA5);
    const unsigned char worked[] = {0x50, 0x33, 0x30, 0x30, 0x30, 0x03};
    EXPECT_EQ(ComputeBcc(worked, sizeof worked), 0x50);
}

struct FrameCase {
    Bytes cmd;
    std::string frame;
};

class CommandFrameTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(CommandFrameTest, BuildsTheFrame)
{
    const FrameCase &c = GetParam();
    Bytes frame(c.cmd.size() + 5, 0xEE);
    BuildCommandFrame(c.cmd.data(), static_cast<unsigned>(c.cmd.size()), frame.data());
    EXPECT_EQ(Hex(frame), c.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Worked, CommandFrameTest,
    ::testing::Values(
        FrameCase{Str("30"), "02 43 33 30 03 43 0D"},
        FrameCase{Str("31"), "02 43 33 31 03 42 0D"},
        FrameCase{Str("<0"), "02 43 3C 30 03 4C 0D"},
        // control values inside the command bytes go out unchanged and count in the BCC
        FrameCase{{0x02, 0x03, 0x0D}, "02 43 02 03 0D 03 4C 0D"},
        FrameCase{Str("0032400000000"), "02 43 30 30 33 32 34 30 30 30 30 30 30 30 30 03 75 0D"}));

struct StatusCase {
    unsigned char s1, s2;
    int32_t code;
};

class DeviceStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(DeviceStatusTest, MapsStatusBytes)
{
    EXPECT_EQ(DeviceStatusCode(GetParam().s1, GetParam().s2), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Formula, DeviceStatusTest,
                         ::testing::Values(StatusCase{'0', '0', 0}, StatusCase{'0', '1', 1},
                                           StatusCase{'1', '2', 258}, StatusCase{'1', '0', 256},
                                           StatusCase{0x30, 0x2F, -1}, StatusCase{0x31, 0x2F, 255},
                                           StatusCase{0x2F, 0xBB, -117}, StatusCase{0xFF, 0xFF, 53199},
                                           StatusCase{0x00, 0x00, -12336}));
