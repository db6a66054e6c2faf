// Winsock's header must come before windows.h, which TestService.h includes.
#include <winsock2.h>

#include "TestService.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "Loopback.h"

namespace tarnix::test {
namespace {

constexpr DWORD kLimitMs = 30000;  // longest hold, and longest silence of a client
constexpr DWORD kDrainMs = 5000;   // after answering, how long to wait for the client's close

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

// `option`: SO_RCVTIMEO or SO_SNDTIMEO.
void SetTimeout(SOCKET socket, int option, DWORD ms) {
    setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&ms), sizeof ms);
}

}  // namespace

std::string ReceivedRequest::Header(const char* name) const {
    for (const auto& [key, value] : headers)
        if (_stricmp(key.c_str(), name) == 0) return value;
    return {};
}

std::string ReceivedRequest::Path() const {
    const size_t scheme = target.find("://");
    if (target.empty() || target[0] == '/' || scheme == std::string::npos) return target;
    const size_t end = target.find_first_of("/?", scheme + 3);
    return end == std::string::npos ? "/" : target.substr(end);
}

class TestService::Impl {
public:
    template <class F>
    auto Locked(F f) {
        std::lock_guard<std::mutex> lock(mutex);
        return f();
    }
    Impl() {
        sockaddr_in address;
        listener = ListenOnLoopback(SOMAXCONN, address);
        if (listener == INVALID_SOCKET) throw std::runtime_error("listening on 127.0.0.1 failed");
        port = ntohs(address.sin_port);
        // Accepts only what select shows waiting: closing the listener need not end a blocked accept in Wine.
        acceptor = std::thread([this] {
            while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) {
                fd_set waiting;
                FD_ZERO(&waiting);
                FD_SET(listener, &waiting);
                timeval slice{0, 50000};
                if (select(0, &waiting, nullptr, nullptr, &slice) <= 0) continue;
                const SOCKET socket = accept(listener, nullptr, nullptr);
                if (socket == INVALID_SOCKET) continue;
                Locked([&] { open.insert(socket); });
                if (!RunOnOwnThread([this, socket] { Serve(socket); })) Forget(socket);
            }
        });
    }
    // False if a connection is still served past every bound (a send Wine left blocked across a
    // shutdown): reported, and its state left alive rather than the program hung or freed under it.
    bool Stop() {
        SetEvent(stop);
        acceptor.join();
        closesocket(listener);
        std::unique_lock<std::mutex> lock(mutex);
        for (SOCKET socket : open) shutdown(socket, SD_BOTH);
        if (!changed.wait_for(lock, std::chrono::milliseconds(kLimitMs + kDrainMs), [&] { return open.empty(); })) {
            std::fprintf(stderr, "test service: %zu connection(s) still served at its end; left running\n", open.size());
            return false;
        }
        lock.unlock();
        CloseHandle(stop);
        WSACleanup();
        return true;
    }

    template <class Done>
    bool WaitUntil(DWORD timeoutMs, Done done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }

    unsigned short port = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::string, Handler>> rules;
    HttpAnswer fallback{404, "Not Found"};
    std::vector<ReceivedRequest> requests;
    size_t requestCount = 0, clientAborts = 0;
    bool keepRequests = true;
    size_t paceBytes = 0;
    DWORD pauseMs = 0;
    std::multiset<SOCKET> open;  // connections being served

private:
    void Serve(SOCKET socket) {
        SetTimeout(socket, SO_RCVTIMEO, kLimitMs);
        SetTimeout(socket, SO_SNDTIMEO, kLimitMs);
        ReceivedRequest request;
        const bool complete = Read(socket, request);
        if (!request.raw.empty()) Locked([&] {
            ++requestCount;
            if (keepRequests) requests.push_back(request);
            changed.notify_all();
        });
        if (complete) Answer(socket, Choose(request));
        Forget(socket);
    }
    void Forget(SOCKET socket) {
        closesocket(socket);
        Locked([&] {
            open.erase(open.find(socket));  // a value the system may already have given again
            changed.notify_all();
        });
    }

    bool Read(SOCKET socket, ReceivedRequest& request) {
        std::string& raw = request.raw;
        size_t headEnd = std::string::npos, total = SIZE_MAX;
        char block[65536];
        while (raw.size() < total) {
            const auto [pace, pause] = Locked([&] { return std::make_pair(paceBytes, pauseMs); });
            const bool paced = headEnd != std::string::npos && pace > 0;
            if (paced && WaitForSingleObject(stop, pause) == WAIT_OBJECT_0) return false;
            const int n = recv(socket, block, static_cast<int>(paced ? std::min(sizeof block, pace) : sizeof block), 0);
            if (n <= 0) return false;
            raw.append(block, static_cast<size_t>(n));
            if (headEnd != std::string::npos || (headEnd = raw.find("\r\n\r\n")) == std::string::npos) continue;
            headEnd += 4;
            // The request line, then the header fields up to the empty line.
            size_t end = raw.find("\r\n");
            request.requestLine = raw.substr(0, end);
            const size_t sp1 = request.requestLine.find(' '), sp2 = request.requestLine.rfind(' ');
            if (sp1 != std::string::npos && sp2 > sp1) request.target = request.requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
            for (size_t pos = end + 2; (end = raw.find("\r\n", pos)) != pos && pos < headEnd; pos = end + 2) {
                const std::string field = raw.substr(pos, end - pos);
                const size_t colon = field.find(':'), value = field.find_first_not_of(" \t", colon + 1);
                request.headers.emplace_back(field.substr(0, colon), colon == std::string::npos || value == std::string::npos
                                                                         ? std::string() : field.substr(value));
            }
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

    // Notes a client that closed its end before the answer was all sent: one that gave up.
    bool Aborted() {
        if (WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) Locked([&] {
            ++clientAborts;
            changed.notify_all();
        });
        return false;
    }
    bool Send(SOCKET socket, const char* data, size_t size) {
        for (int n; size > 0; data += n, size -= static_cast<size_t>(n))
            if ((n = send(socket, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0)) <= 0) return Aborted();
        return true;
    }
    // Until `event` is set or `limitMs` passed (then the rest goes anyway); false if the client
    // went away or the service stops.
    bool Linger(SOCKET socket, HANDLE event, DWORD limitMs) {
        const HANDLE handles[2] = {stop, event};
        for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < limitMs;) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socket, &set);
            timeval now{0, 0};
            char peek[4096];
            if (select(0, &set, nullptr, nullptr, &now) > 0 && recv(socket, peek, sizeof peek, MSG_PEEK) <= 0)
                return Aborted();
            const DWORD result = WaitForMultipleObjects(event ? 2 : 1, handles, FALSE, 20);
            if (result == WAIT_OBJECT_0) return false;
            if (result == WAIT_OBJECT_0 + 1) return true;
        }
        return true;
    }

    void Answer(SOCKET socket, const HttpAnswer& answer) {
        const std::string head = answer.rawHead.empty() ? BuildHead(answer) : answer.rawHead;
        const std::string bytes = head + answer.body;
        size_t sent = 0;
        // Sends what comes before the body's byte `at` (or the end).
        auto sendTo = [&](size_t at) {
            const size_t end = std::min(at == SIZE_MAX ? at : head.size() + at, bytes.size());
            const bool ok = end <= sent || Send(socket, bytes.data() + sent, end - sent);
            sent = std::max(sent, end);
            return ok;
        };
        for (const HttpAnswer::Step& step : answer.steps) {
            bool ok = true;
            switch (step.kind) {
            case HttpAnswer::Step::kSend: ok = sendTo(step.bytes); break;
            case HttpAnswer::Step::kHold: ok = Linger(socket, step.event, kLimitMs); break;
            case HttpAnswer::Step::kTrickle:
                for (const size_t end = std::min(step.bytes, answer.body.size()); ok && sent < head.size() + end;)
                    ok = Linger(socket, nullptr, step.ms) && sendTo(std::min(end, sent - std::min(sent, head.size()) + step.piece));
                break;
            case HttpAnswer::Step::kClose: sent = bytes.size(); break;
            }
            if (!ok) return;
        }
        if (!sendTo(SIZE_MAX)) return;
        // Our end first, then the client's: a reset could cost it the answer's last bytes.
        shutdown(socket, SD_SEND);
        SetTimeout(socket, SO_RCVTIMEO, kDrainMs);
        char scratch[4096];
        while (recv(socket, scratch, sizeof scratch, 0) > 0) {
        }
    }

    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SOCKET listener = INVALID_SOCKET;
    std::thread acceptor;
};

TestService::TestService() : m_impl(std::make_unique<Impl>()) {}
TestService::~TestService() {
    if (!m_impl->Stop()) m_impl.release();  // its threads still use it: lost, not freed under them
}
unsigned short TestService::Port() const { return m_impl->port; }

void TestService::On(const std::string& match, HttpAnswer answer) {
    On(match, Handler([answer = std::move(answer)](const ReceivedRequest&) { return answer; }));
}
void TestService::On(const std::string& match, Handler handler) {
    m_impl->Locked([&] { m_impl->rules.emplace_back(match, std::move(handler)); });
}
void TestService::SetDefault(HttpAnswer answer) { m_impl->Locked([&] { m_impl->fallback = std::move(answer); }); }
void TestService::SetBodyReadPace(size_t bytes, DWORD pauseMs) {
    m_impl->Locked([&] { m_impl->paceBytes = bytes, m_impl->pauseMs = pauseMs; });
}
std::vector<ReceivedRequest> TestService::Requests() const { return m_impl->Locked([&] { return m_impl->requests; }); }
size_t TestService::RequestCount() const { return m_impl->Locked([&] { return m_impl->requestCount; }); }
void TestService::KeepRequests(bool keep) { m_impl->Locked([&] { m_impl->keepRequests = keep; }); }
bool TestService::WaitForRequests(size_t count, DWORD timeoutMs) const {
    return m_impl->WaitUntil(timeoutMs, [&] { return m_impl->requestCount >= count; });
}
bool TestService::WaitUntilIdle(DWORD timeoutMs) const {
    return m_impl->WaitUntil(timeoutMs, [&] { return m_impl->open.empty(); });
}
bool TestService::WaitForClientAborts(size_t count, DWORD timeoutMs) const {
    return m_impl->WaitUntil(timeoutMs, [&] { return m_impl->clientAborts >= count; });
}

}  // namespace tarnix::test
