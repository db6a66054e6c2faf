#include "requests/RequestBase.h"

#include "requests/Thread.h"

namespace tarnix {

namespace {

volatile LONG g_liveRequests = 0;

}  // namespace

LONG LiveRequestCount() noexcept { return g_liveRequests; }

CRequestCore::CRequestCore() noexcept { InterlockedIncrement(&g_liveRequests); }

CRequestCore::~CRequestCore() { InterlockedDecrement(&g_liveRequests); }

void CRequestCore::ThrowIfAbandoned() const {
    if (!Wanted()) throw RequestAbandoned();
    ThrowHrIf(CThreadPool::CurrentWorkerStopping(), E_ABORT);
}

LONG CRequestCore::ReleaseReference() noexcept {
    for (;;) {
        const LONG before = m_refs;
        if (before <= 2) InterlockedExchange(&m_wanted, 0);
        if (InterlockedCompareExchange(&m_refs, before - 1, before) == before) return before - 1;
    }
}

HRESULT CRequestCore::GetStatusCore(LONG* state) noexcept {
    if (!state) return E_POINTER;
    Lock lock(m_lock);
    if (m_status != S_OK) return m_status;  // the state argument stays as the caller set it
    *state = m_state;
    return S_OK;
}

HRESULT CRequestCore::ResultsReadable() const noexcept {
    if (m_status != S_OK) return m_status;
    if (m_state != REQUEST_STATE_DONE) return E_PENDING;
    return S_OK;
}

void CRequestCore::SetFinished() noexcept {
    Lock lock(m_lock);
    m_state = REQUEST_STATE_DONE;
}

void CRequestCore::SetFailed(HRESULT status) noexcept {
    Lock lock(m_lock);
    m_status = status;
}

void CRequestCore::ConfigureCore(std::string host) noexcept {
    Lock lock(m_lock);
    m_host = std::move(host);
    m_status = S_OK;
    m_state = REQUEST_STATE_PENDING;
    InterlockedExchange(&m_wanted, 1);
}

}  // namespace tarnix
