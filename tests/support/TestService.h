// A small HTTP/1.0 server inside the test process. WinINet reaches it as its proxy (see
// ProxySetting.h), so it stands in for the service host and any download host alike. It reads
// one request per connection, answers by a script, and records every request as it arrived.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarnix::test {

// What the service sends back.
struct HttpAnswer {
    int status = 200;
    std::string reason = "OK";
    // Extra header lines, in order. A "Content-Length" or "Connection" given here replaces the
    // one the service would write itself (so a test can send a length that lies).
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool contentLength = true;      // send Content-Length; false: the body ends by closing
    size_t pieceSize = 0;           // >0: send the body in pieces of this many bytes...
    DWORD pieceDelayMs = 0;         // ...with this pause before each piece after the first
    // Close the connection after this many body bytes. Always a graceful close: a reset (RST)
    // reaches a reader under Wine as a plain end of data or as an error at random.
    size_t dropAfter = SIZE_MAX;
    // If set: send the status line and headers (and holdAfterBytes of the body), then wait for
    // this event (at most 30 s) before the rest. The event must outlive the answer's use.
    HANDLE holdBeforeBody = nullptr;
    size_t holdAfterBytes = 0;
    // Non-empty: sent verbatim instead of the status line and headers (malformed answers).
    std::string rawHead;
    bool noAnswer = false;          // close the connection without sending a byte
};

struct ReceivedRequest {
    std::string raw;                // every byte received for this request
    std::string requestLine;        // e.g. "GET http://h/p?q HTTP/1.0"
    std::string method, target, version;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed
    std::string body;
    // False when the client stopped before the head and the announced body had arrived (such
    // a request is not answered) or when the head could not be read (answered with 400).
    bool complete = false;

    // First header of that name (case-insensitive), "" if none.
    std::string Header(const char* name) const;
    // The target without scheme and host: "/vft/gatekeeper.ashx?op=...".
    std::string Path() const;
    // Host name of an absolute target, else of the Host header; without a port.
    std::string Host() const;
};

class TestService {
public:
    using Handler = std::function<HttpAnswer(const ReceivedRequest&)>;

    TestService();   // listening on 127.0.0.1 when it returns; throws std::runtime_error if not
    ~TestService();  // stops every thread and closes every socket
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    unsigned short Port() const;

    // Answers requests whose target contains `match`; the first rule added that matches wins.
    // A handler runs on the connection's own thread, after the request has been recorded, and
    // may call Requests() or WaitForRequests(). It must return within the service's lifetime.
    void On(const std::string& match, HttpAnswer answer);
    void On(const std::string& match, Handler handler);
    void SetDefault(HttpAnswer answer);  // when no rule matches (initially 404, empty body)

    std::vector<ReceivedRequest> Requests() const;  // copy, in arrival order
    size_t RequestCount() const;
    bool WaitForRequests(size_t count, DWORD timeoutMs) const;  // true once `count` arrived
    // True once a client closed (or reset) a connection before the service had finished
    // sending its answer: a client that gave up mid-body.
    bool WaitForClientAbort(DWORD timeoutMs) const;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarnix::test
