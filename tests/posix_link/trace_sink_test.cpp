// The trace's file on Linux when the disk fills: a write cut short leaves a
// torn line, and once there is room again the next line starts on a line of
// its own, so that a reader loses the torn line and nothing else. The
// system's write(2) is wrapped at link time to play the full disk.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "trace/trace.h"
#include "trace/trace_sink.h"

namespace {

// 0: writes go through; 1: the next write to the trace is cut in half, and
// every later one fails with ENOSPC until the mode is set back to 0.
int g_diskFull = 0;

}  // namespace

extern "C" ssize_t __real_write(int, const void *, size_t);
extern "C" ssize_t __wrap_write(int fd, const void *buf, size_t n)
{
    if (fd <= 2 || g_diskFull == 0)
        return __real_write(fd, buf, n);
    if (g_diskFull == 1) {
        g_diskFull = 2;
        return __real_write(fd, buf, n / 2);
    }
    errno = ENOSPC;
    return -1;
}

TEST(TraceSinkTest, AfterATornWriteTheNextLineStartsOnItsOwn)
{
    char path[] = "/tmp/volmirax-sink.XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("VOLMIRAX_TRACE", path, 1);
    ASSERT_EQ(TraceSinkStart("/dev/ttyS0", 9600), 1);
    const std::string first = "{\"e\":\"close\",\"t\":1,\"rc\":1}\n";
    const std::string torn = "{\"e\":\"close\",\"t\":2,\"rc\":1,\"padding\":\"" + std::string(200, 'x') + "\"}\n";
    const std::string lost = "{\"e\":\"close\",\"t\":3,\"rc\":1}\n";
    const std::string after = "{\"e\":\"close\",\"t\":4,\"rc\":1}\n";
    TraceSinkWrite(first.data(), (unsigned)first.size());
    g_diskFull = 1;
    TraceSinkWrite(torn.data(), (unsigned)torn.size());
    TraceSinkWrite(lost.data(), (unsigned)lost.size());
    g_diskFull = 0;
    TraceSinkWrite(after.data(), (unsigned)after.size());

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    unlink(path);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("{\"e\":\"header\"", 0), 0u);
    EXPECT_EQ(lines[1] + "\n", first);
    EXPECT_EQ(lines[2], torn.substr(0, torn.size() / 2)) << "the torn line, alone";
    EXPECT_EQ(lines[3] + "\n", after) << "the next line starts on its own";
}
