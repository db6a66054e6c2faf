#include "support/Module.h"

namespace tarnix {

namespace {

volatile LONG g_callbacksDue = 0;

// A pinned module stays mapped until the process ends; the cost is one idle DLL image.
void PinIfCallbacksDue() noexcept {
    if (g_callbacksDue == 0) return;
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&PinIfCallbacksDue), &pinned);
}

}  // namespace

HMODULE AcquireModuleReference() noexcept {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&AcquireModuleReference), &module))
        return nullptr;
    return module;
}

void ReleaseModuleReference(HMODULE module) noexcept {
    if (!module) return;
    PinIfCallbacksDue();
    FreeLibrary(module);
}

void ReleaseModuleReferenceAndExitThread(HMODULE module, DWORD exitCode) noexcept {
    if (!module) ExitThread(exitCode);
    PinIfCallbacksDue();
    FreeLibraryAndExitThread(module, exitCode);
}

void NoteCallbacksDue() noexcept { InterlockedIncrement(&g_callbacksDue); }
void NoteCallbacksDone() noexcept { InterlockedDecrement(&g_callbacksDue); }
LONG CallbacksDue() noexcept { return g_callbacksDue; }

}  // namespace tarnix
