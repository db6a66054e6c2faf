#include "transport/Exchange.h"

#include <cstdlib>
#include <cstring>

#include "support/DecimalText.h"
#include "support/Result.h"

namespace tarnix {

namespace {

// How often a wait on the network asks whether to go on: a host that lets go gets its worker
// back within this time.
constexpr DWORD kWaitSliceMs = 50;

// Nothing of an exchange goes into the platform's cache or comes out of it.
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD;

const HRESULT kPending = HRESULT_FROM_WIN32(ERROR_IO_PENDING);

// Wine reports a receive that timed out inside an answer as the socket's own error; a host is
// told about timeouts in the platform's terms only.
HRESULT PlatformTerms(HRESULT hr) noexcept {
    return hr == HRESULT_FROM_WIN32(WSAETIMEDOUT) ? HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT) : hr;
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

CInetExchange::CInetExchange(const CRequestCore& owner) : m_owner(owner) {}

CInetExchange::~CInetExchange() {
    // Handles close child first; an operation still under way keeps only the completion alive.
    m_io.reset();
    m_request.reset();
    m_connection.reset();
    m_session.reset();
    if (m_completion) m_completion->Release();
}

bool CInetExchange::Proceed() const {
    HRESULT verdict = m_owner.ExchangeVerdict();
    ThrowIfFailed(verdict);
    return verdict == S_OK;
}

void CInetExchange::Connect(const std::string& host, INTERNET_PORT port) {
    std::string name = host;
    SplitHostPort(name, port);
    const DWORD access = IsDirectHost(name, port ? port : INTERNET_DEFAULT_HTTP_PORT) ? INTERNET_OPEN_TYPE_DIRECT
                                                                                     : INTERNET_OPEN_TYPE_PRECONFIG;
    ThrowIfFailed(CreateInetSession(m_session.put()));
    ThrowIfFailed(m_session->Open(kInetAgent, access, nullptr, nullptr, INTERNET_FLAG_ASYNC, m_connection.put()));
    // Children inherit the callback, so it is in place before the connection is made.
    ThrowHrIf(InternetSetStatusCallbackA(m_session->Handle(), &CInetCompletion::StatusCallback) ==
                  INTERNET_INVALID_STATUS_CALLBACK,
              E_FAIL);
    ThrowIfFailed(
        m_connection->Connect(name.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0, m_request.put()));
}

void CInetExchange::OpenRequest(const char* verb, const std::string& path, bool secure) {
    ThrowHrIf(!m_request, E_UNEXPECTED);
    m_completion = CInetCompletion::Create();
    ThrowHrIf(!m_completion, E_OUTOFMEMORY);

    const char* acceptTypes[] = {"*/*", nullptr};
    // Attached first: a handle that fails half-way may already report closing.
    m_completion->AttachHandle();
    HRESULT hr = m_request->OpenRequest(verb, path.c_str(), kHttpVersion, nullptr, acceptTypes,
                                        kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0), m_completion->Context(),
                                        m_io.put());
    if (FAILED(hr)) {
        m_completion->DetachHandle();
        ThrowHr(hr);
    }

    const InetTimeouts& timeouts = ExchangeTimeouts();
    ThrowIfFailed(m_io->SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs));
    ThrowIfFailed(m_io->SetOption(INTERNET_OPTION_SEND_TIMEOUT, timeouts.sendMs));
    ThrowIfFailed(m_io->SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.receiveMs));
}

CInetRequestIo& CInetExchange::Io() const {
    ThrowHrIf(!m_io, E_UNEXPECTED);
    return *m_io.get();
}

bool CInetExchange::Await(HRESULT started) {
    if (started != kPending) {
        ThrowIfFailed(PlatformTerms(started));
        return true;
    }
    for (;;) {
        if (m_completion->WaitEnded(kWaitSliceMs)) {
            ThrowIfFailed(PlatformTerms(m_completion->Outcome()));
            return true;
        }
        if (!Proceed()) return false;
    }
}

const char* CInetExchange::KeepHeaders(const char* headers, DWORD& headersLength) {
    std::vector<char>& copy = m_completion->sendHeaders;
    copy.assign(headers, headers + (headers ? headersLength : 0));
    headersLength = static_cast<DWORD>(copy.size());
    return copy.empty() ? nullptr : copy.data();
}

bool CInetExchange::Send(const char* headers, DWORD headersLength, const void* body, DWORD bodyLength) {
    CInetRequestIo& io = Io();
    if (!Proceed()) return false;
    // The platform sends headers and body after this call returns.
    const char* keptHeaders = KeepHeaders(headers, headersLength);
    std::vector<char>& copy = m_completion->sendCopy;
    copy.assign(static_cast<const char*>(body), static_cast<const char*>(body) + (body ? bodyLength : 0));
    m_completion->Arm();
    return Await(io.SendRequest(keptHeaders, headersLength, copy.empty() ? nullptr : copy.data(),
                                static_cast<DWORD>(copy.size())));
}

bool CInetExchange::BeginSend(const char* headers, DWORD headersLength, DWORD contentLength) {
    CInetRequestIo& io = Io();
    if (!Proceed()) return false;
    INTERNET_BUFFERSA& in = m_completion->sendBuffers;
    in = INTERNET_BUFFERSA();
    in.dwStructSize = sizeof in;
    in.lpcszHeader = KeepHeaders(headers, headersLength);
    in.dwHeadersLength = headersLength;
    in.dwHeadersTotal = headersLength;
    in.dwBufferTotal = contentLength;
    m_completion->Arm();
    return Await(io.SendRequestEx(&in));
}

bool CInetExchange::Write(const void* data, DWORD length) {
    CInetRequestIo& io = Io();
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        if (!Proceed()) return false;
        std::vector<char>& block = m_completion->sendCopy;
        block.assign(bytes, bytes + length);
        m_completion->written = 0;
        m_completion->Arm();
        if (!Await(io.WriteData(block.data(), length, &m_completion->written))) return false;
        // A write that takes nothing would never end.
        DWORD written = m_completion->written;
        ThrowHrIf(written == 0 || written > length, E_FAIL);
        bytes += written;
        length -= written;
    }
    return true;
}

bool CInetExchange::EndSend() {
    CInetRequestIo& io = Io();
    if (!Proceed()) return false;
    m_completion->Arm();
    return Await(io.EndRequest());
}

long CInetExchange::StatusCode() {
    char status[256];
    DWORD length = 255;
    DWORD index = 0;
    ThrowIfFailed(Io().QueryInfo(HTTP_QUERY_STATUS_CODE, status, &length, &index));
    status[length < 255 ? length : 255] = '\0';
    const long code = std::strtol(status, nullptr, 10);
    // The platform gives status 0 when the connection ended before a whole status line came.
    ThrowHrIf(code == 0, HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED));
    return code;
}

bool CInetExchange::QueryHeader(DWORD level, std::string& value) {
    char text[4096];
    DWORD length = sizeof text;
    DWORD index = 0;
    HRESULT hr = Io().QueryInfo(level, text, &length, &index);
    if (hr == HRESULT_FROM_WIN32(ERROR_HTTP_HEADER_NOT_FOUND)) return false;
    ThrowIfFailed(hr);
    value.assign(text, length < sizeof text ? length : sizeof text);
    return true;
}

bool CInetExchange::Read(const char*& data, DWORD& length) {
    CInetRequestIo& io = Io();
    if (!m_bodyStarted) {
        std::string announced;
        if (QueryHeader(HTTP_QUERY_CONTENT_LENGTH, announced)) m_announced = ParseContentLength(announced);
        m_bodyStarted = true;
    }
    if (!Proceed()) return false;
    if (m_announced != 0 && m_received >= m_announced) {
        length = 0;  // all that was announced has come
        return true;
    }
    INTERNET_BUFFERSA& out = m_completion->readBuffers;
    out = INTERNET_BUFFERSA();
    out.dwStructSize = sizeof out;
    out.lpvBuffer = m_completion->readBlock;
    out.dwBufferLength = CInetCompletion::kBlockSize;
    m_completion->Arm();
    if (!Await(io.ReadData(&out))) return false;
    ThrowHrIf(out.dwBufferLength > CInetCompletion::kBlockSize, E_FAIL);
    data = m_completion->readBlock;
    length = out.dwBufferLength;
    // Wine hands over bytes that came with the head even past a shorter announced length; the
    // answer is what was announced.
    if (m_announced != 0 && length > m_announced - m_received) length = static_cast<DWORD>(m_announced - m_received);
    m_received += length;
    // The platform ends a body cut short as quietly as a whole one: an answer that lacks part of
    // what was announced must not pass for complete.
    ThrowHrIf(length == 0 && m_received < m_announced, HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED));
    return true;
}

}  // namespace tarnix
