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

constexpr DWORD kLimitMs = 30000;  // longest hold, and longest silence of a client
constexpr DWORD kDrainMs = 5000;   // after answering, how long to wait for the client's close

// Where the authority of an absolute target ("http://host:80/p") starts, or npos.
size_t AuthorityStart(const std::string& target) {
    const size_t sep = target.find("://");
    return sep == std::string::npos || target[0] == '/' ? std::string::npos : sep + 3;
}

// `head` ends with the empty line.
void ParseHead(const std::string& head, ReceivedRequest& request) {
    size_t end = head.find("\r\n");
    const std::string& line = request.requestLine = head.substr(0, end);
    const size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
    request.method = line.substr(0, sp1);
    if (sp1 != std::string::npos && sp2 > sp1) request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    for (size_t pos = end + 2; (end = head.find("\r\n", pos)) != pos; pos = end + 2) {
        const std::string field = head.substr(pos, end - pos);
        const size_t colon = field.find(':');
        const size_t value = colon == std::string::npos ? colon : field.find_first_not_of(" \t", colon + 1);
        request.headers.emplace_back(field.substr(0, colon), value == std::string::npos ? std::string()
                                     : field.substr(value, field.find_last_not_of(" \t") - value + 1));
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

void SetReceiveTimeout(SOCKET socket, DWORD ms) {
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
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
    Impl() {
        sockaddr_in address;
        m_listener = ListenOnLoopback(SOMAXCONN, address);
        if (m_listener == INVALID_SOCKET) throw std::runtime_error("listening on 127.0.0.1 failed");
        port = ntohs(address.sin_port);
        m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_acceptThread = std::thread([this] { AcceptLoop(); });
    }

    ~Impl() {
        SetEvent(m_stop);
        closesocket(m_listener);  // ends the accept
        m_acceptThread.join();
        for (Connection& c : m_connections) shutdown(c.socket, SD_BOTH);  // ends blocked calls
        m_connections.clear();
        CloseHandle(m_stop);
        WSACleanup();
    }

    template <class F>
    auto Locked(F f) {
        std::lock_guard<std::mutex> lock(mutex);
        return f();
    }

    bool WaitFor(const size_t& counter, size_t count, DWORD timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return counter >= count; });
    }

    unsigned short port = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::string, Handler>> rules;
    HttpAnswer fallback{404, "Not Found"};
    std::vector<ReceivedRequest> requests;
    size_t requestCount = 0;  // every request, kept or not
    bool keepRequests = true;
    size_t clientAborts = 0;  // connections that a client closed before the answer was all sent
    std::atomic<size_t> paceBytes{0};
    std::atomic<DWORD> pauseMs{0};

private:
    struct Connection {
        explicit Connection(SOCKET s) : socket(s) {}
        ~Connection() {
            thread.join();
            closesocket(socket);
        }
        SOCKET socket;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop() {
        // Until the listener closes: the service stops.
        for (SOCKET socket; (socket = accept(m_listener, nullptr, nullptr)) != INVALID_SOCKET;) {
            m_connections.remove_if([](const Connection& c) { return c.done.load(); });
            Connection& connection = m_connections.emplace_back(socket);
            connection.thread = std::thread([this, &connection] {
                Serve(connection.socket);
                connection.done = true;
            });
        }
    }

    void Serve(SOCKET socket) {
        SetReceiveTimeout(socket, kLimitMs);
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

    bool Read(SOCKET socket, ReceivedRequest& request) {
        std::string& raw = request.raw;
        size_t headEnd = std::string::npos, total = SIZE_MAX;
        char block[65536];
        while (raw.size() < total) {
            size_t chunk = sizeof block;
            if (headEnd != std::string::npos && paceBytes > 0) {
                chunk = std::min<size_t>(chunk, paceBytes);
                if (WaitForSingleObject(m_stop, pauseMs) == WAIT_OBJECT_0) return false;
            }
            const int n = recv(socket, block, static_cast<int>(chunk), 0);
            if (n <= 0) return false;
            raw.append(block, static_cast<size_t>(n));
            if (headEnd != std::string::npos || (headEnd = raw.find("\r\n\r\n")) == std::string::npos) continue;
            headEnd += 4;
            ParseHead(raw.substr(0, headEnd), request);
            total = headEnd + std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10);
        }
        raw.resize(total);
        request.body = raw.substr(headEnd);
        return true;
    }

    HttpAnswer Choose(const ReceivedRequest& request) {
        const Handler handler = Locked([&] {
            for (const auto& [match, ruleHandler] : rules)
                if (request.target.find(match) != std::string::npos) return ruleHandler;
            return Handler([answer = fallback](const ReceivedRequest&) { return answer; });
        });
        try {
            return handler(request);
        } catch (...) {
            return HttpAnswer{500, "Handler Failed"};
        }
    }

    void NoteClientAbort() {
        Locked([&] {
            ++clientAborts;
            changed.notify_all();
        });
    }

    bool Send(SOCKET socket, const char* data, size_t size) {
        for (int n; size > 0; data += n, size -= static_cast<size_t>(n)) {
            n = send(socket, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
            if (n > 0) continue;
            if (WaitForSingleObject(m_stop, 0) != WAIT_OBJECT_0) NoteClientAbort();
            return false;
        }
        return true;
    }

    // Checks without waiting whether the client has closed its end.
    bool ClientGone(SOCKET socket) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval now{0, 0};
        char scratch[4096];
        if (select(0, &set, nullptr, nullptr, &now) <= 0 || recv(socket, scratch, sizeof scratch, MSG_PEEK) > 0)
            return false;
        NoteClientAbort();
        return true;
    }

    // Waits until `event` is set or `limitMs` have passed, watching the client meanwhile. False if
    // the client went away or the service stops.
    bool Linger(SOCKET socket, HANDLE event, DWORD limitMs) {
        const HANDLE handles[2] = {m_stop, event};
        for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < limitMs;) {
            if (ClientGone(socket)) return false;
            const DWORD result = WaitForMultipleObjects(event ? 2 : 1, handles, FALSE, 20);
            if (result == WAIT_OBJECT_0) return false;
            if (result == WAIT_OBJECT_0 + 1) return true;
        }
        return true;  // past the limit the rest goes anyway: a forgotten event must not hang a client
    }

    void Answer(SOCKET socket, const HttpAnswer& answer) {
        const std::string head = answer.rawHead.empty() ? BuildHead(answer) : answer.rawHead;
        const std::string bytes = head + answer.body;
        size_t sent = 0;
        auto sendTo = [&](size_t end) {
            end = std::min(end, bytes.size());
            const bool ok = end <= sent || Send(socket, bytes.data() + sent, end - sent);
            sent = std::max(sent, end);
            return ok;
        };
        bool closed = false;
        for (const HttpAnswer::Step& step : answer.steps) {
            bool ok = true;
            switch (step.kind) {
            case HttpAnswer::Step::kSend: ok = sendTo(head.size() + step.bytes); break;
            case HttpAnswer::Step::kHold: ok = Linger(socket, step.event, kLimitMs); break;
            case HttpAnswer::Step::kPause: ok = Linger(socket, nullptr, step.ms); break;
            case HttpAnswer::Step::kTrickle: {
                const size_t end = std::min(bytes.size(), step.bytes == SIZE_MAX ? SIZE_MAX : head.size() + step.bytes);
                while (ok && sent < end) ok = Linger(socket, nullptr, step.ms) && sendTo(std::min(end, sent + step.piece));
                break;
            }
            case HttpAnswer::Step::kClose: closed = true; break;
            }
            if (!ok) return;
            if (closed) break;
        }
        if (!closed && !sendTo(bytes.size())) return;
        // Close gracefully: our end first, then wait for the client's, so that nothing it still
        // sends turns the close into a reset that could cost it the answer's last bytes.
        shutdown(socket, SD_SEND);
        SetReceiveTimeout(socket, kDrainMs);
        char scratch[4096];
        while (recv(socket, scratch, sizeof scratch, 0) > 0) {
        }
    }

    HANDLE m_stop = nullptr;
    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_acceptThread;
    std::list<Connection> m_connections;  // only the accepting thread changes it while it runs
};

TestService::TestService() : m_impl(std::make_unique<Impl>()) {}
TestService::~TestService() = default;

unsigned short TestService::Port() const { return m_impl->port; }

void TestService::On(const std::string& match, HttpAnswer answer) {
    On(match, Handler([answer = std::move(answer)](const ReceivedRequest&) { return answer; }));
}

void TestService::On(const std::string& match, Handler handler) {
    m_impl->Locked([&] { m_impl->rules.emplace_back(match, std::move(handler)); });
}

void TestService::SetDefault(HttpAnswer answer) { m_impl->Locked([&] { m_impl->fallback = std::move(answer); }); }

void TestService::SetBodyReadPace(size_t bytes, DWORD pauseMs) {
    m_impl->pauseMs = pauseMs;
    m_impl->paceBytes = bytes;
}

std::vector<ReceivedRequest> TestService::Requests() const { return m_impl->Locked([&] { return m_impl->requests; }); }
size_t TestService::RequestCount() const { return m_impl->Locked([&] { return m_impl->requestCount; }); }
void TestService::KeepRequests(bool keep) { m_impl->Locked([&] { m_impl->keepRequests = keep; }); }

bool TestService::WaitForRequests(size_t count, DWORD timeoutMs) const {
    return m_impl->WaitFor(m_impl->requestCount, count, timeoutMs);
}

bool TestService::WaitForClientAborts(size_t count, DWORD timeoutMs) const {
    return m_impl->WaitFor(m_impl->clientAborts, count, timeoutMs);
}

}  // namespace tarnix::test
