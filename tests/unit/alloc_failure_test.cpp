// The command frame is the one allocation of an exchange; when it cannot
// be had, the call fails with ERR_WRITE before anything goes out. The test
// binary is linked with --wrap=malloc so that the failure can be provoked.
#include <cstddef>

#include "exchange_fixture.h"

namespace {
bool g_failMalloc = false;
}

extern "C" void *__real_malloc(size_t size);
extern "C" void *__wrap_malloc(size_t size)
{
    return g_failMalloc ? nullptr : __real_malloc(size);
}

TEST_F(ExchangeTest, FrameThatCannotBeAllocatedSendsNothing)
{
    device.reply = ReplyFrame('P', '3', '0', Str("00"));
    const unsigned char cmd[2] = {'3', '0'};
    unsigned char data[4] = {9, 9, 9, 9};
    unsigned len = 77;
    link.recordOps = false;  // nothing in the fake may allocate meanwhile
    g_failMalloc = true;
    int rc = SendCmd(FakePort(), cmd, 2, data, &len, 100, 100, 100);
    g_failMalloc = false;
    EXPECT_EQ(rc, ERR_WRITE);
    EXPECT_TRUE(link.wire.empty());
    EXPECT_EQ(len, 77u);
    EXPECT_EQ(data[0], 9);
}
