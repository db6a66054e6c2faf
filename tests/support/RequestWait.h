// Polling a request the way a host does.
#pragma once

#include <windows.h>

#include "tarnix.h"

namespace tarnix::test {

// Polls GetStatus until it fails or reports REQUEST_STATE_DONE; returns its last result.
// Gives up (returning E_PENDING) after `timeoutMs` so that a broken request cannot hang a test.
inline HRESULT WaitForRequest(IRequest* request, DWORD timeoutMs = 20000) {
    DWORD start = GetTickCount();
    for (;;) {
        LONG state = REQUEST_STATE_PENDING;
        HRESULT hr = request->GetStatus(&state);
        if (FAILED(hr) || state == REQUEST_STATE_DONE) return hr;
        if (GetTickCount() - start > timeoutMs) return E_PENDING;
        Sleep(5);
    }
}

inline HRESULT WaitForRequest(IQueryRequest* request, DWORD timeoutMs = 20000) {
    return WaitForRequest(static_cast<IRequest*>(request), timeoutMs);
}

}  // namespace tarnix::test
