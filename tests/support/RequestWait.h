// Polling a request the way a host does.
#pragma once

#include <windows.h>

#include "tarnix.h"

namespace tarnix::test {

// An export's typed out-parameter as the IRequest** a table of exports hands it.
template <class T>
T** As(IRequest** out) { return reinterpret_cast<T**>(out); }

// Polls GetStatus until it fails or reports REQUEST_STATE_DONE; returns its last result. Gives
// up (returning E_PENDING) after `timeoutMs`, or at once when nothing but the caller holds the
// request any more (no worker, no queue): then it can never end.
inline HRESULT WaitForRequest(IRequest* request, DWORD timeoutMs = 20000) {
    for (const DWORD start = GetTickCount();; Sleep(5)) {
        LONG state = REQUEST_STATE_PENDING;
        const bool orphaned = (request->AddRef(), request->Release()) == 1;
        const HRESULT hr = request->GetStatus(&state);
        if (FAILED(hr) || state == REQUEST_STATE_DONE) return hr;
        if (orphaned || GetTickCount() - start > timeoutMs) return E_PENDING;
    }
}

// Gives up the host's reference once it is the only one left (a request reports done just before
// its worker lets go of it) and returns what that Release returns: 0 when the request went. A
// worker that keeps its reference past `timeoutMs` shows as a count above 0.
template <class TRequest>
ULONG ReleaseLast(TRequest* request, DWORD timeoutMs = 5000) {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(1)) {
        request->AddRef();
        if (request->Release() == 1) break;
    }
    return request->Release();
}

}  // namespace tarnix::test
