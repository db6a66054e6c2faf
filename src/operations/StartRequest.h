// How every export starts a request: make it with the reference the caller receives, configure
// it, queue its job on a pool and hand it out. On failure nothing is handed out and the request
// is destroyed.
#pragma once

#include <string>
#include <utility>

#include "frame/Library.h"
#include "support/Handles.h"
#include "support/Result.h"
#include "tarnix.h"

namespace tarnix {

using QueueFunction = void (*)(IRequestJob* job);

// A text the host gives that goes onto the wire unescaped (a query value, the ticket that an
// upload moves into its Cookie header): null reads as empty, and a control character, which could
// end the request line or add header lines of its own, is refused with E_INVALIDARG, before
// anything is queued or sent.
inline std::string WireText(const char* text) {
    std::string value = text ? text : "";
    for (unsigned char c : value) ThrowHrIf(c < 0x20 || c == 0x7F, E_INVALIDARG);
    return value;
}

template <class TRequest, class TInterface, class Configure>
HRESULT StartRequest(TInterface** out, Configure&& configure, QueueFunction queue = &QueueOnGeneralPool) noexcept {
    if (!out) return E_POINTER;
    return GuardHr([&] {
        ComPtr<TRequest> request(new TRequest());
        std::forward<Configure>(configure)(*request.get());
        queue(request->Job());
        *out = request.release();
        return S_OK;
    });
}

// A query request for the service host and `path`.
template <class TRequest>
HRESULT StartQueryRequest(std::string path, IQueryRequest** out) noexcept {
    return StartRequest<TRequest>(out, [&](TRequest& request) { request.Configure(ServiceHost(), std::move(path)); });
}

}  // namespace tarnix
