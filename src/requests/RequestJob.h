// The job interface of a request: what a worker pool holds and runs. It lives inside the
// request object and shares its reference count.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tarnix {

struct IRequestJob : public IUnknown {
    // Runs the request to its end; every outcome is recorded in the request itself.
    virtual void STDMETHODCALLTYPE Run() = 0;
};

}  // namespace tarnix
