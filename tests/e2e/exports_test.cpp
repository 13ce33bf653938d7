// The exports as a host sees them: names, ordinals, the stdcall convention,
// and a null handle.
#include <cstring>

#include "host.h"
#include "volmirax_codes.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Windows: each ordinal 1..7 resolves to the export of that name, in
// alphabetical order, and there is no eighth.
bool OrdinalsMatchNames(std::string &error)
{
#ifdef _WIN32
    static const char *names[] = {"CloseComm", "EjectCard", "GetMachineVersion", "OpenComm",
                                  "ReSet", "SendCmd", "SendEot"};
    HMODULE m = (HMODULE)lib.module;
    for (int i = 0; i < 7; ++i) {
        if ((void *)GetProcAddress(m, MAKEINTRESOURCEA(i + 1)) != (void *)GetProcAddress(m, names[i])) {
            error = std::string("ordinal ") + std::to_string(i + 1) + " is not " + names[i];
            return false;
        }
    }
    if (GetProcAddress(m, MAKEINTRESOURCEA(8)) != nullptr) {
        error = "an eighth export";
        return false;
    }
#else
    (void)error;
#endif
    return true;
}

#if defined(_WIN32) && defined(__i386__)
// Calls `fn` with `n` 32-bit arguments and returns how many bytes of them
// the callee removed from the stack: 4n for stdcall, 0 for cdecl.
int CalleePopped(const void *fn, const unsigned *args, int n)
{
    int left;
    __asm__ volatile(
        "movl %%esp, %%edi\n\t"
        "movl %[n], %%ecx\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl -4(%[args],%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "call *%[fn]\n\t"
        "movl %%edi, %%ecx\n\t"
        "subl %%esp, %%ecx\n\t"
        "movl %%edi, %%esp\n\t"
        : "=&c"(left)
        : [fn] "b"(fn), [args] "S"(args), [n] "m"(n)
        : "eax", "edx", "edi", "memory", "cc");
    return 4 * n - left;
}

void TestCallingConvention()
{
    HANDLE none = nullptr;
    unsigned char v[4];
    const unsigned zero[9] = {0};
    const unsigned closeArgs[1] = {(unsigned)(size_t)&none};
    const unsigned versionArgs[2] = {0, (unsigned)(size_t)v};
    const unsigned openArgs[2] = {0, 9600};
    struct { const char *name; const void *fn; const unsigned *args; int n; } calls[] = {
        {"OpenComm", (const void *)lib.OpenComm, openArgs, 2},
        {"CloseComm", (const void *)lib.CloseComm, closeArgs, 1},
        {"SendCmd", (const void *)lib.SendCmd, zero, 8},
        {"SendEot", (const void *)lib.SendEot, zero, 2},
        {"ReSet", (const void *)lib.ReSet, zero, 9},
        {"EjectCard", (const void *)lib.EjectCard, zero, 2},
        {"GetMachineVersion", (const void *)lib.GetMachineVersion, versionArgs, 2},
    };
    for (auto &c : calls) {
        int popped = CalleePopped(c.fn, c.args, c.n);
        Check(popped == 4 * c.n, std::string(c.name) + " is stdcall",
              "callee removed " + std::to_string(popped) + " bytes");
    }
}
#endif

}  // namespace

void TestExports()
{
    std::string error;
    Check(OrdinalsMatchNames(error), "exports at ordinals 1..7 in alphabetical order", error);
#if defined(_WIN32) && defined(__i386__)
    TestCallingConvention();
#endif
}

void TestNoPort()
{
    unsigned char cmd[2] = {'3', '0'}, data[4] = {9, 9, 9, 9}, v[4] = {9, 9, 9, 9};
    unsigned len = 77;
    CheckRc(lib.SendCmd(nullptr, cmd, 2, data, &len, 10, 10, 10), ERR_NO_PORT, "SendCmd without port");
    CheckRc(lib.SendEot(nullptr, 10), ERR_NO_PORT, "SendEot without port");
    CheckRc(lib.EjectCard(nullptr, '0'), ERR_NO_PORT, "EjectCard without port");
    CheckRc(lib.ReSet(nullptr, '0', 0, 0, 0, 0, 0, 0, 0), ERR_NO_PORT, "ReSet without port");
    CheckRc(lib.GetMachineVersion(nullptr, v), ERR_NO_PORT, "GetMachineVersion without port");
    Check(len == 77 && data[0] == 9 && v[0] == 9, "nothing written without port");
    HANDLE none = nullptr;
    Check(lib.CloseComm(&none) == 0, "CloseComm of a null variable returns 0");
    Check(lib.CloseComm(nullptr) == 0, "CloseComm(NULL) returns 0");
}
