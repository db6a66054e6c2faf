// The system queries behind the connectivity exports. They are reached through this table so
// that tests linking the library statically can stand in for a machine that is offline or
// dials a modem; the DLL always uses WinINet's own functions.
#pragma once

#include <windows.h>

namespace tarnix {

struct ConnectivityApi {
    BOOL(WINAPI* getConnectedState)(LPDWORD flags, DWORD reserved);
    BOOL(WINAPI* autodial)(DWORD flags, HWND parent);
};

ConnectivityApi& Connectivity() noexcept;

// The message shown when the machine is offline and has no modem to dial.
extern const char kConnectFailedMessage[];

}  // namespace tarnix
