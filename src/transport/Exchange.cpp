#include "transport/Exchange.h"

#include <cstdlib>
#include <new>
#include <vector>

#include "support/DecimalText.h"
#include "support/Module.h"
#include "support/Result.h"

namespace tarnix {

namespace {

// How often a wait on the network asks whether to go on: a host that lets go gets its worker
// back within this time.
constexpr DWORD kWaitSliceMs = 50;

// Nothing of an exchange goes into the platform's cache or comes out of it; the platform keeps
// no cookie that an answer sets (whoever answers could otherwise strip or swap the ticket of a
// later upload) and follows no redirect by itself (a redirect to itself would never end).
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT;

const HRESULT kCutShort = HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED);

volatile LONG g_openHandles = 0;
volatile LONG g_liveStates = 0;

// Wine reports a receive that timed out inside an answer as the socket's own error; a host is
// told about timeouts in the platform's terms only.
HRESULT PlatformTerms(HRESULT hr) noexcept {
    return hr == HRESULT_FROM_WIN32(WSAETIMEDOUT) ? HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT) : hr;
}

// Takes a handle that a WinINet call just returned, or raises that call's failure.
UniqueInternetHandle Opened(HINTERNET handle) {
    ThrowLastErrorIf(handle == nullptr);
    InterlockedIncrement(&g_openHandles);
    return UniqueInternetHandle(handle);
}

// Splits "name:port" when `port` is 0 and the text ends in a port number.
void SplitHostPort(std::string& name, INTERNET_PORT& port) {
    const size_t colon = name.rfind(':');
    if (port != 0 || colon == std::string::npos || colon + 1 == name.size() ||
        name.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return;
    const unsigned long number = std::strtoul(name.c_str() + colon + 1, nullptr, 10);
    ThrowHrIf(number == 0 || number > 65535, E_INVALIDARG);
    name.resize(colon);
    port = static_cast<INTERNET_PORT>(number);
}

// Set while the library is initialized, read by workers: under its own lock.
struct DirectHost {
    SRWLOCK lock = SRWLOCK_INIT;
    std::string name;
    INTERNET_PORT port = 0;
};
DirectHost g_directHost;

bool IsDirectHost(const std::string& name, INTERNET_PORT port) {
    AcquireSRWLockShared(&g_directHost.lock);
    const bool direct = !g_directHost.name.empty() && port == g_directHost.port &&
                        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(), -1,
                                       g_directHost.name.c_str(), -1) == CSTR_EQUAL;
    ReleaseSRWLockShared(&g_directHost.lock);
    return direct;
}

}  // namespace

std::string InetAddress::Url() const {
    std::string url = (secure ? "https://" : "http://") + host;
    if (port != 0) url += ":" + std::to_string(port);
    return url + path;
}

InetAddress ParseInetAddress(const std::string& url) {
    for (unsigned char c : url) ThrowHrIf(c < 0x20 || c == 0x7F, E_INVALIDARG);
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    // Non-zero lengths without buffers: the platform points into `url`.
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = static_cast<DWORD>(url.size());
    ThrowLastErrorIf(!InternetCrackUrlA(url.c_str(), 0, 0, &parts));
    ThrowHrIf(parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS, E_INVALIDARG);
    InetAddress address;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    address.host.assign(parts.lpszHostName ? parts.lpszHostName : "", parts.dwHostNameLength);
    // A port the address names is used; otherwise the scheme's.
    const bool namesPort = parts.lpszHostName && parts.lpszHostName[parts.dwHostNameLength] == ':';
    address.port = namesPort ? parts.nPort : address.secure ? INTERNET_DEFAULT_HTTPS_PORT : 0;
    address.path = parts.lpszUrlPath ? parts.lpszUrlPath : "";
    return address;
}

InetAddress ResolveLocation(const InetAddress& base, const std::string& location) {
    for (unsigned char c : location) ThrowHrIf(c < 0x20 || c == 0x7F, E_INVALIDARG);
    const std::string from = base.Url();
    char combined[INTERNET_MAX_URL_LENGTH + 1];
    DWORD length = sizeof combined;
    ThrowLastErrorIf(!InternetCombineUrlA(from.c_str(), location.c_str(), combined, &length, ICU_NO_ENCODE));
    return ParseInetAddress(std::string(combined, length));
}

// What the platform reports about one asynchronous request handle, and everything it may still
// touch after the exchange that owns the handle has given up: the block being read, the buffers
// description of a head being sent and the copies of what is being sent. Counted with
// interlocked operations: the callbacks arrive on the platform's threads.
class CExchangeState {
public:
    static ComPtr<CExchangeState> Create(DWORD blockSize) {
        auto* made = new CExchangeState(blockSize);
        if (!made->m_ended) {
            const HRESULT hr = LastErrorFailure();
            made->Release();
            ThrowHr(hr);
        }
        return ComPtr<CExchangeState>::Attach(made);
    }
    void AddRef() noexcept { InterlockedIncrement(&m_refs); }
    void Release() noexcept {
        if (InterlockedDecrement(&m_refs) == 0) delete this;
    }

    DWORD_PTR Context() noexcept { return reinterpret_cast<DWORD_PTR>(this); }
    // The handle opened with Context() holds a reference until it reports closing. Attached
    // before the handle is opened: one that fails half-way may already report closing.
    void AttachHandle() noexcept {
        AddRef();
        NoteCallbacksDue();
        InterlockedExchange(&m_handleAttached, 1);
    }
    // Drops the handle's reference once, whoever comes first: the closing report, or the
    // exchange when opening the handle failed.
    void DetachHandle() noexcept {
        if (InterlockedExchange(&m_handleAttached, 0) == 0) return;
        NoteCallbacksDone();
        Release();
    }

    // Before an operation that may end in the background. Its end is told by an auto-reset
    // event that the wait which sees it consumes, so nothing needs resetting unless an end was
    // never waited for: a reset is a round trip to the kernel side (the wineserver under Wine),
    // which would otherwise be paid on every block.
    void Arm() noexcept {
        m_result = 0;
        m_error = 0;
        if (InterlockedExchange(&m_signaled, 0) != 0) ResetEvent(m_ended.get());
    }
    // True once the operation armed last has ended (within `timeoutMs`); says so once.
    bool WaitEnded(DWORD timeoutMs) noexcept {
        if (WaitForSingleObject(m_ended.get(), timeoutMs) != WAIT_OBJECT_0) return false;
        InterlockedExchange(&m_signaled, 0);
        return true;
    }
    HRESULT Outcome() const noexcept {
        if (m_result != 0) return S_OK;
        const HRESULT hr = HResultFromWin32Error(m_error);
        return FAILED(hr) ? hr : E_FAIL;
    }

    // The status callback of every session the library opens.
    static void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD infoLength) {
        auto* state = reinterpret_cast<CExchangeState*>(context);
        if (!state) return;  // the session's and the connection's own reports
        if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            const bool described = result && infoLength >= sizeof(INTERNET_ASYNC_RESULT);
            state->Ended(described ? result->dwResult : 0, described ? result->dwError : ERROR_INTERNET_INTERNAL_ERROR);
        } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
            // The platform's last word on this handle: nothing will touch the buffers any more.
            state->DetachHandle();
        }
    }

    std::vector<char> block;
    INTERNET_BUFFERSA buffers = {};
    std::string headers;  // of the request being sent
    std::string bytes;    // body or block being sent
    DWORD written = 0;

private:
    explicit CExchangeState(DWORD blockSize)
        : block(blockSize), m_ended(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
        InterlockedIncrement(&g_liveStates);
    }
    ~CExchangeState() { InterlockedDecrement(&g_liveStates); }

    void Ended(DWORD_PTR result, DWORD error) noexcept {
        m_result = result;
        m_error = error;
        InterlockedExchange(&m_signaled, 1);
        SetEvent(m_ended.get());
    }

    volatile LONG m_refs = 1;
    volatile LONG m_handleAttached = 0;
    UniqueKernelHandle m_ended;
    volatile LONG m_signaled = 0;  // set with the event, cleared by the wait that sees it
    volatile DWORD_PTR m_result = 0;
    volatile DWORD m_error = 0;
};

void InternetHandleTraits::Close(HINTERNET handle) noexcept {
    InterlockedDecrement(&g_openHandles);
    InternetCloseHandle(handle);
}

LONG OpenInetHandleCount() noexcept { return g_openHandles; }
LONG LiveExchangeStateCount() noexcept { return g_liveStates; }

void SetDirectHost(const std::string& hostAndPort) {
    std::string name = hostAndPort;
    INTERNET_PORT port = 0;
    SplitHostPort(name, port);
    AcquireSRWLockExclusive(&g_directHost.lock);
    g_directHost.name = std::move(name);
    g_directHost.port = port ? port : INTERNET_DEFAULT_HTTP_PORT;
    ReleaseSRWLockExclusive(&g_directHost.lock);
}

InetTimeouts& ExchangeTimeouts() noexcept {
    static InetTimeouts timeouts = {30000, 60000, 60000};
    return timeouts;
}

CInetExchange::CInetExchange(const CRequestCore& owner, const char* verb, const InetAddress& address, DWORD blockSize)
    : m_owner(owner), m_state(CExchangeState::Create(blockSize)) {
    std::string name = address.host;
    INTERNET_PORT port = address.port;
    const bool secure = address.secure;
    SplitHostPort(name, port);
    const bool direct = IsDirectHost(name, port ? port : INTERNET_DEFAULT_HTTP_PORT);
    m_session = Opened(InternetOpenA(kInetAgent, direct ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PRECONFIG,
                                     nullptr, nullptr, INTERNET_FLAG_ASYNC));
    // Children inherit the callback, so it is in place before anything else is opened.
    ThrowLastErrorIf(InternetSetStatusCallbackA(m_session.get(), &CExchangeState::StatusCallback) ==
                     INTERNET_INVALID_STATUS_CALLBACK);
    m_connection = Opened(InternetConnectA(m_session.get(), name.c_str(), port, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 0));

    const char* acceptTypes[] = {"*/*", nullptr};
    m_state->AttachHandle();
    HINTERNET request = HttpOpenRequestA(m_connection.get(), verb, address.path.c_str(), kHttpVersion, nullptr, acceptTypes,
                                         kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0), m_state->Context());
    if (!request) {
        const HRESULT hr = LastErrorFailure();
        m_state->DetachHandle();
        ThrowHr(hr);
    }
    m_request = Opened(request);

    const InetTimeouts& timeouts = ExchangeTimeouts();
    for (const auto& [option, value] : {std::pair<DWORD, DWORD>{INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs},
                                        {INTERNET_OPTION_SEND_TIMEOUT, timeouts.sendMs},
                                        {INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.receiveMs}}) {
        DWORD copy = value;
        ThrowLastErrorIf(!InternetSetOptionA(m_request.get(), option, &copy, sizeof copy));
    }
}

CInetExchange::~CInetExchange() { Close(); }

namespace {

// The three handles of an exchange whose answer was not read to its end.
struct UnfinishedHandles {
    UniqueInternetHandle session, connection, request;  // destroyed child first
    HMODULE module;
};

DWORD WINAPI CloseUnfinished(void* argument) {
    auto* handles = static_cast<UnfinishedHandles*>(argument);
    const HMODULE module = handles->module;
    delete handles;
    ReleaseModuleReferenceAndExitThread(module, 0);
}

}  // namespace

void CInetExchange::Close() noexcept {
    // Wine reads an answer's unread body to its announced end as its request handle closes,
    // however long the server keeps sending: a refused or given-up answer would hold the worker
    // that long. Such handles are closed on a thread of their own, which keeps the module mapped.
    if (m_request && !m_bodyEnded) {
        auto* handles = new (std::nothrow) UnfinishedHandles{std::move(m_session), std::move(m_connection),
                                                             std::move(m_request), AcquireModuleReference()};
        if (handles) {
            HANDLE thread = CreateThread(nullptr, 0, &CloseUnfinished, handles, 0, nullptr);
            if (thread) {
                CloseHandle(thread);
                return;
            }
            ReleaseModuleReference(handles->module);
            delete handles;
            return;
        }
    }
    // Child first; an operation still under way keeps only the state alive.
    m_request.reset();
    m_connection.reset();
    m_session.reset();
}

template <class Call>
bool CInetExchange::Await(Call call) {
    ThrowHrIf(!m_request, E_UNEXPECTED);
    m_state->Arm();
    if (call()) return true;
    if (GetLastError() != ERROR_IO_PENDING) ThrowHr(PlatformTerms(LastErrorFailure()));
    while (!m_state->WaitEnded(kWaitSliceMs)) m_owner.ThrowIfAbandoned();
    ThrowIfFailed(PlatformTerms(m_state->Outcome()));
    return false;
}

void CInetExchange::Send(std::string_view headers, std::string_view body) {
    m_owner.ThrowIfAbandoned();
    // The platform may read headers and body after the call has returned.
    m_state->headers.assign(headers);
    m_state->bytes.assign(body);
    const std::string& kept = m_state->headers;
    std::string& sent = m_state->bytes;
    Await([&] {
        return HttpSendRequestA(m_request.get(), kept.empty() ? nullptr : kept.data(), static_cast<DWORD>(kept.size()),
                                sent.empty() ? nullptr : &sent[0], static_cast<DWORD>(sent.size()));
    });
}

void CInetExchange::BeginSend(std::string_view headers, DWORD contentLength) {
    m_owner.ThrowIfAbandoned();
    m_state->headers.assign(headers);
    INTERNET_BUFFERSA& in = m_state->buffers;
    in = INTERNET_BUFFERSA();
    in.dwStructSize = sizeof in;
    in.lpcszHeader = m_state->headers.empty() ? nullptr : m_state->headers.c_str();
    in.dwHeadersLength = in.dwHeadersTotal = static_cast<DWORD>(m_state->headers.size());
    in.dwBufferTotal = contentLength;
    Await([&] { return HttpSendRequestExA(m_request.get(), &in, nullptr, 0, 0); });
}

void CInetExchange::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        m_owner.ThrowIfAbandoned();
        std::string& block = m_state->bytes;
        block.assign(bytes);
        DWORD& written = m_state->written;
        written = 0;
        Await([&] { return InternetWriteFile(m_request.get(), &block[0], static_cast<DWORD>(block.size()), &written); });
        // A write that takes nothing would never end.
        ThrowHrIf(written == 0 || written > bytes.size(), E_FAIL);
        bytes.remove_prefix(written);
    }
}

void CInetExchange::EndSend() {
    m_owner.ThrowIfAbandoned();
    Await([&] { return HttpEndRequestA(m_request.get(), nullptr, 0, 0); });
}

long CInetExchange::StatusCode() {
    char status[256];
    DWORD length = 255;
    DWORD index = 0;
    ThrowLastErrorIf(!HttpQueryInfoA(m_request.get(), HTTP_QUERY_STATUS_CODE, status, &length, &index));
    status[length < 255 ? length : 255] = '\0';
    const long code = std::strtol(status, nullptr, 10);
    // The platform gives status 0 when the connection ended before a whole status line came.
    ThrowHrIf(code == 0, kCutShort);
    return code;
}

bool CInetExchange::QueryHeader(DWORD level, std::string& value) {
    char text[4096];
    DWORD length = sizeof text;
    DWORD index = 0;
    if (!HttpQueryInfoA(m_request.get(), level, text, &length, &index)) {
        if (GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND) return false;
        ThrowLastError();
    }
    value.assign(text, length < sizeof text ? length : sizeof text);
    return true;
}

ULONGLONG CInetExchange::AnnouncedLength() {
    if (!m_bodyStarted) {
        std::string header;
        if (QueryHeader(HTTP_QUERY_CONTENT_LENGTH, header)) m_announced = ParseContentLength(header);
        if (QueryHeader(HTTP_QUERY_TRANSFER_ENCODING, header)) {
            for (char& c : header) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            ThrowHrIf(header.find("chunked") != std::string::npos, kCutShort);
        }
        m_bodyStarted = true;
    }
    return m_announced;
}

std::string_view CInetExchange::Read() {
    AnnouncedLength();
    m_owner.ThrowIfAbandoned();
    if (m_announced != 0 && m_received >= m_announced) {
        m_bodyEnded = true;  // all that was announced has come
        return {};
    }
    INTERNET_BUFFERSA& out = m_state->buffers;
    std::vector<char>& block = m_state->block;
    // What has arrived, up to a block, without waiting for the block to fill: a read that waited
    // for a whole large block would show a slow transfer's progress only block by block. With
    // nothing there yet, the platform goes on in the background and says when bytes have come,
    // without handing them over: the next read takes them.
    bool completed = false;
    while (!completed) {
        out = INTERNET_BUFFERSA();
        out.dwStructSize = sizeof out;
        out.lpvBuffer = block.data();
        out.dwBufferLength = static_cast<DWORD>(block.size());
        completed = Await([&] { return InternetReadFileExA(m_request.get(), &out, IRF_NO_WAIT, 0); });
        if (!completed) m_owner.ThrowIfAbandoned();
    }
    ThrowHrIf(out.dwBufferLength > block.size(), E_FAIL);
    ULONGLONG length = out.dwBufferLength;
    // Wine hands over bytes that came with the head even past a shorter announced length; the
    // answer is what was announced.
    if (m_announced != 0 && length > m_announced - m_received) length = m_announced - m_received;
    m_received += length;
    // The platform ends a body cut short as quietly as a whole one: an answer that lacks part of
    // what was announced must not pass for complete.
    ThrowHrIf(length == 0 && m_received < m_announced, kCutShort);
    m_bodyEnded = length == 0;
    return std::string_view(block.data(), static_cast<size_t>(length));
}

}  // namespace tarnix
