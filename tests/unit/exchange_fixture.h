// A fake link with a scripted device in place for each test.
#ifndef VOLMIRAX_EXCHANGE_FIXTURE_H
#define VOLMIRAX_EXCHANGE_FIXTURE_H

#include <gtest/gtest.h>

#include "scripted_device.h"

class ExchangeTest : public ::testing::Test {
protected:
    FakeLink link;
    ScriptedDevice device;

    void SetUp() override
    {
        g_link = &link;
        device.Attach(link);
    }
    void TearDown() override { g_link = nullptr; }

    bool WireHas(const Bytes &seq) const
    {
        return std::search(link.wire.begin(), link.wire.end(), seq.begin(), seq.end()) != link.wire.end();
    }
};

static const Bytes kAbortSeq = {0x10, 0x04, 0x0D};
static const Bytes kRequestSeq = {0x05, 0x0D};

#endif
