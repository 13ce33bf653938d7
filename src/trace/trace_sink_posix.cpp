// The trace's file on Linux: appended with write(2) under a mutex, moved to
// PATH.1 past its size limit; a file that cannot be opened, or is not a
// regular file (a FIFO would block the calls; a symbolic link would be
// followed to wherever it points, and the roll-over would move the link,
// not its file), is said once on standard error, and the trace is off.
// When PATH.1 cannot be replaced the trace stops at its limit, said once,
// rather than grow past it.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "trace/trace.h"
#include "trace/trace_sink.h"

namespace {

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
int g_started;
int g_fd = -1;
int g_torn;  // the last write was cut short: the file ends inside a line
char g_path[4096];
long long g_maxBytes;
long long g_size;
int64_t g_startUs;
int64_t g_wallStartUs;

int64_t NowUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

// One write of whole lines. A write the disk cuts short leaves the file
// inside a line: the next write then starts with an end of line, so that
// the torn line stays alone and every line after it reads.
void WriteAll(const char *text, unsigned length)
{
    if (g_torn && write(g_fd, "\n", 1) == 1) {
        g_torn = 0;
        ++g_size;
    }
    if (g_torn)
        return;
    ssize_t n;
    while ((n = write(g_fd, text, length)) < 0 && errno == EINTR) {
    }
    if (n > 0)
        g_size += n;
    if (n != (ssize_t)length)
        g_torn = n > 0;  // a full disk: the rest is lost, the host goes on
}

// Opens PATH without ever blocking: 1, or 0 with a reason in `why`.
int OpenFile(const char **why)
{
    g_fd = open(g_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
    if (g_fd < 0) {
        *why = errno == ELOOP ? "a symbolic link" : strerror(errno);
        return 0;
    }
    struct stat st;
    if (fstat(g_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(g_fd);
        g_fd = -1;
        *why = "not a regular file";
        return 0;
    }
    g_size = st.st_size;
    g_torn = 0;
    char header[512];
    WriteAll(header, TraceHeader(header, sizeof header));
    return 1;
}

// Opens PATH, or says once why the trace is off.
void OpenOrSay()
{
    const char *why = 0;
    if (!OpenFile(&why))
        fprintf(stderr, "volmirax: cannot write the trace to %s: %s; the trace is off\n", g_path, why);
}

void Start()
{
    const char *path = getenv("VOLMIRAX_TRACE");
    if (path == 0 || path[0] == 0)
        return;
    if (strlen(path) + 3 > sizeof g_path) {
        fprintf(stderr, "volmirax: VOLMIRAX_TRACE is too long a path; the trace is off\n");
        return;
    }
    strcpy(g_path, path);
    int refused = 0;
    g_maxBytes = TraceLimitBytes(getenv("VOLMIRAX_TRACE_MAX"), &refused);
    if (refused)
        fprintf(stderr, "volmirax: VOLMIRAX_TRACE_MAX is not a size in megabytes (more than 0, at most %d); "
                        "the trace keeps %d MB\n", TRACE_MAX_MB, TRACE_DEFAULT_MB);
    g_startUs = NowUs();
    struct timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    g_wallStartUs = (int64_t)wall.tv_sec * 1000000 + wall.tv_nsec / 1000;
    OpenOrSay();
}

}  // namespace

int TraceSinkStart(const char *port, int baud)
{
    const int reason = errno;
    pthread_mutex_lock(&g_lock);
    if (!g_started) {
        g_started = 1;
        TraceNameHeader(port, baud);
        Start();
    }
    const int on = g_fd >= 0;
    pthread_mutex_unlock(&g_lock);
    errno = reason;
    return on;
}

void TraceSinkWrite(const char *lines, unsigned length)
{
    const int reason = errno;
    pthread_mutex_lock(&g_lock);
    if (g_size >= g_maxBytes && g_fd >= 0) {
        close(g_fd);
        g_fd = -1;
        char older[sizeof g_path + 2];
        snprintf(older, sizeof older, "%s.1", g_path);
        if (rename(g_path, older) != 0)
            fprintf(stderr, "volmirax: cannot move the trace to %s: %s; the trace stops at its limit\n", older,
                    strerror(errno));
        else
            OpenOrSay();
    }
    if (g_fd >= 0)
        WriteAll(lines, length);
    pthread_mutex_unlock(&g_lock);
    errno = reason;
}

int64_t TraceSinkClockUs(void) { return NowUs() - g_startUs; }

int64_t TraceSinkWallStartUs(void) { return g_wallStartUs; }

const char *TraceSinkWriter(void) { return "libvolmirax.so"; }

unsigned long TraceSinkProcessId(void) { return (unsigned long)getpid(); }
