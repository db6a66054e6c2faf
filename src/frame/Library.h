// Library-wide state: the module handle, the service host and the two worker pools.
#pragma once

#include <windows.h>

#include <string>

#include "requests/Thread.h"

namespace tarnix {

// The module whose resources the dialogs load. DllMain records the DLL's handle; code linked
// into an executable (the tests) gets the executable's.
HINSTANCE ModuleHandle() noexcept;
void SetModuleHandle(HINSTANCE module) noexcept;

// Host name of the online service, as the browser addresses name it.
const char* ServiceHostName() noexcept;

// Where every gatekeeper request goes: "host" or "host:port". The service host name, unless the
// environment variable TARNIX_SERVICE named another place when the outermost TARNIXInitialize
// ran (a developer's local service, reached without the machine-wide proxy setting).
std::string ServiceHost();

// The name of that environment variable.
constexpr char kServiceOverrideVariable[] = "TARNIX_SERVICE";

// Endpoint path of every gatekeeper operation.
constexpr char kGatekeeperPath[] = "/vft/gatekeeper.ashx";

// Queue a request's job on the general pool (every operation but the search counts) or on the
// search pool. Raise E_FAIL when the library is not initialized or the queue is full.
void QueueOnGeneralPool(IRequestJob* job);
void QueueOnSearchPool(IRequestJob* job);

// Pool sizes started by the outermost TARNIXInitialize.
constexpr ULONG kGeneralPoolThreads = 2;
constexpr ULONG kSearchPoolThreads = 5;
constexpr ULONG kPoolQueueLimit = 1000;

// For tests: how many TARNIXInitialize calls are not yet matched, and whether each pool runs.
LONG InitializationCount() noexcept;
bool GeneralPoolRunning() noexcept;
bool SearchPoolRunning() noexcept;

// Work that must end with the library's use, such as timers set on the host's windows: run by
// the last TARNIXTerminate (after the pools have stopped), on the caller's thread, under the
// lock that serializes initialization. Do not register while holding
// a lock that such an action takes. An action registered again is kept once.
using TerminateAction = void (*)() noexcept;
void AtLastTerminate(TerminateAction action);

}  // namespace tarnix
