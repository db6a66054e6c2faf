#include "Connection.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnix::service {

namespace {

thread_local Connection* current = nullptr;

// The service listens on 127.0.0.1 only, so both ends are IPv4.
void AddressOf(int (*get)(int, sockaddr*, socklen_t*), int socket, std::string& ip, int& port) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    char text[INET_ADDRSTRLEN] = "";
    if (get(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.sin_family == AF_INET) {
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        port = ntohs(address.sin_port);
    }
    ip = text;
}

}  // namespace

Connection::Connection(int socket, const ConnectionLimits& limits, const std::atomic<int>& listener)
    : socket_(socket), limits_(limits), listener_(listener), headDeadline_(Clock::now() + limits.headTimeout) {}

Connection& Connection::Current() { return *current; }

void Connection::HeadRead(const httplib::Request& request) {
    inHead_ = false;
    // A request without Content-Length or Transfer-Encoding has no body, but httplib reads one
    // until the close for the methods that may carry one.
    bool bodyless = request.method == "GET" || request.method == "HEAD";
    bodyUnread_ = request.has_header("Transfer-Encoding") ||
                  (request.has_header("Content-Length") ? request.get_header_value("Content-Length") != "0" : !bodyless);
}

// Waits in short slices, so that a stopping server is seen within one of them.
bool Connection::WaitFor(short events, Clock::time_point deadline) const {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{socket_, events, 0};
        int ready = poll(&entry, 1, static_cast<int>(std::clamp<long long>(left, 0, 50)));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
        if (listener_ < 0 || left <= 0) return false;
    }
}

// Refills the buffer: the bytes received, 0 when the client has closed, -1 on a failure or
// when the wait is over.
ssize_t Connection::Fill() {
    auto deadline = inHead_ ? headDeadline_ : Clock::now() + limits_.ioTimeout;
    for (;;) {
        if (!WaitFor(POLLIN, deadline)) return -1;
        auto got = recv(socket_, buffer_, sizeof buffer_, MSG_DONTWAIT);
        if (got >= 0) {
            bufferStart_ = 0;
            bufferEnd_ = static_cast<std::size_t>(got);
            return got;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    }
}

ssize_t Connection::read(char* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t allowed = size;
    if (inHead_) {
        if (headBytes_ >= limits_.maxHeadBytes || headLines_ > limits_.maxHeaders + 1) return -1;
        allowed = std::min(size, limits_.maxHeadBytes - headBytes_);
    } else {
        allowed = std::min(size, limits_.maxBody - bodyBytes_);
    }
    if (bufferStart_ == bufferEnd_) {
        auto got = Fill();
        if (got <= 0) return got;
    }
    if (allowed == 0) {  // at the body limit: only the body's end (the close) may follow
        bodyTooLarge_ = true;
        return -1;
    }
    auto count = std::min(allowed, bufferEnd_ - bufferStart_);
    std::memcpy(data, buffer_ + bufferStart_, count);
    bufferStart_ += count;
    if (inHead_) {
        headBytes_ += count;
        headLines_ += static_cast<std::size_t>(std::count(data, data + count, '\n'));
    } else {
        bodyBytes_ += count;
    }
    return static_cast<ssize_t>(count);
}

ssize_t Connection::write(const char* data, std::size_t size) {
    for (;;) {
        auto sent = send(socket_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        answered_ = answered_ || sent > 0;
        if (sent >= 0) return sent;
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!WaitFor(POLLOUT, Clock::now() + limits_.ioTimeout)) return -1;
    }
}

bool Connection::is_readable() const {
    return bufferStart_ < bufferEnd_ || WaitFor(POLLIN, inHead_ ? headDeadline_ : Clock::now() + limits_.ioTimeout);
}

bool Connection::is_writable() const { return WaitFor(POLLOUT, Clock::now() + limits_.ioTimeout); }

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const { AddressOf(getpeername, socket_, ip, port); }

void Connection::get_local_ip_and_port(std::string& ip, int& port) const { AddressOf(getsockname, socket_, ip, port); }

void Connection::Close() {
    if (answered_ && (inHead_ || bodyUnread_)) {
        // Closing on unread bytes resets the connection, and the client could lose the answer
        // already sent: stop sending, and drop what still comes until the client closes.
        shutdown(socket_, SHUT_WR);
        auto until = Clock::now() + limits_.linger;
        while (WaitFor(POLLIN, until) && recv(socket_, buffer_, sizeof buffer_, MSG_DONTWAIT) > 0) {
        }
    }
    close(socket_);
}

GuardedServer::GuardedServer(const ConnectionLimits& limits) : limits_(limits) {
    new_task_queue = [workers = limits_.workers] { return new httplib::ThreadPool(workers); };
}

bool GuardedServer::process_and_close_socket(int socket) {
    Connection connection(socket, limits_, svr_sock_);
    current = &connection;
    bool closed = false;
    // httplib's own ranges are unsafe (lengths past the end, any number of ranges): the
    // handlers answer Range themselves.
    bool served = svr_sock_ >= 0 && process_request(connection, true, closed, [&](httplib::Request& request) {
                      connection.HeadRead(request);
                      request.ranges.clear();
                  });
    connection.Close();
    current = nullptr;
    return served;
}

}  // namespace tarnix::service
