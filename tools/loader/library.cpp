#include "library.h"

#ifdef _WIN32
#include <windows.h>
static void *Find(void *m, const char *name) { return (void *)GetProcAddress((HMODULE)m, name); }
#else
#include <dlfcn.h>
static void *Find(void *m, const char *name) { return dlsym(m, name); }
#endif

template <typename F>
static bool Resolve(void *m, const char *name, F &fn, std::string &error)
{
    void *p = Find(m, name);
    if (!p) {
        error = std::string("export not found: ") + name;
        return false;
    }
    fn = reinterpret_cast<F>(p);
    return true;
}

bool LoadLibraryUnderTest(const std::string &path, Library &lib, std::string &error)
{
#ifdef _WIN32
    lib.module = (void *)LoadLibraryA(path.c_str());
#else
    lib.module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!lib.module) {
        error = "cannot load " + path;
        return false;
    }
    lib.OpenCommPath = nullptr;
#ifndef _WIN32
    if (!Resolve(lib.module, "OpenCommPath", lib.OpenCommPath, error))
        return false;
#endif
    return Resolve(lib.module, "OpenComm", lib.OpenComm, error) &&
           Resolve(lib.module, "CloseComm", lib.CloseComm, error) &&
           Resolve(lib.module, "SendCmd", lib.SendCmd, error) &&
           Resolve(lib.module, "SendEot", lib.SendEot, error) &&
           Resolve(lib.module, "ReSet", lib.ReSet, error) &&
           Resolve(lib.module, "EjectCard", lib.EjectCard, error) &&
           Resolve(lib.module, "GetMachineVersion", lib.GetMachineVersion, error);
}
