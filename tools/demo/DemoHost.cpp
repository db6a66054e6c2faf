// A small host program that uses tarnix.dll the way the genealogy application does: it loads
// the DLL at run time, looks its exports up by name and drives them.
#include <windows.h>

#include <cstdio>

#include "tarnix.h"

namespace {

template <class Fn>
Fn Export(HMODULE dll, const char* name) {
    FARPROC proc = GetProcAddress(dll, name);
    if (!proc) {
        std::fprintf(stderr, "tarnix.dll has no export %s\n", name);
        ExitProcess(2);
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

}  // namespace

int main(int argc, char** argv) {
    const char* dllPath = argc > 1 ? argv[1] : "tarnix.dll";
    HMODULE dll = LoadLibraryA(dllPath);
    if (!dll) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", dllPath, GetLastError());
        return 2;
    }

    auto initialize = Export<decltype(&TARNIXInitialize)>(dll, "TARNIXInitialize");
    auto terminate = Export<decltype(&TARNIXTerminate)>(dll, "TARNIXTerminate");
    auto connectedState = Export<decltype(&TarnixGetConnectedState)>(dll, "TarnixGetConnectedState");
    auto canConnect = Export<decltype(&TarnixCanConnect)>(dll, "TarnixCanConnect");

    HRESULT hr = initialize(0);
    std::printf("TARNIXInitialize: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;

    std::printf("connected: %s\n", connectedState() ? "yes" : "no");
    std::printf("modem that may be dialled: %s\n", canConnect() ? "yes" : "no");

    terminate();
    std::printf("terminated\n");
    FreeLibrary(dll);
    return 0;
}
