// A small HTTP/1.0 server inside the test process, on 127.0.0.1, reached directly (ReachDirectly)
// or as any host through WinINet's proxy setting (ProxySetting.h). It reads one request per
// connection, answers by a script, and records every request as it arrived.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarnix::test {

// A head (built, or `rawHead`) and a body, sent as `steps` say (all at once without any); then
// the service closes its end.
struct HttpAnswer {
    struct Step {
        enum Kind { kSend, kHold, kTrickle, kClose } kind;
        size_t bytes;  // kSend, kTrickle: the head and the body up to here
        HANDLE event;  // kHold
        DWORD ms;      // kTrickle: before each piece
        size_t piece;  // kTrickle
    };

    int status = 200;
    std::string reason = "OK";
    // Extra header lines, in order; a "Content-Length" here replaces the one the service writes.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool contentLength = true;  // false: no Content-Length, the body ends with the connection
    std::string rawHead;        // non-empty: sent in place of the status line and headers
    std::vector<Step> steps;
};

// The head and the body up to its byte `bytes`.
inline HttpAnswer::Step SendBody(size_t bytes) { return {HttpAnswer::Step::kSend, bytes, nullptr, 0, 0}; }
// Nothing more until `event` is set (30 s at most, or until the client goes).
inline HttpAnswer::Step Hold(HANDLE event) { return {HttpAnswer::Step::kHold, 0, event, 0, 0}; }
// In pieces of `piece` bytes, `ms` before each, up to the body's byte `upTo`.
inline HttpAnswer::Step Trickle(size_t piece, DWORD ms, size_t upTo = SIZE_MAX) {
    return {HttpAnswer::Step::kTrickle, upTo, nullptr, ms, piece};
}
// The end: what is left is never sent.
inline HttpAnswer::Step Close() { return {HttpAnswer::Step::kClose, 0, nullptr, 0, 0}; }

struct ReceivedRequest {
    std::string raw;          // every byte received for this request
    std::string requestLine;  // e.g. "GET http://h/p?q HTTP/1.0"
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed
    std::string body;

    // First header of that name (case-insensitive), "" if none.
    std::string Header(const char* name) const;
    // The target without scheme and host: "/vft/gatekeeper.ashx?op=...".
    std::string Path() const;
};

class TestService {
public:
    using Handler = std::function<HttpAnswer(const ReceivedRequest&)>;

    TestService();   // listening on 127.0.0.1 when it returns; throws std::runtime_error if not
    ~TestService();  // stops every thread and closes every socket

    unsigned short Port() const;
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }

    // Answers requests whose target contains `match` (the first rule added wins), on the
    // connection's own thread, once the request is recorded.
    void On(const std::string& match, HttpAnswer answer);
    void On(const std::string& match, Handler handler);
    void SetDefault(HttpAnswer answer);  // when no rule matches (initially 404, empty body)
    // Reads request bodies `bytes` at a time, `pauseMs` before each (0 bytes: at full speed).
    void SetBodyReadPace(size_t bytes, DWORD pauseMs);

    std::vector<ReceivedRequest> Requests() const;  // copy, in arrival order
    size_t RequestCount() const;                     // every request, kept or not
    void KeepRequests(bool keep);                    // whether Requests() keeps them (initially yes)
    bool WaitForRequests(size_t count, DWORD timeoutMs = 10000) const;
    // Clients that closed their end before the answer was all sent: ones that gave up.
    bool WaitForClientAborts(size_t count, DWORD timeoutMs = 10000) const;
    bool WaitUntilIdle(DWORD timeoutMs = 10000) const;  // no connection served any more

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

// Sends the library's gatekeeper requests straight to `service`, past the proxy setting: before
// the outermost TARNIXInitialize, which reads it.
inline void ReachDirectly(const TestService& service) {
    SetEnvironmentVariableA("TARNIX_SERVICE", service.Address().c_str());
}

}  // namespace tarnix::test
