// The trace's file on Linux: appended with write(2) under a mutex, moved to
// PATH.1 past its size limit; a file that cannot be opened, or is not a
// regular file (a FIFO would block the calls), is said once on standard
// error, and the trace is off. When PATH.1 cannot be replaced the trace
// stops at its limit, said once, rather than grow past it.
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

pthread_once_t g_once = PTHREAD_ONCE_INIT;
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
int g_fd = -1;
char g_path[4096];
long long g_maxBytes;
long long g_size;
int64_t g_startUs;

int64_t NowUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

void WriteAll(const char *text, unsigned length)
{
    while (length > 0) {
        const ssize_t n = write(g_fd, text, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // a full disk: the line is lost, the host goes on
        text += n;
        length -= (unsigned)n;
        g_size += n;
    }
}

// Opens PATH without ever blocking: 1, or 0 with a reason in `why`.
int OpenFile(const char **why)
{
    g_fd = open(g_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (g_fd < 0) {
        *why = strerror(errno);
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
    g_maxBytes = TraceLimitBytes(getenv("VOLMIRAX_TRACE_MAX"));
    g_startUs = NowUs();
    OpenOrSay();
}

}  // namespace

int TraceSinkStart(void)
{
    const int reason = errno;
    pthread_once(&g_once, Start);
    errno = reason;
    return g_fd >= 0;
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

const char *TraceSinkWriter(void) { return "libvolmirax.so"; }
