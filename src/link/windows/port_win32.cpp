// Opening, configuring and closing a COM port on Windows.
#include <stdio.h>
#include <windows.h>

#include "link/port_settings.h"
#include "link/link.h"
#include "link/windows/comm_handle.h"
#include "trace/trace.h"

static int SetLineSettings(HANDLE handle, const char *mode)
{
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    // Everything the mode string does not set keeps the port's own value.
    if (!GetCommState(handle, &dcb) || !BuildCommDCBA(mode, &dcb) || !SetCommState(handle, &dcb))
        return ERR_LINE_SETTINGS;
    return 0;
}

static int SetPortTimeouts(HANDLE handle, DWORD interval, DWORD readMultiplier,
                           DWORD readConstant, DWORD writeMultiplier, DWORD writeConstant)
{
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    GetCommTimeouts(handle, &timeouts);
    timeouts.ReadIntervalTimeout = interval;
    timeouts.ReadTotalTimeoutMultiplier = readMultiplier;
    timeouts.ReadTotalTimeoutConstant = readConstant;
    timeouts.WriteTotalTimeoutMultiplier = writeMultiplier;
    timeouts.WriteTotalTimeoutConstant = writeConstant;
    return SetCommTimeouts(handle, &timeouts) ? 0 : ERR_SET_TIMEOUTS;
}

static int SetQueueSizes(HANDLE handle, DWORD input, DWORD output)
{
    return SetupComm(handle, input, output) ? 0 : ERR_SETUP_QUEUES;
}

static int ConfigurePort(HANDLE handle, const char *mode)
{
    int rc = SetLineSettings(handle, mode);
    if (rc == 0)
        rc = SetPortTimeouts(handle, READ_INTERVAL_TIMEOUT, READ_TOTAL_MULTIPLIER,
                             READ_TOTAL_CONSTANT, WRITE_TOTAL_MULTIPLIER, WRITE_TOTAL_CONSTANT);
    if (rc == 0)
        rc = SetQueueSizes(handle, INPUT_QUEUE_SIZE, OUTPUT_QUEUE_SIZE);
    return rc;
}

static HANDLE OpenPort(const char *name, int baud)
{
    char mode[MODE_STRING_SIZE];
    BuildModeString(baud, mode);

    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    if (ConfigurePort(handle, mode) != 0) {
        // the caller gets the reason of the step that failed, not the close's
        const DWORD reason = GetLastError();
        CloseHandle(handle);
        SetLastError(reason);
        return NULL;
    }
    Purge(handle);
    return handle;
}

extern "C" HANDLE WINAPI OpenComm(int port, int baud)
{
    if (port < 1) {
        SetLastError(ERROR_FILE_NOT_FOUND);  // there is no COM0
        return NULL;
    }
    // The device namespace prefix lets COM10 and above open too.
    char name[32];
    snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    TraceStartOnce(name + 4, SupportedBaud(baud));
    HANDLE handle = OpenPort(name, baud);
    const DWORD reason = GetLastError();
    TraceOpen(name + 4, SupportedBaud(baud), handle, handle ? 0 : reason);
    SetLastError(reason);
    return handle;
}

extern "C" int WINAPI CloseComm(HANDLE *phPort)
{
    if (phPort == NULL || *phPort == NULL)
        return 0;
    const HANDLE handle = *phPort;
    // only a port is closed: a host's event or file given by mistake stays open
    const int closed = IsCommHandle(handle) && CloseHandle(handle) ? 1 : 0;
    *phPort = NULL;
    const DWORD reason = GetLastError();
    TraceClose(handle, closed);
    SetLastError(reason);
    return closed;
}
