// The request object model shared by every request family.
//
// A request object carries two interfaces: its family's main interface (what the host holds;
// it begins with the IRequest front) and IRequestJob (what a pool holds). Both reach one
// reference count. The host polls GetStatus; a pool worker calls Run, which calls the
// family's Process and records whatever Process raises as the request's status.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "requests/RequestJob.h"
#include "support/Handles.h"
#include "support/Result.h"
#include "support/Sync.h"
#include "tarnix.h"

namespace tarnix {

// Raised by a request's steps once its host has let go of it: the request's Run ends it quietly,
// leaving status and state as they are, since nobody is left to read them.
struct RequestAbandoned {};

// The parts of a request that do not depend on its main interface.
class CRequestCore {
public:
    // True while the host still holds the request.
    bool Wanted() const noexcept { return m_wanted != 0; }

    // Asked between the steps of a request and while it waits on the network: raises
    // RequestAbandoned once the host has let go, and E_ABORT while the pool running the request
    // stops (the host may still hold it, and then reads that status).
    void ThrowIfAbandoned() const;

    const std::string& Host() const noexcept { return m_host; }

protected:
    CRequestCore() noexcept;
    ~CRequestCore();

    HRESULT GetStatusCore(LONG* state) noexcept;
    // Fails with the stored status, or E_PENDING until the request is done. Call under m_lock.
    HRESULT ResultsReadable() const noexcept;
    void SetFinished() noexcept;
    void SetFailed(HRESULT status) noexcept;
    // Host, wanted 1, status 0, state pending.
    void ConfigureCore(std::string host) noexcept;
    // Drops one reference; a release that takes the count from 2 or less means that the host has
    // let go. The flag is cleared before the decrement that makes that so (never after it, when
    // another holder may already have destroyed the object), and the decision rests on the count
    // that the decrement itself replaced. Returns the new count.
    LONG ReleaseReference() noexcept;

    volatile LONG m_refs = 0;
    std::string m_host;
    CriticalSection m_lock;      // guards status, state and the family's results
    volatile LONG m_wanted = 0;
    HRESULT m_status = S_OK;
    LONG m_state = REQUEST_STATE_PENDING;
};

// Request objects of every family made and not yet destroyed, in this process. Not visible to a
// host: tests read it through the static library, to prove that every way a request can end
// (finished, failed, given up, refused, dropped from a stopping pool) destroys it.
LONG LiveRequestCount() noexcept;

// Implements the IRequest front of `TInterface` and the whole of IRequestJob.
template <class TInterface>
class CRequestBase : public TInterface, public IRequestJob, public CRequestCore {
public:
    CRequestBase(const CRequestBase&) = delete;
    CRequestBase& operator=(const CRequestBase&) = delete;

    // IUnknown of the main interface. IRequestJob declares the same three methods through
    // IUnknown, so these overriders serve both tables and both reach one reference count.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        // Identity: IUnknown is the main interface (offset 0), from either interface.
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<TInterface*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG refs = ReleaseReference();
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }
    HRESULT STDMETHODCALLTYPE GetStatus(LONG* state) override { return GetStatusCore(state); }

    // The interface a pool holds.
    IRequestJob* Job() noexcept { return static_cast<IRequestJob*>(this); }

protected:
    CRequestBase() = default;
    virtual ~CRequestBase() = default;

    // The request's work, on a pool worker. Raises HResultError for a failure.
    virtual void Process() = 0;

private:
    // IRequestJob: the pool's side of the same object.
    void STDMETHODCALLTYPE Run() override {
        try {
            Process();
        } catch (const RequestAbandoned&) {
        } catch (...) {
            // Anything but an HRESULT (or lack of memory) is recorded as E_FAIL.
            SetFailed(CaughtToHResult(E_FAIL));
        }
    }
};

}  // namespace tarnix
