// The trace's file on Windows: appended under a lock with WriteFile (no
// buffering of our own), moved to PATH.1 past its size limit; a file that
// cannot be opened is said once with OutputDebugStringA.
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
char g_path[MAX_PATH];
long long g_maxBytes;
long long g_size;
LARGE_INTEGER g_start, g_frequency;

void WriteAll(const char *text, unsigned length)
{
    DWORD written = 0;
    if (WriteFile(g_file, text, length, &written, NULL))
        g_size += written;
}

int OpenFile()
{
    g_file = CreateFileA(g_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_file == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER size;
    g_size = GetFileSizeEx(g_file, &size) ? size.QuadPart : 0;
    char header[512];
    WriteAll(header, TraceHeader(header, sizeof header));
    return 1;
}

BOOL CALLBACK Start(PINIT_ONCE, PVOID, PVOID *)
{
    const DWORD length = GetEnvironmentVariableA("VOLMIRAX_TRACE", g_path, sizeof g_path - 2);
    if (length == 0 || length >= sizeof g_path - 2)
        return TRUE;
    char max[32];
    const DWORD maxLength = GetEnvironmentVariableA("VOLMIRAX_TRACE_MAX", max, sizeof max);
    g_maxBytes = TraceLimitBytes(maxLength > 0 && maxLength < sizeof max ? max : 0);
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_start);
    if (!OpenFile()) {
        char message[MAX_PATH + 96];
        snprintf(message, sizeof message, "VOLMIRAX: cannot write the trace to %s (error %u); the trace is off\n",
                 g_path, (unsigned)GetLastError());
        OutputDebugStringA(message);
    }
    return TRUE;
}

}  // namespace

int TraceSinkStart(void)
{
    const DWORD reason = GetLastError();
    InitOnceExecuteOnce(&g_once, Start, NULL, NULL);
    SetLastError(reason);
    return g_file != INVALID_HANDLE_VALUE;
}

void TraceSinkWrite(const char *lines, unsigned length)
{
    const DWORD reason = GetLastError();
    AcquireSRWLockExclusive(&g_lock);
    if (g_size >= g_maxBytes && g_file != INVALID_HANDLE_VALUE) {
        CloseHandle(g_file);
        char older[MAX_PATH + 2];
        snprintf(older, sizeof older, "%s.1", g_path);
        MoveFileExA(g_path, older, MOVEFILE_REPLACE_EXISTING);
        OpenFile();
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

const char *TraceSinkWriter(void)
{
    return sizeof(void *) == 4 ? "VOLMIRAX.dll (32-bit)" : "VOLMIRAX.dll (64-bit)";
}
