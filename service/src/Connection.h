// How requests are read. httplib parses them; this layer decides how much it gets and for how
// long. Each connection serves one request on a worker of its own; the request's head (request
// line and headers) must come whole within a deadline and a size; its body may not pass the
// limit, however it is framed; and every wait ends as soon as the server stops.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include <httplib.h>

namespace tarnix::service {

struct ConnectionLimits {
    std::chrono::milliseconds headTimeout{10000};  // from the connection's start to its head's end
    std::size_t maxHeadBytes = 16 * 1024;          // request line and headers together
    std::size_t maxHeaders = 64;
    std::size_t maxBody = 64 * 1024 * 1024;        // bytes after the head, chunk framing included
    std::chrono::milliseconds ioTimeout{5000};     // each wait for more of a body, or for the client to take the answer
    std::chrono::milliseconds linger{5000};        // reading on (and dropping) a body left unread by the answer
    std::size_t workers = 64;
};

class Connection final : public httplib::Stream {
public:
    Connection(int socket, const ConnectionLimits& limits, const std::atomic<int>& listener);
    // The connection that this thread serves, for the request's handlers.
    static Connection& Current();

    void HeadRead(const httplib::Request& request);  // what follows is the body, if any
    void BodyRead() { bodyUnread_ = false; }          // the handler has taken the whole body
    bool BodyTooLarge() const { return bodyTooLarge_; }
    void Close();

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* data, std::size_t size) override;
    ssize_t write(const char* data, std::size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    int socket() const override { return socket_; }

private:
    using Clock = std::chrono::steady_clock;
    bool WaitFor(short events, Clock::time_point deadline) const;
    ssize_t Fill();

    int socket_;
    const ConnectionLimits& limits_;
    const std::atomic<int>& listener_;  // the server's listening socket; -1 once it stops
    Clock::time_point headDeadline_;
    bool inHead_ = true, bodyUnread_ = false, bodyTooLarge_ = false, answered_ = false;
    std::size_t headBytes_ = 0, headLines_ = 0, bodyBytes_ = 0;
    char buffer_[4096];
    std::size_t bufferStart_ = 0, bufferEnd_ = 0;
};

// An httplib server whose connections go through Connection, on a pool of `workers` threads.
class GuardedServer : public httplib::Server {
public:
    explicit GuardedServer(const ConnectionLimits& limits);

private:
    bool process_and_close_socket(int socket) override;
    ConnectionLimits limits_;
};

}  // namespace tarnix::service
