#include <gtest/gtest.h>

#include "link/port_settings.h"

struct ModeCase {
    int baud;
    const char *mode;
};

class ModeStringTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeStringTest, SupportedRateOrFallback)
{
    char mode[MODE_STRING_SIZE];
    BuildModeString(GetParam().baud, mode);
    EXPECT_STREQ(mode, GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(Rates, ModeStringTest,
                         ::testing::Values(ModeCase{1200, "1200,n,8,1"}, ModeCase{9600, "9600,n,8,1"},
                                           ModeCase{38400, "38400,n,8,1"},
                                           ModeCase{115200, "115200,n,8,1"}, ModeCase{300, "9600,n,8,1"},
                                           ModeCase{0, "9600,n,8,1"}, ModeCase{-115200, "9600,n,8,1"},
                                           ModeCase{230400, "9600,n,8,1"}));
