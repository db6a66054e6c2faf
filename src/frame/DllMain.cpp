// Entry point of tarnix.dll; linked into the DLL only.
#include <windows.h>

#include "frame/Library.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        tarnix::SetModuleHandle(instance);
    }
    return TRUE;
}
