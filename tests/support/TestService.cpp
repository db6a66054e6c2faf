// Winsock's header must come before windows.h, which TestService.h includes.
#include <winsock2.h>

#include "TestService.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tarnix::test {
namespace {

// Sockets are non-blocking and every wait is cut into slices, so that a peer that neither
// sends nor reads never keeps a thread (and with it the service's destructor) waiting.
constexpr DWORD kSliceMs = 20;
constexpr ULONGLONG kIdleLimitMs = 30000;  // a peer silent this long is given up
constexpr ULONGLONG kHoldLimitMs = 30000;  // longest wait for a held body's event
constexpr ULONGLONG kDrainLimitMs = 5000;  // after answering, how long to wait for the close
constexpr size_t kHeadLimit = 1 << 20;
constexpr size_t kBodyLimit = 256u << 20;
constexpr size_t kBlock = 64 * 1024;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return i == a.size() && !b[i];
}

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string WithoutPort(const std::string& hostPort) {
    if (!hostPort.empty() && hostPort[0] == '[') {  // [v6 address]:port
        const size_t close = hostPort.find(']');
        return close == std::string::npos ? hostPort : hostPort.substr(0, close + 1);
    }
    return hostPort.substr(0, hostPort.find(':'));
}

// Where the authority of an absolute target ("http://host:80/p") starts, or npos.
size_t AuthorityStart(const std::string& target) {
    const size_t sep = target.find("://");
    if (sep == std::string::npos || sep == 0) return std::string::npos;
    for (size_t i = 0; i < sep; ++i) {
        const char c = Lower(target[i]);
        if (!(c >= 'a' && c <= 'z') && c != '+' && c != '-' && c != '.') return std::string::npos;
    }
    return sep + 3;
}

// Offset just past the blank line that ends a request head, or npos. Bare LF line ends are
// accepted as well, for hand-written test clients.
size_t FindHeadEnd(const std::string& s, size_t from) {
    for (size_t i = from; i < s.size(); ++i) {
        if (s[i] != '\n') continue;
        if (i + 1 < s.size() && s[i + 1] == '\n') return i + 2;
        if (i + 2 < s.size() && s[i + 1] == '\r' && s[i + 2] == '\n') return i + 3;
    }
    return std::string::npos;
}

void ParseHead(const std::string& head, ReceivedRequest& request) {
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < head.size();) {
        size_t end = head.find('\n', pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() || !lines.empty()) lines.push_back(std::move(line));
        pos = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty()) return;

    const std::string& first = lines[0];
    request.requestLine = first;
    const size_t sp1 = first.find(' ');
    request.method = first.substr(0, sp1);
    if (sp1 != std::string::npos) {
        const size_t sp2 = first.find(' ', sp1 + 1);
        request.target = first.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
        if (sp2 != std::string::npos) request.version = first.substr(sp2 + 1);
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if ((line[0] == ' ' || line[0] == '\t') && !request.headers.empty()) {  // folded value
            request.headers.back().second += " " + Trim(line);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            request.headers.emplace_back(line, std::string());
        } else {
            request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        }
    }
}

// The announced body length; false if the header is there but not a sane number.
bool ParseContentLength(const ReceivedRequest& request, size_t& length) {
    length = 0;
    bool seen = false;
    for (const auto& [name, value] : request.headers) {
        if (!EqualNoCase(name, "Content-Length")) continue;
        if (value.empty() || value.size() > 12 ||
            value.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const size_t parsed = std::stoull(value);
        if (parsed > kBodyLimit || (seen && parsed != length)) return false;
        length = parsed;
        seen = true;
    }
    return true;
}

std::string BuildHead(const HttpAnswer& answer) {
    std::string head = "HTTP/1.0 " + std::to_string(answer.status) + " " + answer.reason + "\r\n";
    bool ownLength = false;
    bool ownConnection = false;
    for (const auto& [name, value] : answer.headers) {
        head += name + ": " + value + "\r\n";
        ownLength = ownLength || EqualNoCase(name, "Content-Length");
        ownConnection = ownConnection || EqualNoCase(name, "Connection");
    }
    if (answer.contentLength && !ownLength) {
        head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    }
    // One request per connection: say so, or WinINet might try to reuse it.
    if (!ownConnection) head += "Connection: close\r\n";
    return head + "\r\n";
}

HttpAnswer SimpleAnswer(int status, const char* reason, std::string body = {}) {
    HttpAnswer answer;
    answer.status = status;
    answer.reason = reason;
    answer.body = std::move(body);
    return answer;
}

ULONGLONG Since(ULONGLONG start) { return GetTickCount64() - start; }

}  // namespace

std::string ReceivedRequest::Header(const char* name) const {
    for (const auto& [key, value] : headers) {
        if (EqualNoCase(key, name)) return value;
    }
    return {};
}

std::string ReceivedRequest::Path() const {
    const size_t start = AuthorityStart(target);
    if (start == std::string::npos) return target;
    const size_t end = target.find_first_of("/?#", start);
    if (end == std::string::npos) return "/";
    return target[end] == '/' ? target.substr(end) : "/" + target.substr(end);
}

std::string ReceivedRequest::Host() const {
    const size_t start = AuthorityStart(target);
    if (start == std::string::npos) return WithoutPort(Header("Host"));
    const size_t end = target.find_first_of("/?#", start);
    std::string authority = target.substr(start, end == std::string::npos ? end : end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    return WithoutPort(authority);
}

class TestService::Impl {
public:
    Impl();
    ~Impl() { Shut(); }

    bool Stopping() const { return WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0; }
    HANDLE StopEvent() const { return m_stop; }

    void Record(const ReceivedRequest& request) {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
        changed.notify_all();
    }
    void NoteClientAbort() {
        std::lock_guard<std::mutex> lock(mutex);
        clientAborted = true;
        changed.notify_all();
    }
    HttpAnswer Choose(const ReceivedRequest& request);

    unsigned short port = 0;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::pair<std::string, Handler>> rules;
    HttpAnswer fallback = SimpleAnswer(404, "Not Found");
    std::vector<ReceivedRequest> requests;
    bool clientAborted = false;

private:
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void Reap(bool all);
    void Shut();

    bool m_winsock = false;
    HANDLE m_stop = nullptr;
    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_acceptThread;
    std::list<std::unique_ptr<Connection>> m_connections;  // accept thread's, then Shut's
};

namespace {

// One connection: read a request, record it, answer it, close.
class Exchange {
public:
    Exchange(TestService::Impl& service, SOCKET socket) : m_service(service), m_socket(socket) {}
    ~Exchange() { closesocket(m_socket); }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    void Run() {
        ReceivedRequest request;
        const Outcome outcome = Read(request);
        if (!request.raw.empty()) m_service.Record(request);
        if (outcome == Outcome::Incomplete) return;
        if (outcome == Outcome::Malformed) {
            Answer(SimpleAnswer(400, "Bad Request"));
        } else {
            Answer(m_service.Choose(request));
        }
    }

private:
    enum class Outcome { Complete, Incomplete, Malformed };

    // True once the socket can be read (or written); false when stopping or after `limitMs`.
    bool WaitReady(bool forWrite, ULONGLONG limitMs) {
        const ULONGLONG start = GetTickCount64();
        while (!m_service.Stopping()) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(m_socket, &set);
            fd_set failed = set;
            timeval slice{0, static_cast<long>(kSliceMs * 1000)};
            const int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &failed, &slice);
            if (n != 0) return true;  // ready, or an error that the next call will report
            if (Since(start) >= limitMs) return false;
        }
        return false;
    }

    Outcome Read(ReceivedRequest& request) {
        std::string& raw = request.raw;
        std::vector<char> block(kBlock);
        size_t bodyStart = std::string::npos;
        size_t total = 0;
        for (;;) {
            if (bodyStart != std::string::npos && raw.size() >= total) break;
            if (!WaitReady(false, kIdleLimitMs)) return Outcome::Incomplete;
            const int n = recv(m_socket, block.data(), static_cast<int>(block.size()), 0);
            if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
            if (n <= 0) return Outcome::Incomplete;
            const size_t scanFrom = raw.size() >= 2 ? raw.size() - 2 : 0;
            raw.append(block.data(), static_cast<size_t>(n));
            if (bodyStart != std::string::npos) continue;

            bodyStart = FindHeadEnd(raw, scanFrom);
            if (bodyStart == std::string::npos) {
                if (raw.size() > kHeadLimit) return Outcome::Malformed;
                continue;
            }
            ParseHead(raw.substr(0, bodyStart), request);
            size_t length = 0;
            if (request.requestLine.empty() || !ParseContentLength(request, length)) {
                return Outcome::Malformed;
            }
            total = bodyStart + length;
            raw.reserve(total);
        }
        raw.resize(total);  // bytes beyond the announced body are not this request's
        request.body = raw.substr(bodyStart);
        request.complete = true;
        return Outcome::Complete;
    }

    // False if the connection broke (counted as the client's abort) or the service stops.
    bool SendAll(const char* data, size_t size) {
        while (size > 0) {
            const int n = send(m_socket, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
            if (n == SOCKET_ERROR) {
                if (WSAGetLastError() != WSAEWOULDBLOCK) {
                    m_service.NoteClientAbort();
                    return false;
                }
                if (!WaitReady(true, kIdleLimitMs)) return false;
                continue;
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool SendAll(const std::string& text) { return SendAll(text.data(), text.size()); }

    // Checks without waiting whether the client has closed or reset the connection.
    bool ClientGone() {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_socket, &set);
        timeval now{0, 0};
        if (select(0, &set, nullptr, nullptr, &now) <= 0) return false;
        char scratch[4096];
        const int n = recv(m_socket, scratch, sizeof scratch, 0);
        if (n > 0 || (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)) return false;
        m_service.NoteClientAbort();
        return true;
    }

    // Waits `limitMs` or until `event` is set, watching the client meanwhile. False if the
    // client went away or the service stops.
    bool Linger(HANDLE event, ULONGLONG limitMs) {
        const HANDLE handles[2] = {m_service.StopEvent(), event};
        const DWORD count = event ? 2 : 1;
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            if (ClientGone()) return false;
            const ULONGLONG elapsed = Since(start);
            if (elapsed >= limitMs) return true;
            const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(kSliceMs, limitMs - elapsed));
            const DWORD result = WaitForMultipleObjects(count, handles, FALSE, wait);
            if (result == WAIT_OBJECT_0 + 1) return true;
            if (result != WAIT_TIMEOUT) return false;  // stopping, or an unusable event
        }
    }

    void Answer(const HttpAnswer& answer) {
        if (answer.noAnswer) return;
        const std::string head = answer.rawHead.empty() ? BuildHead(answer) : answer.rawHead;
        const size_t end = std::min(answer.body.size(), answer.dropAfter);
        size_t pos = 0;
        if (answer.holdBeforeBody) {
            pos = std::min(answer.holdAfterBytes, end);
            if (!SendAll(head + answer.body.substr(0, pos))) return;
            // Past the limit the rest goes anyway: a forgotten event must not hang the client.
            if (!Linger(answer.holdBeforeBody, kHoldLimitMs)) return;
        } else if (!SendAll(head)) {
            return;
        }
        for (bool first = true; pos < end; first = false) {
            const size_t n = answer.pieceSize ? std::min(answer.pieceSize, end - pos) : end - pos;
            if (!first && answer.pieceDelayMs && !Linger(nullptr, answer.pieceDelayMs)) return;
            if (!SendAll(answer.body.data() + pos, n)) return;
            pos += n;
        }
        // Close gracefully: our end first, then wait for the client's, so that nothing it still
        // sends turns the close into a reset that could cost it the answer's last bytes.
        shutdown(m_socket, SD_SEND);
        const ULONGLONG start = GetTickCount64();
        char scratch[4096];
        for (ULONGLONG elapsed; (elapsed = Since(start)) < kDrainLimitMs;) {
            if (!WaitReady(false, kDrainLimitMs - elapsed)) break;
            const int n = recv(m_socket, scratch, sizeof scratch, 0);
            if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) break;
        }
    }

    TestService::Impl& m_service;
    SOCKET m_socket;
};

}  // namespace

TestService::Impl::Impl() {
    try {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
        m_winsock = true;
        m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!m_stop) throw std::runtime_error("CreateEvent failed");

        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_listener == INVALID_SOCKET) throw std::runtime_error("socket failed");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;  // an ephemeral port
        int length = sizeof address;
        u_long nonBlocking = 1;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listener, SOMAXCONN) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            ioctlsocket(m_listener, FIONBIO, &nonBlocking) != 0) {
            throw std::runtime_error("listening on 127.0.0.1 failed: " + std::to_string(WSAGetLastError()));
        }
        port = ntohs(address.sin_port);
        m_acceptThread = std::thread([this] {
            try {
                AcceptLoop();
            } catch (...) {
                // Nothing is accepted any more; the tests waiting for requests time out.
            }
        });
    } catch (...) {
        Shut();
        throw;
    }
}

void TestService::Impl::Shut() {
    if (m_stop) SetEvent(m_stop);
    if (m_acceptThread.joinable()) m_acceptThread.join();
    Reap(true);
    if (m_listener != INVALID_SOCKET) closesocket(m_listener);
    m_listener = INVALID_SOCKET;
    if (m_stop) CloseHandle(m_stop);
    m_stop = nullptr;
    if (m_winsock) WSACleanup();
    m_winsock = false;
}

void TestService::Impl::AcceptLoop() {
    while (!Stopping()) {
        Reap(false);
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_listener, &set);
        timeval slice{0, static_cast<long>(kSliceMs * 1000)};
        if (select(0, &set, nullptr, nullptr, &slice) <= 0) continue;
        const SOCKET socket = accept(m_listener, nullptr, nullptr);
        if (socket == INVALID_SOCKET) continue;
        u_long nonBlocking = 1;
        ioctlsocket(socket, FIONBIO, &nonBlocking);
        try {
            m_connections.push_back(std::make_unique<Connection>());
        } catch (...) {
            closesocket(socket);
            continue;
        }
        Connection* self = m_connections.back().get();
        try {
            self->thread = std::thread([this, socket, self] {
                try {
                    Exchange(*this, socket).Run();
                } catch (...) {
                    // Out of memory, most likely: the connection is dropped, the test sees that.
                }
                self->done = true;
            });
        } catch (...) {
            m_connections.pop_back();
            closesocket(socket);  // no thread took it
        }
    }
}

void TestService::Impl::Reap(bool all) {
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (all || (*it)->done) {
            if ((*it)->thread.joinable()) (*it)->thread.join();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
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
    } catch (const std::exception& e) {
        return SimpleAnswer(500, "Handler Failed", e.what());
    } catch (...) {
        return SimpleAnswer(500, "Handler Failed");
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

std::vector<ReceivedRequest> TestService::Requests() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->requests;
}

size_t TestService::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->requests.size();
}

bool TestService::WaitForRequests(size_t count, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return m_impl->requests.size() >= count; });
}

bool TestService::WaitForClientAbort(DWORD timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return m_impl->clientAborted; });
}

}  // namespace tarnix::test
