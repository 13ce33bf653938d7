// The library loaded at run time, for the end-to-end host and the
// benchmark: the exports looked up by name (and on Windows checked against
// their ordinals), so they see exactly what a host that loads it sees.
#ifndef VOLMIRAX_LIBRARY_LOADER_H
#define VOLMIRAX_LIBRARY_LOADER_H

#include <string>

#include "volmirax.h"

struct Library {
    HANDLE(WINAPI *OpenComm)(int, int);
    int(WINAPI *CloseComm)(HANDLE *);
    int(WINAPI *SendCmd)(HANDLE, const unsigned char *, unsigned, unsigned char *, unsigned *, int, int, int);
    int(WINAPI *SendEot)(HANDLE, int);
    int(WINAPI *ReSet)(HANDLE, int, int, int, int, int, int, int, int);
    int(WINAPI *EjectCard)(HANDLE, int);
    int(WINAPI *GetMachineVersion)(HANDLE, unsigned char *);
    HANDLE (*OpenCommPath)(const char *, int);  // Linux only
    void *module;
};

// Loads `path`; false with a message when it or an export is missing.
bool LoadLibraryUnderTest(const std::string &path, Library &lib, std::string &error);


#endif
