#include "frame/Connectivity.h"

#include <wininet.h>

#include "tarnix.h"

namespace tarnix {

ConnectivityApi& Connectivity() noexcept {
    static ConnectivityApi api = {&InternetGetConnectedState, &InternetAutodial};
    return api;
}

const char kConnectFailedMessage[] =
    "Please check that your connection to the Internet is functioning correctly and retry using "
    "the Internet features.\r\n\r\nNote for AOL, CompuServe, and Prodigy users: Please establish a "
    "connection to the Internet before using the Internet features.";

namespace {

DWORD ConnectionFlags(BOOL* connected) {
    DWORD flags = 0;
    BOOL result = Connectivity().getConnectedState(&flags, 0);
    if (connected) *connected = result;
    return flags;
}

}  // namespace

}  // namespace tarnix

using namespace tarnix;

extern "C" BOOL TARNIX_STDCALL TarnixGetConnectedState(void) {
    BOOL connected = FALSE;
    ConnectionFlags(&connected);
    return connected;
}

extern "C" BOOL TARNIX_STDCALL TarnixCanConnect(void) {
    return (ConnectionFlags(nullptr) & INTERNET_CONNECTION_MODEM) ? 1 : 0;
}

extern "C" BOOL TARNIX_STDCALL TarnixConnect(HWND owner, const char* caption) {
    BOOL connected = FALSE;
    DWORD flags = ConnectionFlags(&connected);
    if (connected) return 1;
    if (flags & INTERNET_CONNECTION_MODEM)
        return Connectivity().autodial(INTERNET_AUTODIAL_FORCE_ONLINE, nullptr) ? 1 : 0;
    MessageBoxA(owner, kConnectFailedMessage, caption, MB_OKCANCEL | MB_ICONEXCLAMATION);
    return 0;
}
