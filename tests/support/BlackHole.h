// A port on 127.0.0.1 where a connection is never made: a listening socket whose accept queue is
// kept full and never read. The system drops the opening packet of a connection that finds the
// queue full, so a client trying to connect there waits (and retries) until it gives up: a
// server that never takes the connection, without leaving this machine.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <vector>

namespace tarnix::test {

class BlackHole {
public:
    BlackHole();  // throws std::runtime_error when the queue cannot be filled
    ~BlackHole();
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;

    unsigned short Port() const { return m_port; }

private:
    void Close() noexcept;

    bool m_started = false;
    SOCKET m_listener = INVALID_SOCKET;
    std::vector<SOCKET> m_fillers;  // the connections that fill the queue
    unsigned short m_port = 0;
};

}  // namespace tarnix::test
