// Winsock's header must come before windows.h, which TestService.h includes.
#include <winsock2.h>

#include "TestService.h"

#include "Loopback.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tarnix::test {
namespace {

constexpr DWORD kSliceMs = 20;
constexpr ULONGLONG kLimitMs = 30000;  // longest hold, and longest silence of a client
constexpr ULONGLONG kDrainMs = 5000;   // after answering, how long to wait for the client's close

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Where the authority of an absolute target ("http://host:80/p") starts, or npos.
size_t AuthorityStart(const std::string& target) {
    const size_t sep = target.find("://");
    return sep == std::string::npos || target[0] == '/' ? std::string::npos : sep + 3;
}

void ParseHead(const std::string& head, ReceivedRequest& request) {
    size_t pos = 0;
    for (bool first = true; pos < head.size(); first = false) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        const std::string line = head.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) break;
        if (first) {
            request.requestLine = line;
            const size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
            request.method = line.substr(0, sp1);
            if (sp1 != std::string::npos && sp2 > sp1) request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
            continue;
        }
        const size_t colon = line.find(':');
        request.headers.emplace_back(line.substr(0, colon),
                                     colon == std::string::npos ? std::string() : Trim(line.substr(colon + 1)));
    }
}

std::string BuildHead(const HttpAnswer& answer) {
    std::string head = "HTTP/1.0 " + std::to_string(answer.status) + " " + answer.reason + "\r\n";
    bool ownLength = false;
    for (const auto& [name, value] : answer.headers) {
        head += name + ": " + value + "\r\n";
        ownLength = ownLength || _stricmp(name.c_str(), "Content-Length") == 0;
    }
    if (answer.contentLength && !ownLength) head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    // One request per connection: say so, or WinINet might try to reuse it.
    return head + "Connection: close\r\n\r\n";
}

}  // namespace

std::string ReceivedRequest::Header(const char* name) const {
    for (const auto& [key, value] : headers)
        if (_stricmp(key.c_str(), name) == 0) return value;
    return {};
}

std::string ReceivedRequest::Path() const {
    const size_t start = AuthorityStart(target);
    if (start == std::string::npos) return target;
    const size_t end = target.find_first_of("/?", start);
    return end == std::string::npos ? "/" : target.substr(end);
}

std::string ReceivedRequest::Host() const {
    const size_t start = AuthorityStart(target);
    std::string authority = Header("Host");
    if (start != std::string::npos) authority = target.substr(start, target.find_first_of("/?", start) - start);
    return authority.substr(0, authority.find(':'));
}

class TestService::Impl {
public:
    Impl();
    ~Impl();

    unsigned short port = 0;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::pair<std::string, Handler>> rules;
    HttpAnswer fallback{404, "Not Found"};
    std::vector<ReceivedRequest> requests;
    size_t requestCount = 0;  // every request, kept or not
    bool keepRequests = true;
    size_t clientAborts = 0;  // connections that a client closed before the answer was all sent
    size_t paceBytes = 0;
    DWORD pauseMs = 0;

private:
    struct Connection {
        SOCKET socket;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void Serve(SOCKET socket);
    bool Read(SOCKET socket, ReceivedRequest& request);
    void Answer(SOCKET socket, const HttpAnswer& answer);
    bool Send(SOCKET socket, const char* data, size_t size);
    bool ClientGone(SOCKET socket);
    bool Linger(SOCKET socket, HANDLE event, ULONGLONG limitMs);
    HttpAnswer Choose(const ReceivedRequest& request);
    void NoteClientAbort();

    HANDLE m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_acceptThread;
    std::mutex m_connectionsLock;
    std::list<Connection> m_connections;
};

TestService::Impl::Impl() {
    sockaddr_in address;
    m_listener = ListenOnLoopback(SOMAXCONN, address);
    if (m_listener == INVALID_SOCKET) {
        CloseHandle(m_stop);
        throw std::runtime_error("listening on 127.0.0.1 failed");
    }
    port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

TestService::Impl::~Impl() {
    SetEvent(m_stop);
    closesocket(m_listener);  // ends the accept
    m_acceptThread.join();
    {
        std::lock_guard<std::mutex> lock(m_connectionsLock);
        for (Connection& c : m_connections) shutdown(c.socket, SD_BOTH);  // ends blocked calls
    }
    for (Connection& c : m_connections) {
        c.thread.join();
        closesocket(c.socket);
    }
    CloseHandle(m_stop);
    WSACleanup();
}

void TestService::Impl::AcceptLoop() {
    for (;;) {
        const SOCKET socket = accept(m_listener, nullptr, nullptr);
        if (socket == INVALID_SOCKET) return;  // closed: the service stops
        std::lock_guard<std::mutex> lock(m_connectionsLock);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (!it->done) {
                ++it;
                continue;
            }
            it->thread.join();
            closesocket(it->socket);
            it = m_connections.erase(it);
        }
        Connection& connection = m_connections.emplace_back();
        connection.socket = socket;
        connection.thread = std::thread([this, &connection] {
            Serve(connection.socket);
            connection.done = true;
        });
    }
}

void TestService::Impl::Serve(SOCKET socket) {
    const DWORD timeout = static_cast<DWORD>(kLimitMs);
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    ReceivedRequest request;
    const bool complete = Read(socket, request);
    if (!request.raw.empty()) {
        std::lock_guard<std::mutex> lock(mutex);
        ++requestCount;
        if (keepRequests) requests.push_back(request);
        changed.notify_all();
    }
    if (complete) Answer(socket, Choose(request));
}

bool TestService::Impl::Read(SOCKET socket, ReceivedRequest& request) {
    std::string& raw = request.raw;
    size_t headEnd = std::string::npos, total = SIZE_MAX;
    char block[65536];
    while (raw.size() < total) {
        size_t chunk = sizeof block;
        if (headEnd != std::string::npos) {
            std::unique_lock<std::mutex> lock(mutex);
            if (paceBytes > 0) {
                chunk = std::min(chunk, paceBytes);
                const DWORD pause = pauseMs;
                lock.unlock();
                if (WaitForSingleObject(m_stop, pause) == WAIT_OBJECT_0) return false;
            }
        }
        const int n = recv(socket, block, static_cast<int>(chunk), 0);
        if (n <= 0) return false;
        raw.append(block, static_cast<size_t>(n));
        if (headEnd != std::string::npos || (headEnd = raw.find("\r\n\r\n")) == std::string::npos) continue;
        headEnd += 4;
        ParseHead(raw.substr(0, headEnd), request);
        const std::string length = request.Header("Content-Length");
        total = headEnd + std::strtoull(length.c_str(), nullptr, 10);
    }
    raw.resize(total);
    request.body = raw.substr(headEnd);
    return true;
}

HttpAnswer TestService::Impl::Choose(const ReceivedRequest& request) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [match, ruleHandler] : rules) {
            if (request.target.find(match) != std::string::npos) {
                handler = ruleHandler;
                break;
            }
        }
        if (!handler) return fallback;
    }
    try {
        return handler(request);
    } catch (...) {
        return HttpAnswer{500, "Handler Failed"};
    }
}

void TestService::Impl::NoteClientAbort() {
    std::lock_guard<std::mutex> lock(mutex);
    ++clientAborts;
    changed.notify_all();
}

bool TestService::Impl::Send(SOCKET socket, const char* data, size_t size) {
    while (size > 0) {
        const int n = send(socket, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
        if (n <= 0) {
            if (WaitForSingleObject(m_stop, 0) != WAIT_OBJECT_0) NoteClientAbort();
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Checks without waiting whether the client has closed its end.
bool TestService::Impl::ClientGone(SOCKET socket) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval now{0, 0};
    if (select(0, &set, nullptr, nullptr, &now) <= 0) return false;
    char scratch[4096];
    if (recv(socket, scratch, sizeof scratch, MSG_PEEK) > 0) return false;
    NoteClientAbort();
    return true;
}

// Waits until `event` is set or `limitMs` have passed, watching the client meanwhile. False if
// the client went away or the service stops.
bool TestService::Impl::Linger(SOCKET socket, HANDLE event, ULONGLONG limitMs) {
    const HANDLE handles[2] = {m_stop, event};
    for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < limitMs;) {
        if (ClientGone(socket)) return false;
        const DWORD result = WaitForMultipleObjects(event ? 2 : 1, handles, FALSE, kSliceMs);
        if (result == WAIT_OBJECT_0) return false;
        if (result == WAIT_OBJECT_0 + 1) return true;
    }
    return true;  // past the limit the rest goes anyway: a forgotten event must not hang a client
}

void TestService::Impl::Answer(SOCKET socket, const HttpAnswer& answer) {
    if (answer.noAnswer) {
        shutdown(socket, SD_SEND);  // now: the socket itself is closed only at the next accept
        return;
    }
    if (answer.hold && answer.holdBeforeHead && !Linger(socket, answer.hold, kLimitMs)) return;
    const std::string head = answer.rawHead.empty() ? BuildHead(answer) : answer.rawHead;
    const size_t end = std::min(answer.body.size(), answer.dropAfter);
    size_t pos = 0;
    if (answer.hold && !answer.holdBeforeHead) {
        pos = std::min(answer.holdAfterBytes, end);
        if (!Send(socket, (head + answer.body.substr(0, pos)).data(), head.size() + pos)) return;
        if (!Linger(socket, answer.hold, kLimitMs)) return;
    } else if (!Send(socket, head.data(), head.size())) {
        return;
    }
    for (bool first = true; pos < end; first = false) {
        const size_t n = answer.pieceSize ? std::min(answer.pieceSize, end - pos) : end - pos;
        if (!first && answer.pieceDelayMs && !Linger(socket, nullptr, answer.pieceDelayMs)) return;
        if (!Send(socket, answer.body.data() + pos, n)) return;
        pos += n;
    }
    // Close gracefully: our end first, then wait for the client's, so that nothing it still
    // sends turns the close into a reset that could cost it the answer's last bytes.
    shutdown(socket, SD_SEND);
    const DWORD drain = static_cast<DWORD>(kDrainMs);
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&drain), sizeof drain);
    char scratch[4096];
    while (recv(socket, scratch, sizeof scratch, 0) > 0) {
    }
}

TestService::TestService() : m_impl(std::make_unique<Impl>()) {}
TestService::~TestService() = default;

unsigned short TestService::Port() const { return m_impl->port; }

void TestService::On(const std::string& match, HttpAnswer answer) {
    On(match, Handler([answer = std::move(answer)](const ReceivedRequest&) { return answer; }));
}

void TestService::On(const std::string& match, Handler handler) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->rules.emplace_back(match, std::move(handler));
}

void TestService::SetDefault(HttpAnswer answer) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->fallback = std::move(answer);
}

void TestService::SetBodyReadPace(size_t bytes, DWORD pauseMs) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->paceBytes = bytes;
    m_impl->pauseMs = pauseMs;
}

std::vector<ReceivedRequest> TestService::Requests() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->requests;
}

size_t TestService::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->requestCount;
}

void TestService::KeepRequests(bool keep) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->keepRequests = keep;
}

bool TestService::WaitForRequests(size_t count, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return m_impl->requestCount >= count; });
}

bool TestService::WaitForClientAborts(DWORD timeoutMs, size_t count) const {
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return m_impl->clientAborts >= count; });
}

}  // namespace tarnix::test
