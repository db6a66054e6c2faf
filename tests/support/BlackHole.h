// A port on 127.0.0.1 where a connect never completes: a listener whose accept queue is kept full.
// The system drops the opening packet of a connection that finds it full, so the client retries
// until it gives up.
#pragma once

#include "Loopback.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace tarnix::test {

class BlackHole {
public:
    BlackHole() {  // throws std::runtime_error when the queue cannot be filled
        sockaddr_in address;
        m_listener = ListenOnLoopback(0, address);
        if (m_listener == INVALID_SOCKET) throw std::runtime_error("listening on 127.0.0.1 failed");
        m_port = ntohs(address.sin_port);
        // Fillers connect until one of them waits: the queue is full.
        for (int i = 0; i < 8; ++i) {
            const SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            if (filler == INVALID_SOCKET) break;
            m_fillers.push_back(filler);
            u_long nonBlocking = 1;
            ioctlsocket(filler, FIONBIO, &nonBlocking);
            connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fd_set written;
            FD_ZERO(&written);
            FD_SET(filler, &written);
            timeval wait{0, 300000};
            if (select(0, nullptr, &written, nullptr, &wait) == 0) return;
        }
        Close();
        throw std::runtime_error("the queue of the black hole did not fill");
    }
    ~BlackHole() { Close(); }
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;

    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    unsigned short Port() const { return m_port; }

private:
    void Close() noexcept {
        for (SOCKET filler : m_fillers) closesocket(filler);
        closesocket(m_listener);
        WSACleanup();
    }

    SOCKET m_listener = INVALID_SOCKET;
    std::vector<SOCKET> m_fillers;
    unsigned short m_port = 0;
};

}  // namespace tarnix::test
