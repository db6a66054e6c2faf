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
    // Extra header lines, in order. A "Content-Length" given here replaces the one the service
    // would write itself (so a test can send a length that lies).
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool contentLength = true;      // send Content-Length; false: the body ends by closing
    size_t pieceSize = 0;           // >0: send the body in pieces of this many bytes...
    DWORD pieceDelayMs = 0;         // ...with this pause before each piece after the first (and
                                    // after a hold), the bytes before a hold paced too
    size_t dropAfter = SIZE_MAX;    // close (gracefully) after this many body bytes
    // If set: wait for this event (at most 30 s, or until the client goes) before sending the
    // body bytes after the first holdAfterBytes, or before anything at all with holdBeforeHead.
    HANDLE hold = nullptr;
    size_t holdAfterBytes = 0;
    bool holdBeforeHead = false;
    std::string rawHead;            // non-empty: sent instead of the status line and headers
    bool noAnswer = false;          // close the connection without sending a byte
};

struct ReceivedRequest {
    std::string raw;                // every byte received for this request
    std::string requestLine;        // e.g. "GET http://h/p?q HTTP/1.0"
    std::string method, target;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed
    std::string body;

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

    unsigned short Port() const;

    // Answers requests whose target contains `match`; the first rule added that matches wins.
    // A handler runs on the connection's own thread, after the request has been recorded.
    void On(const std::string& match, HttpAnswer answer);
    void On(const std::string& match, Handler handler);
    void SetDefault(HttpAnswer answer);  // when no rule matches (initially 404, empty body)
    // Reads request bodies at most `bytes` at a time, pausing `pauseMs` before each read: a slow
    // link, so that a test can act while a body is still on its way. 0 bytes: read at full speed.
    void SetBodyReadPace(size_t bytes, DWORD pauseMs);

    std::vector<ReceivedRequest> Requests() const;  // copy, in arrival order
    size_t RequestCount() const;                     // every request, kept or not
    // Whether Requests() keeps what arrives (initially yes); a long run counts without keeping.
    void KeepRequests(bool keep);
    bool WaitForRequests(size_t count, DWORD timeoutMs) const;  // true once `count` arrived
    // True once `count` clients closed their connections before the answer was all sent: clients
    // that gave up.
    bool WaitForClientAborts(DWORD timeoutMs, size_t count = 1) const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarnix::test
