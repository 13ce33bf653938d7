// The DLL's version resource, as GetFileVersionInfo reads it.
#include <vector>

#include "host.h"
#ifdef _WIN32
#include <windows.h>
#endif

#ifdef _WIN32
std::string VersionString(const std::vector<char> &info, const char *key)
{
    char *value = nullptr;
    UINT len = 0;
    std::string path = std::string("\\StringFileInfo\\080404B0\\") + key;
    if (!VerQueryValueA(info.data(), path.c_str(), (void **)&value, &len) || !value)
        return "<missing>";
    return value;
}

void TestVersionResource(const std::string &dll)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &ignored);
    Check(size > 0, "version resource present");
    if (size == 0)
        return;
    std::vector<char> info(size);
    GetFileVersionInfoA(dll.c_str(), 0, size, info.data());
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT len = 0;
    bool got = VerQueryValueA(info.data(), "\\", (void **)&fixed, &len) && fixed;
    Check(got && fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000001 &&
              fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0x00000001,
          "file and product version 1.0.0.1");
    struct { const char *key, *value; } strings[] = {
        {"FileVersion", "1, 0, 0, 1"}, {"ProductVersion", "1, 0, 0, 1"},
        {"FileDescription", "VOLMIRAX DLL"}, {"InternalName", "VOLMIRAX"},
        {"OriginalFilename", "VOLMIRAX.DLL"}, {"ProductName", "VOLMIRAX Dynamic Link Library"}};
    for (auto &k : strings) {
        std::string v = VersionString(info, k.key);
        Check(v == k.value, std::string("version string ") + k.key, v);
    }
    WORD *translation = nullptr;
    got = VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void **)&translation, &len) && len >= 4;
    Check(got && translation[0] == 0x0804 && translation[1] == 0x04B0, "translation 0804 04B0");
}
#else
void TestVersionResource(const std::string &) {}
#endif
