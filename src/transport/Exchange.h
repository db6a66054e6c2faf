// CInetExchange: one HTTP exchange of a request over WinINet, in the platform's asynchronous
// mode, so that no server can hold a worker whose request was given up: every wait on the
// network is cut into short slices, and between them the owning request is asked whether to go
// on (CRequestCore::ThrowIfAbandoned). Given up, the exchange closes its handles and leaves at
// once; what the platform may still do with its buffers lives in a reference-counted state that
// the request handle keeps until the platform reports the handle closing.
//
// Every request opened here bypasses the platform's cache (nothing written to it or read from
// it: a sign-in address carries the password, a listing must never be stale), and carries
// connect, send and receive timeouts, so that no exchange can wait forever.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>
#include <string_view>

#include "requests/RequestBase.h"
#include "support/Handles.h"

namespace tarnix {

constexpr char kInetAgent[] = "Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0";
constexpr char kHttpVersion[] = "HTTP/1.0";

// Gatekeeper answers are a few hundred bytes: they are read in small blocks. File bodies go in
// large ones, because under Wine every read is a round trip to the server process, and so the
// block size, not the network, decides how fast a download runs (see the README's figures).
constexpr DWORD kAnswerBlockSize = 4096;
constexpr DWORD kFileBlockSize = 256 * 1024;

// The most an answer to a gatekeeper operation may hold (real ones hold a few kilobytes): one
// beyond it fails with HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) without being held.
constexpr ULONGLONG kMaxAnswerBytes = 8 << 20;
// How many redirects a file download follows before it fails with
// HRESULT_FROM_WIN32(ERROR_HTTP_REDIRECT_FAILED); gatekeeper requests follow none.
constexpr int kMaxRedirects = 5;

// Where an exchange goes: a host ("name", or "name:port" with port 0), a port (0: the
// scheme's default), TLS or not, and the path with its query.
struct InetAddress {
    std::string host;
    INTERNET_PORT port = 0;
    bool secure = false;
    std::string path;

    // The address as text, the base against which a redirect's Location is read.
    std::string Url() const;
};

// Reads an absolute http or https address, such as one the service answers or a redirect
// names. A control character (which could add header lines to the request) or any other
// scheme is refused with E_INVALIDARG; what InternetCrackUrlA refuses fails with its error.
InetAddress ParseInetAddress(const std::string& url);
// The address that `location` (absolute or relative) names, read against `base`.
InetAddress ResolveLocation(const InetAddress& base, const std::string& location);

struct InetTimeouts {
    DWORD connectMs;
    DWORD sendMs;
    DWORD receiveMs;
};
// The timeouts of every exchange: 30 s to connect, 60 s for each send and each receive. Tests
// linking the library statically shorten them.
InetTimeouts& ExchangeTimeouts() noexcept;

// Exchanges with this "host" or "host:port" (a development service named by the library's
// setting) connect to it themselves, whatever proxy the system's setting names; empty for none.
void SetDirectHost(const std::string& hostAndPort);

// Counts for tests (through the static library; not visible to a host): the WinINet handles
// open now, and the exchange states alive. A state outlives its exchange only while the
// platform still owes its request handle's closing report (support/Module.h CallbacksDue),
// which Wine sends once a given-up operation has ended on its own.
LONG OpenInetHandleCount() noexcept;
LONG LiveExchangeStateCount() noexcept;

// Internet handles, closed with InternetCloseHandle and counted while open.
struct InternetHandleTraits {
    using Type = HINTERNET;
    static HINTERNET Invalid() noexcept { return nullptr; }
    static void Close(HINTERNET handle) noexcept;
};
using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;

class CExchangeState;

class CInetExchange {
public:
    // Opens a session (the system's proxy setting, or none for the direct host), a connection
    // to the address's host and a request of `verb` for its path. Nothing goes on the wire
    // before a send. The body is read in blocks of `blockSize` bytes. The platform follows no
    // redirect and keeps no cookie: the only cookie a request carries is one the library writes.
    CInetExchange(const CRequestCore& owner, const char* verb, const InetAddress& address,
                  DWORD blockSize = kAnswerBlockSize);
    ~CInetExchange();
    CInetExchange(const CInetExchange&) = delete;
    CInetExchange& operator=(const CInetExchange&) = delete;

    // Sends the request with the extra headers and a whole body (either may be empty).
    void Send(std::string_view headers = {}, std::string_view body = {});
    // A request whose body follows in pieces: BeginSend sends the head with a Content-Length of
    // `contentLength` (the platform writes one itself and replaces a caller's); Write sends the
    // next bytes; EndSend ends the body and receives the answer's head. The bytes written must
    // add up to `contentLength`.
    void BeginSend(std::string_view headers, DWORD contentLength);
    void Write(std::string_view bytes);
    void EndSend();

    // The answer's status code. An answer that ended before its status line fails with
    // HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED).
    long StatusCode();
    // A response header's value; false when the answer has none.
    bool QueryHeader(DWORD level, std::string& value);
    // The answer's Content-Length, 0 without a usable one.
    ULONGLONG AnnouncedLength();
    // The next block of the body, valid until the next call; an empty block ends the body. With
    // a Content-Length the body is that many bytes: one that ends short of it fails with
    // HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED), bytes beyond it are not handed over.
    // A chunked body fails the same way: the platform ends one cut before its last chunk as
    // quietly as a whole one, and no answer to an HTTP/1.0 request may be chunked.
    std::string_view Read();

    // Closes the handles now (request, then connection, then session), as the destructor does.
    void Close() noexcept;

private:
    // Arms the state, makes the call and, when the platform goes on in the background, waits
    // for its end in slices, asking the owner between them. Raises the call's failure. True when
    // the call completed at once, false when it ended in the background.
    template <class Call>
    bool Await(Call call);

    const CRequestCore& m_owner;
    ComPtr<CExchangeState> m_state;  // declared first: released after the handles
    UniqueInternetHandle m_session;
    UniqueInternetHandle m_connection;
    UniqueInternetHandle m_request;
    bool m_bodyStarted = false;
    bool m_bodyEnded = false;  // read to its end: its handles close at once
    ULONGLONG m_announced = 0;  // the answer's Content-Length; 0 without a usable one
    ULONGLONG m_received = 0;
};

}  // namespace tarnix
