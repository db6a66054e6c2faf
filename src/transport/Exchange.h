// CInetExchange: one HTTP exchange of a request over the WinINet chain, in the platform's
// asynchronous mode, so that a request whose host lets go (or whose pool stops) is never held
// by a server that does not answer: every wait on the network is cut into short slices, and the
// owning request's ExchangeVerdict is asked between them. Given up, the exchange closes its
// handles and leaves at once; what the platform may still do with its buffers is covered by the
// handle's CInetCompletion.
//
// Every request opened here bypasses the platform's cache (nothing written to it or read from
// it: a sign-in address carries the password, a listing must never be stale), and carries
// connect, send and receive timeouts, so that no exchange can wait forever.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "requests/RequestBase.h"
#include "support/Handles.h"
#include "transport/Inet.h"

namespace tarnix {

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

class CInetExchange {
public:
    explicit CInetExchange(const CRequestCore& owner);
    ~CInetExchange();
    CInetExchange(const CInetExchange&) = delete;
    CInetExchange& operator=(const CInetExchange&) = delete;

    // The owner's verdict between steps: true to go on, false when the host has let go. Raises
    // the verdict's failure (E_ABORT while the pool stops).
    bool Proceed() const;

    // A new session (the system's proxy setting, or none for the direct host) and a connection
    // to `host` on `port` (0: the scheme's default port). A host given as "name:port" with port
    // 0 connects to that port.
    void Connect(const std::string& host, INTERNET_PORT port = 0);
    // Opens the request for `path` with `verb`; `secure` asks for TLS.
    void OpenRequest(const char* verb, const std::string& path, bool secure = false);

    // Each returns false when the exchange was given up (the host let go); failures are raised.
    // Sends the request with a whole body.
    bool Send(const char* headers, DWORD headersLength, const void* body, DWORD bodyLength);
    // A request whose body follows in pieces. BeginSend sends the head: the caller's headers,
    // then a Content-Length of `contentLength` (the platform writes one itself and replaces a
    // caller's); Write sends the next bytes of the body, asking first whether to go on; EndSend
    // ends the body and receives the answer's head. The bytes written must add up to
    // `contentLength`. (Wine's WinINet writes synchronously, so one Write lasts until the
    // platform has taken the bytes, at most the send timeout.)
    bool BeginSend(const char* headers, DWORD headersLength, DWORD contentLength);
    bool Write(const void* data, DWORD length);
    bool EndSend();

    // The answer's status code, read as decimal text. An answer that ended before its status line
    // fails with HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED).
    long StatusCode();
    // A response header's value; false when the answer has none.
    bool QueryHeader(DWORD level, std::string& value);
    // The next block of the body (at most 4096 bytes, valid until the next call); an empty block
    // ends the body. With a Content-Length the body is that many bytes: one that ends short of
    // it fails with HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED), bytes beyond it are
    // not handed over.
    bool Read(const char*& data, DWORD& length);

private:
    // Waits for an operation that `started` says goes on in the background.
    bool Await(HRESULT started);
    // A copy of the request's headers that lives as long as the platform may read it.
    const char* KeepHeaders(const char* headers, DWORD& headersLength);
    CInetRequestIo& Io() const;

    const CRequestCore& m_owner;
    // Declared in this order so that they are released I/O, request, connection, session.
    ComPtr<CInetSession> m_session;
    ComPtr<CInetConnection> m_connection;
    ComPtr<CInetRequest> m_request;
    ComPtr<CInetRequestIo> m_io;
    CInetCompletion* m_completion = nullptr;
    bool m_bodyStarted = false;
    uint32_t m_announced = 0;  // the answer's Content-Length; 0 without a usable one
    ULONGLONG m_received = 0;
};

}  // namespace tarnix
