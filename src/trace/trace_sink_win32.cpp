// The trace's file on Windows: appended under a lock with WriteFile (no
// buffering of our own), moved to PATH.1 past its size limit; a path that
// cannot be opened or is not a regular file on a disk (a pipe, a device
// such as COM1 or NUL, a symbolic link or other reparse point) is said once
// with OutputDebugStringA, and the trace is off. When PATH.1 cannot be
// replaced the trace stops at its limit, said once.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "trace/trace.h"
#include "trace/trace_sink.h"

namespace {

INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
SRWLOCK g_lock = SRWLOCK_INIT;
HANDLE g_file = INVALID_HANDLE_VALUE;
int g_torn;  // the last write was cut short: the file ends inside a line
char g_path[MAX_PATH];
long long g_maxBytes;
long long g_size;
LARGE_INTEGER g_start, g_frequency;
int64_t g_wallStartUs;

// "VOLMIRAX: <what> PATH (error N)<then>", said once.
void Say(const char *what, DWORD error, const char *then)
{
    char message[MAX_PATH + 200];
    snprintf(message, sizeof message, "VOLMIRAX: %s %s (error %u)%s\n", what, g_path, (unsigned)error, then);
    OutputDebugStringA(message);
}

// One write of whole lines; after a write the disk cut short, the next one
// starts with an end of line, so that the torn line stays alone.
void WriteAll(const char *text, unsigned length)
{
    DWORD written = 0;
    if (g_torn && WriteFile(g_file, "\n", 1, &written, NULL) && written == 1) {
        g_torn = 0;
        ++g_size;
    }
    if (g_torn)
        return;
    written = 0;
    WriteFile(g_file, text, length, &written, NULL);
    g_size += written;
    if (written != length)
        g_torn = written > 0;
}

// A regular file on a disk, opened as itself (never through a link).
bool IsPlainFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

int OpenFile()
{
    g_file = CreateFileA(g_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (g_file == INVALID_HANDLE_VALUE) {
        Say("cannot write the trace to", GetLastError(), "; the trace is off");
        return 0;
    }
    if (!IsPlainFile(g_file)) {
        CloseHandle(g_file);
        g_file = INVALID_HANDLE_VALUE;
        Say("cannot write the trace to", ERROR_BAD_PATHNAME, ": not a regular file (a pipe, a device or a link); the trace is off");
        return 0;
    }
    g_torn = 0;
    LARGE_INTEGER size;
    g_size = GetFileSizeEx(g_file, &size) ? size.QuadPart : 0;
    char header[512];
    WriteAll(header, TraceHeader(header, sizeof header));
    return 1;
}

struct HeaderName {
    const char *port;
    int baud;
};

BOOL CALLBACK Start(PINIT_ONCE, PVOID parameter, PVOID *)
{
    const HeaderName *name = (const HeaderName *)parameter;
    TraceNameHeader(name->port, name->baud);
    const DWORD length = GetEnvironmentVariableA("VOLMIRAX_TRACE", g_path, sizeof g_path - 2);
    if (length == 0 || length >= sizeof g_path - 2)
        return TRUE;
    char max[32];
    const DWORD maxLength = GetEnvironmentVariableA("VOLMIRAX_TRACE_MAX", max, sizeof max);
    int refused = maxLength >= sizeof max;
    g_maxBytes = TraceLimitBytes(maxLength > 0 && maxLength < sizeof max ? max : 0, &refused);
    if (refused || maxLength >= sizeof max)
        Say("VOLMIRAX_TRACE_MAX is not a size in megabytes (more than 0, at most 1048576) for", ERROR_INVALID_DATA,
            "; the trace keeps 32 MB");
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_start);
    FILETIME wall;  // 100-ns ticks since 1601
    GetSystemTimeAsFileTime(&wall);
    g_wallStartUs = (int64_t)((((uint64_t)wall.dwHighDateTime << 32 | wall.dwLowDateTime) - 116444736000000000ULL) / 10);
    OpenFile();
    return TRUE;
}

}  // namespace

int TraceSinkStart(const char *port, int baud)
{
    const DWORD reason = GetLastError();
    HeaderName name = {port, baud};
    InitOnceExecuteOnce(&g_once, Start, &name, NULL);
    SetLastError(reason);
    return g_file != INVALID_HANDLE_VALUE;
}

void TraceSinkWrite(const char *lines, unsigned length)
{
    const DWORD reason = GetLastError();
    AcquireSRWLockExclusive(&g_lock);
    if (g_size >= g_maxBytes && g_file != INVALID_HANDLE_VALUE) {
        CloseHandle(g_file);
        g_file = INVALID_HANDLE_VALUE;
        char older[MAX_PATH + 2];
        snprintf(older, sizeof older, "%s.1", g_path);
        if (MoveFileExA(g_path, older, MOVEFILE_REPLACE_EXISTING))
            OpenFile();
        else
            Say("cannot move to PATH.1 the trace", GetLastError(), "; the trace stops at its limit");
    }
    if (g_file != INVALID_HANDLE_VALUE)
        WriteAll(lines, length);
    ReleaseSRWLockExclusive(&g_lock);
    SetLastError(reason);
}

int64_t TraceSinkClockUs(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const long long ticks = now.QuadPart - g_start.QuadPart;
    return (int64_t)(ticks / g_frequency.QuadPart * 1000000 + ticks % g_frequency.QuadPart * 1000000 / g_frequency.QuadPart);
}

int64_t TraceSinkWallStartUs(void) { return g_wallStartUs; }

unsigned long TraceSinkProcessId(void) { return GetCurrentProcessId(); }

const char *TraceSinkWriter(void)
{
    return sizeof(void *) == 4 ? "VOLMIRAX.dll (32-bit)" : "VOLMIRAX.dll (64-bit)";
}
