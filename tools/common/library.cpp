#include "library.h"

#ifdef _WIN32
#include <windows.h>
static void *Find(void *m, const char *name) { return (void *)GetProcAddress((HMODULE)m, name); }
static void *FindOrdinal(void *m, int ordinal) { return (void *)GetProcAddress((HMODULE)m, MAKEINTRESOURCEA(ordinal)); }
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

bool OrdinalsMatchNames(const Library &lib, std::string &error)
{
#ifdef _WIN32
    static const char *names[] = {"CloseComm", "EjectCard", "GetMachineVersion", "OpenComm",
                                  "ReSet", "SendCmd", "SendEot"};
    for (int i = 0; i < 7; ++i) {
        if (FindOrdinal(lib.module, i + 1) != Find(lib.module, names[i])) {
            error = std::string("ordinal ") + std::to_string(i + 1) + " is not " + names[i];
            return false;
        }
    }
    if (FindOrdinal(lib.module, 8) != nullptr) {
        error = "an eighth export";
        return false;
    }
#else
    (void)lib;
    (void)error;
#endif
    return true;
}
