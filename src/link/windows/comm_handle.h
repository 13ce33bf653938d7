// Whether a handle is a communications port: a host's file, pipe or event
// given by mistake is refused as a handle no open returned, with the
// system's "bad handle" (ERROR_INVALID_HANDLE).
#ifndef VOLMIRAX_COMM_HANDLE_H
#define VOLMIRAX_COMM_HANDLE_H

#include <windows.h>

inline bool IsCommHandle(HANDLE handle)
{
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(handle, &dcb))
        return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

// After a failed call on a port: whether the failure is the system's "bad
// handle" (the handle was closed under the call), as opposed to a line
// that failed (hung up, a driver error).
inline bool ClosedUnderTheCall()
{
    return GetLastError() == ERROR_INVALID_HANDLE;
}

#endif
