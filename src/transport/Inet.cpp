#include "transport/Inet.h"

#include <new>

#include "support/Module.h"
#include "support/Result.h"

namespace tarnix {

namespace {

// A call that failed without a last error must still fail: an open level would hand out
// nothing, a read would end the body as if it were whole, a header query would leave its buffer
// unset.
HRESULT CallFailure() noexcept {
    HRESULT hr = HResultFromLastError();
    return FAILED(hr) ? hr : E_FAIL;
}

volatile LONG g_openHandles = 0;
volatile LONG g_liveCompletions = 0;

void NotifyOpened(InetLevel level, HINTERNET handle) noexcept {
    if (!handle) return;
    InterlockedIncrement(&g_openHandles);
    if (InetHandleObservers().opened) InetHandleObservers().opened(level, handle);
}

void CloseInet(InetLevel level, HINTERNET& handle) noexcept {
    if (!handle) return;
    InterlockedDecrement(&g_openHandles);
    if (InetHandleObservers().closing) InetHandleObservers().closing(level, handle);
    InternetCloseHandle(handle);
    handle = nullptr;
}

// Makes an object of the chain holding one reference for the caller and runs its Init with
// `initArguments` (the parent, for every level but the session); *out stays null on failure.
template <class T, class... InitArguments>
HRESULT MakeChainObject(T** out, InitArguments... initArguments) noexcept {
    T* made = new (std::nothrow) T();
    if (!made) return E_OUTOFMEMORY;
    made->AddRef();
    HRESULT hr = made->Init(initArguments...);
    if (FAILED(hr)) {
        made->Release();
        return hr;
    }
    *out = made;
    return S_OK;
}

// An unbound level has no parent handle; WinINet then fails the call as an invalid handle.
template <class TParent>
HINTERNET ParentHandle(TParent* parent) noexcept {
    return parent ? parent->Handle() : nullptr;
}

// The common steps of Open, Connect and OpenRequest: the level takes the handle that `open`
// returns (null or not) and, when there is one, hands out the next object of the chain.
template <class TChild, class TSelf, class OpenFn>
HRESULT OpenLevel(TSelf* self, InetLevel level, HINTERNET& handle, TChild** out, OpenFn open) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    CloseInet(level, handle);
    handle = open();
    if (!handle) return CallFailure();
    NotifyOpened(level, handle);
    return MakeChainObject(out, self);
}

// Init of a child: drop the parent held so far, hold the new one.
template <class TParent>
void Reparent(TParent*& held, TParent* parent) noexcept {
    if (parent) parent->AddRef();
    if (held) held->Release();
    held = parent;
}

}  // namespace

HRESULT InetCallResult(BOOL succeeded) noexcept { return succeeded ? S_OK : CallFailure(); }

LONG OpenInetHandleCount() noexcept { return g_openHandles; }
LONG LiveInetCompletionCount() noexcept { return g_liveCompletions; }

InetHandleObserver& InetHandleObservers() noexcept {
    static InetHandleObserver observers = {nullptr, nullptr};
    return observers;
}

HRESULT STDMETHODCALLTYPE CInetObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CInetObject::AddRef() { return ++m_refs; }

ULONG STDMETHODCALLTYPE CInetObject::Release() {
    ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
}

// ---- Session ----

HRESULT CreateInetSession(CInetSession** session) {
    if (!session) return E_POINTER;
    *session = nullptr;
    return MakeChainObject(session);
}

HRESULT CInetSession::Init() { return S_OK; }

HRESULT CInetSession::Open(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                           DWORD flags, CInetConnection** connection) {
    return OpenLevel(this, InetLevel::Session, m_handle, connection,
                     [&] { return InternetOpenA(agent, accessType, proxy, proxyBypass, flags); });
}

CInetSession::~CInetSession() { CloseInet(InetLevel::Session, m_handle); }

// ---- Connection ----

HRESULT CInetConnection::Init(CInetSession* session) {
    Reparent(m_parent, session);
    return S_OK;
}

HRESULT CInetConnection::Connect(const char* serverName, INTERNET_PORT port, const char* userName,
                                 const char* password, DWORD service, DWORD flags, DWORD_PTR context,
                                 CInetRequest** request) {
    return OpenLevel(this, InetLevel::Connection, m_handle, request, [&] {
        return InternetConnectA(ParentHandle(m_parent), serverName, port, userName, password, service, flags, context);
    });
}

CInetConnection::~CInetConnection() {
    CloseInet(InetLevel::Connection, m_handle);
    if (m_parent) m_parent->Release();
}

// ---- Request ----

HRESULT CInetRequest::Init(CInetConnection* connection) {
    Reparent(m_parent, connection);
    return S_OK;
}

HRESULT CInetRequest::OpenRequest(const char* verb, const char* objectName, const char* version,
                                  const char* referrer, const char** acceptTypes, DWORD flags, DWORD_PTR context,
                                  CInetRequestIo** io) {
    return OpenLevel(this, InetLevel::Request, m_handle, io, [&] {
        return HttpOpenRequestA(ParentHandle(m_parent), verb, objectName, version, referrer, acceptTypes, flags, context);
    });
}

CInetRequest::~CInetRequest() {
    CloseInet(InetLevel::Request, m_handle);
    if (m_parent) m_parent->Release();
}

// ---- I/O ----

HRESULT CInetRequestIo::Init(CInetRequest* request) {
    Reparent(m_parent, request);
    return S_OK;
}

HINTERNET CInetRequestIo::RequestHandle() const noexcept { return ParentHandle(m_parent); }

HRESULT CInetRequestIo::AddRequestHeaders(const char* headers, DWORD headersLength, DWORD modifiers) {
    return InetCallResult(HttpAddRequestHeadersA(RequestHandle(), headers, headersLength, modifiers));
}

HRESULT CInetRequestIo::QueryInfo(DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index) {
    return InetCallResult(HttpQueryInfoA(RequestHandle(), infoLevel, buffer, bufferLength, index));
}

HRESULT CInetRequestIo::ReadData(INTERNET_BUFFERSA* buffers) {
    return InetCallResult(InternetReadFileExA(RequestHandle(), buffers, 0, 0));
}

HRESULT CInetRequestIo::SendRequest(const char* headers, DWORD headersLength, const void* optional,
                                    DWORD optionalLength) {
    return InetCallResult(HttpSendRequestA(RequestHandle(), headers, headersLength, const_cast<void*>(optional),
                                     optionalLength));
}

HRESULT CInetRequestIo::SendRequestEx(INTERNET_BUFFERSA* buffersIn) {
    return InetCallResult(HttpSendRequestExA(RequestHandle(), buffersIn, nullptr, 0, 0));
}

HRESULT CInetRequestIo::WriteData(const void* data, DWORD length, DWORD* written) {
    return InetCallResult(InternetWriteFile(RequestHandle(), data, length, written));
}

HRESULT CInetRequestIo::EndRequest() { return InetCallResult(HttpEndRequestA(RequestHandle(), nullptr, 0, 0)); }

HRESULT CInetRequestIo::SetOption(DWORD option, DWORD value) {
    return InetCallResult(InternetSetOptionA(RequestHandle(), option, &value, sizeof value));
}

CInetRequestIo::~CInetRequestIo() {
    if (m_parent) m_parent->Release();
}

// ---- Completion ----

CInetCompletion* CInetCompletion::Create() noexcept {
    CInetCompletion* made = new (std::nothrow) CInetCompletion();
    if (made && !made->m_ended) {
        delete made;
        return nullptr;
    }
    return made;
}

CInetCompletion::CInetCompletion() noexcept
    : readBuffers(), sendBuffers(), m_ended(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    InterlockedIncrement(&g_liveCompletions);
}

CInetCompletion::~CInetCompletion() {
    if (m_ended) CloseHandle(m_ended);
    InterlockedDecrement(&g_liveCompletions);
}

void CInetCompletion::AddRef() noexcept { InterlockedIncrement(&m_refs); }

void CInetCompletion::Release() noexcept {
    if (InterlockedDecrement(&m_refs) == 0) delete this;
}

void CInetCompletion::AttachHandle() noexcept {
    AddRef();
    NoteCallbacksDue();
    InterlockedExchange(&m_handleAttached, 1);
}

void CInetCompletion::DetachHandle() noexcept {
    if (InterlockedExchange(&m_handleAttached, 0) == 0) return;
    NoteCallbacksDone();
    Release();
}

void CInetCompletion::Arm() noexcept {
    m_result = 0;
    m_error = 0;
    if (InterlockedExchange(&m_signaled, 0) != 0) ResetEvent(m_ended);
}

bool CInetCompletion::WaitEnded(DWORD timeoutMs) noexcept {
    if (WaitForSingleObject(m_ended, timeoutMs) != WAIT_OBJECT_0) return false;
    InterlockedExchange(&m_signaled, 0);
    return true;
}

HRESULT CInetCompletion::Outcome() const noexcept {
    if (m_result != 0) return S_OK;
    HRESULT hr = HResultFromWin32Error(m_error);
    return FAILED(hr) ? hr : E_FAIL;
}

void CInetCompletion::Ended(DWORD_PTR result, DWORD error) noexcept {
    m_result = result;
    m_error = error;
    InterlockedExchange(&m_signaled, 1);
    SetEvent(m_ended);
}

void CALLBACK CInetCompletion::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info,
                                              DWORD infoLength) {
    auto* completion = reinterpret_cast<CInetCompletion*>(context);
    if (!completion) return;
    switch (status) {
    case INTERNET_STATUS_REQUEST_COMPLETE:
        if (info && infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            completion->Ended(result->dwResult, result->dwError);
        } else {
            completion->Ended(0, ERROR_INTERNET_INTERNAL_ERROR);
        }
        break;
    case INTERNET_STATUS_HANDLE_CLOSING:
        // The platform's last word on this handle: nothing will touch the buffers any more.
        completion->DetachHandle();
        break;
    default:
        break;
    }
}

}  // namespace tarnix
