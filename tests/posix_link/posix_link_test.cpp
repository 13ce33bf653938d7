// The POSIX link on a line with a rate and an output queue (virtual_line.h):
// writes end when the bytes have left, waits sleep until something new
// arrives, reads keep their failure codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "link/posix/posix_port.h"
#include "link/wait.h"
#include "virtual_line.h"
#include "wire_model.h"

namespace {

using wire::kAbort;

class PosixLinkTest : public ::testing::Test {
protected:
    VirtualLine line;
    PosixPort *port = nullptr;  // the record of a port in the library's table
    HANDLE handle = nullptr;
    // The device: answers each command frame, request and abort once it has
    // fully arrived, after its think time.
    bool ackSilent = false, eotSilent = false;
    int64_t ackThinkUs = 5000, replyThinkUs = 5000;
    Bytes ack = wire::kAck;
    Bytes reply;
    Bytes heard;

    void SetUp() override
    {
        port = ReservePort();
        ASSERT_NE(port, nullptr);
        ResetPort();
        handle = AddPort(port);
        g_line = &line;
        reply = ReplyFrame('P', '3', '0', {'0', '0'});
        line.onByte = [this](VirtualLine &l, unsigned char b) {
            heard.push_back(b);
            if (b != wire::CR)
                return;
            if (heard[0] == wire::STX && !ackSilent)
                l.Send(ack, ackThinkUs);
            else if (heard == wire::kRequest)
                l.Send(reply, replyThinkUs);
            else if (heard == kAbort && !eotSilent)
                l.Send(kAbort, 1000);
            heard.clear();
        };
    }
    void TearDown() override
    {
        g_line = nullptr;
        RemovePort(handle);
    }

    void ResetPort()
    {
        const int wake = port->wakeFd;  // the record's own, as the table made it
        memset(port, 0, sizeof *port);
        port->wakeFd = wake;
        port->fd = VirtualLine::kFd;
        port->byteUs = 1042;
    }
    HANDLE Port() { return handle; }
    int64_t NowMs() const { return line.nowUs / 1000; }
};

}  // namespace

TEST_F(PosixLinkTest, ALongCommandHasLeftBeforeTheAcknowledgementTimeStarts)
{
    // 905 frame bytes take 943 ms at 9600 baud; the device acknowledges
    // 100 ms after the last, well within 200 ms of the end of the write
    ackThinkUs = 100000;
    Bytes cmd(900, 'x');
    cmd[0] = '3';
    cmd[1] = '0';
    EXPECT_EQ(SendCmd(Port(), cmd.data(), 900, nullptr, nullptr, 200, 1000, 500), 0);
    Bytes expected = CommandFrame(cmd);
    expected.insert(expected.end(), wire::kRequest.begin(), wire::kRequest.end());
    EXPECT_EQ(line.received, expected) << "no abort, nothing cut";
}

TEST_F(PosixLinkTest, WriteReturnsOnceTheBytesHaveLeft)
{
    const Bytes frame = CommandFrame({'3', '0'});
    ASSERT_EQ(WriteBytes(Port(), frame.data(), 7), 0);
    EXPECT_EQ(line.OutQueued(), 0u);
    EXPECT_EQ(line.received, frame);
    EXPECT_GE(line.nowUs, 7 * 1042);
    EXPECT_LE(line.sleeps, 3) << "the drain is waited for in a few sleeps, not polled";
}

TEST_F(PosixLinkTest, ALineThatNeverDrainsGivesWriteShortAfterTheWriteTimeout)
{
    struct {
        const char *name;
        unsigned capacity;  // of the driver's output queue
    } cases[] = {{"bytes queued but held", 4096}, {"queue full, write blocks", 16}};
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        line = VirtualLine();
        line.stalled = true;
        line.outCapacity = c.capacity;
        Bytes bytes(100, 'x');
        EXPECT_EQ(WriteBytes(Port(), bytes.data(), 100), ERR_WRITE_SHORT);
        // 40 ms a byte + 400 ms
        EXPECT_GE(NowMs(), 4400);
        EXPECT_LE(NowMs(), 4400 + 12);
        EXPECT_LT(line.SystemCalls(), 100) << "bounded, and no busy loop";
        // nothing of the abandoned write is left to go out after the call
        EXPECT_EQ(line.OutQueued(), 0u);
        EXPECT_TRUE(line.received.empty()) << HexOf(line.received);
    }
}

TEST_F(PosixLinkTest, TheAbortNeverCutsAFrameShort)
{
    ackSilent = true;
    Bytes cmd(60, 'y');
    EXPECT_EQ(SendCmd(Port(), cmd.data(), 60, nullptr, nullptr, 0, 100, 100), ERR_ACK_TIMEOUT);
    Bytes expected = CommandFrame(cmd);
    expected.insert(expected.end(), kAbort.begin(), kAbort.end());
    EXPECT_EQ(line.received, expected);
    EXPECT_EQ(line.purgedOut, 0u);
}

TEST_F(PosixLinkTest, APartlyThereAcknowledgementIsWaitedForAsleep)
{
    line.Send({wire::ACK});  // one byte of two, and nothing more
    const int before = line.polls + line.sleeps;
    EXPECT_EQ(WaitForBytes(Port(), 2, 1000), 0);
    EXPECT_EQ(NowMs(), 1000);
    EXPECT_LE(line.polls + line.sleeps - before, 2) << "no periodic wake-ups while nothing changes";
}

TEST_F(PosixLinkTest, TheSecondAcknowledgementByteIsSeenAsItArrives)
{
    line.Send({wire::ACK});
    line.Send({wire::CR}, 300000);
    EXPECT_EQ(WaitForBytes(Port(), 2, 1000), 1);
    EXPECT_EQ(line.nowUs, 300000 + 1042) << "woken by the byte itself";
}

TEST_F(PosixLinkTest, RepliesArrivingInBatchesCostFewSystemCalls)
{
    // a 999-byte reply at 115200 baud, handed over 32 bytes at a time
    line.byteUs = 87;
    port->byteUs = 87;
    Bytes data(993, 'd');
    data[0] = data[1] = '0';
    reply = ReplyFrame('P', '3', '0', data);
    int batches = 0;
    line.onByte = [&](VirtualLine &l, unsigned char b) {
        heard.push_back(b);
        if (b != wire::CR)
            return;
        if (heard[0] == wire::STX) {
            l.Send(ack, 1000);
        } else {
            for (size_t at = 0; at < reply.size(); at += 32, ++batches) {
                Bytes chunk(reply.begin() + at, reply.begin() + std::min(reply.size(), at + 32));
                int64_t when = 1000 + (at + chunk.size()) * 87;
                for (unsigned char c : chunk)
                    l.in.emplace_back(l.nowUs + when, c);
            }
        }
        heard.clear();
    };
    unsigned char out[VOLMIRAX_MAX_REPLY_DATA];
    unsigned len = 0;
    const unsigned char cmd[2] = {'3', '0'};
    const int before = line.polls + line.reads;
    EXPECT_EQ(SendCmd(Port(), cmd, 2, out, &len, 1000, 3000, 500), 0);
    EXPECT_EQ(len, 993u);
    EXPECT_LE(line.polls + line.reads - before, 2 * batches + 12)
        << "a poll and a read per batch, as a plain poll-and-read host";
}

TEST_F(PosixLinkTest, ReadFailuresKeepTheirMeanings)
{
    struct {
        const char *name;
        int readErrno;
        bool hungUp;
        int rc;
    } cases[] = {
        {"fewer bytes than asked within the read time-out", 0, false, ERR_READ_SHORT},
        {"the read call fails", EIO, false, ERR_READ},
        {"the line has hung up", 0, true, ERR_READ},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        line = VirtualLine();
        ResetPort();
        line.Send({0x41});
        line.AdvanceTo(5000);
        line.readErrno = c.readErrno;
        line.hungUp = c.hungUp;
        unsigned char buffer[3];
        EXPECT_EQ(ReadBytes(Port(), buffer, 3), c.rc);
        if (c.rc == ERR_READ_SHORT)
            EXPECT_EQ(NowMs(), 5 + 3 * 400 + 400) << "400 ms a byte + 400 ms";
        else
            EXPECT_EQ(errno, EIO) << "the reason is kept for the caller";
    }
}

TEST_F(PosixLinkTest, PurgesClearTheReadAhead)
{
    line.Send({1, 2, 3});
    line.AdvanceTo(10000);
    EXPECT_EQ(PendingBytes(Port()), 3u);
    Purge(Port());
    EXPECT_EQ(PendingBytes(Port()), 0u);
}
