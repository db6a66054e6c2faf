// The bare platform: one WinINet chain per exchange, opened as the library opens its own (the
// system's proxy setting, or none for the development service, HTTP/1.0, nothing from or into
// the cache), synchronous or in the asynchronous mode the library uses, without anything of the
// library around it.
#include "Bench.h"

namespace bench {

namespace {

constexpr char kAgent[] = "Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0";
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD;

}  // namespace

// The plainest asynchronous wait: an auto-reset event that the completion sets. Held by the
// chain and by the request handle, which lets go when the platform reports it closing.
struct BareChain::Completion {
    HANDLE ended = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    volatile DWORD_PTR result = 0;
    volatile DWORD error = 0;
    volatile LONG refs = 2;

    void Release() {
        if (InterlockedDecrement(&refs) != 0) return;
        CloseHandle(ended);
        delete this;
    }

    static void CALLBACK Callback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD) {
        auto* completion = reinterpret_cast<Completion*>(context);
        if (!completion) return;
        if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
            const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            completion->result = outcome->dwResult;
            completion->error = outcome->dwError;
            SetEvent(completion->ended);
        } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
            completion->Release();
        }
    }
};

BareChain::BareChain(const std::string& host, INTERNET_PORT port, const char* verb, const std::string& path,
                     const BareOptions& options)
    : m_options(options), m_buffers() {
    const DWORD access = options.direct ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PRECONFIG;
    m_session = InternetOpenA(kAgent, access, nullptr, nullptr, options.async ? INTERNET_FLAG_ASYNC : 0);
    if (!m_session) Fail("InternetOpenA failed (%lu)", GetLastError());
    DWORD_PTR context = 0;
    if (options.async) {
        m_completion = new Completion();
        context = reinterpret_cast<DWORD_PTR>(m_completion);
        InternetSetStatusCallbackA(m_session, &Completion::Callback);
    }
    m_connection = InternetConnectA(m_session, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!m_connection) Fail("InternetConnectA failed (%lu)", GetLastError());
    const char* acceptTypes[] = {"*/*", nullptr};
    m_request = HttpOpenRequestA(m_connection, verb, path.c_str(), "HTTP/1.0", nullptr, acceptTypes, kRequestFlags,
                                 context);
    if (!m_request) Fail("HttpOpenRequestA failed (%lu)", GetLastError());
}

BareChain::~BareChain() {
    InternetCloseHandle(m_request);
    InternetCloseHandle(m_connection);
    InternetCloseHandle(m_session);
    if (m_completion) m_completion->Release();
}

void BareChain::Complete(BOOL done, const char* what) {
    if (done) return;
    if (!m_options.async || GetLastError() != ERROR_IO_PENDING) Fail("%s failed (%lu)", what, GetLastError());
    WaitForSingleObject(m_completion->ended, INFINITE);
    if (!m_completion->result) Fail("%s failed in the background (%lu)", what, m_completion->error);
}

void BareChain::Send(const char* headers, DWORD headersLength) {
    Complete(HttpSendRequestA(m_request, headers, headersLength, nullptr, 0), "HttpSendRequestA");
}

void BareChain::BeginSend(const std::string& headers, DWORD contentLength) {
    m_buffers = INTERNET_BUFFERSA();
    m_buffers.dwStructSize = sizeof m_buffers;
    m_buffers.lpcszHeader = headers.c_str();
    m_buffers.dwHeadersLength = static_cast<DWORD>(headers.size());
    m_buffers.dwHeadersTotal = static_cast<DWORD>(headers.size());
    m_buffers.dwBufferTotal = contentLength;
    Complete(HttpSendRequestExA(m_request, &m_buffers, nullptr, 0, 0), "HttpSendRequestExA");
}

void BareChain::Write(const void* data, DWORD length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        DWORD written = 0;
        Complete(InternetWriteFile(m_request, bytes, length, &written), "InternetWriteFile");
        if (written == 0) Fail("InternetWriteFile took nothing");
        bytes += written;
        length -= written;
    }
}

void BareChain::EndSend() { Complete(HttpEndRequestA(m_request, nullptr, 0, 0), "HttpEndRequestA"); }

DWORD BareChain::StatusCode() {
    DWORD status = 0, length = sizeof status, index = 0;
    if (!HttpQueryInfoA(m_request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, &index))
        Fail("HttpQueryInfoA failed (%lu)", GetLastError());
    return status;
}

DWORD BareChain::Read(void* buffer, DWORD length) {
    if (!m_options.async) {
        DWORD read = 0;
        if (!InternetReadFile(m_request, buffer, length, &read)) Fail("InternetReadFile failed (%lu)", GetLastError());
        return read;
    }
    m_buffers = INTERNET_BUFFERSA();
    m_buffers.dwStructSize = sizeof m_buffers;
    m_buffers.lpvBuffer = buffer;
    m_buffers.dwBufferLength = length;
    Complete(InternetReadFileExA(m_request, &m_buffers, 0, 0), "InternetReadFileExA");
    return m_buffers.dwBufferLength;
}

}  // namespace bench
