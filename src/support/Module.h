// Keeping the library's own module mapped while its code may still run: on the pools' workers
// (which may outlive TARNIXTerminate when they are stuck inside the platform) and in WinINet's
// status callbacks for exchanges that were given up (which arrive on the platform's threads,
// when the platform lets go of the handle).
#pragma once

#include <windows.h>

namespace tarnix {

// A reference to the module that holds this code (the DLL, or the test program that links the
// library statically). Null if the platform refuses one.
HMODULE AcquireModuleReference() noexcept;

// Gives up a reference taken with AcquireModuleReference. While platform callbacks are still
// due, the module is pinned first: nothing may unmap code that a callback is about to run.
void ReleaseModuleReference(HMODULE module) noexcept;

// Ends the calling thread and gives up its module reference in one step, so that the thread
// never returns into code that the release unmapped. Pins first, as above.
[[noreturn]] void ReleaseModuleReferenceAndExitThread(HMODULE module, DWORD exitCode) noexcept;

// Platform callbacks announced to come (one per WinINet request handle registered for
// callbacks) and arrived for the last time.
void NoteCallbacksDue() noexcept;
void NoteCallbacksDone() noexcept;
LONG CallbacksDue() noexcept;

}  // namespace tarnix
