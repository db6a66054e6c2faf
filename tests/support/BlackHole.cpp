#include "BlackHole.h"

#include "Loopback.h"

#include <stdexcept>

namespace tarnix::test {

BlackHole::BlackHole() {
    // A queue of one: the first filler takes it, every later connection waits.
    sockaddr_in address;
    m_listener = ListenOnLoopback(0, address);
    if (m_listener == INVALID_SOCKET) throw std::runtime_error("listening on 127.0.0.1 failed");
    m_started = true;
    m_port = ntohs(address.sin_port);

    // Fillers connect without waiting until one of them is refused the queue for a while.
    for (int i = 0; i < 8; ++i) {
        SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (filler == INVALID_SOCKET) break;
        m_fillers.push_back(filler);
        u_long nonBlocking = 1;
        ioctlsocket(filler, FIONBIO, &nonBlocking);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fd_set written;
        FD_ZERO(&written);
        FD_SET(filler, &written);
        timeval wait{0, 300000};
        if (select(0, nullptr, &written, nullptr, &wait) == 0) return;  // still waiting: the queue is full
    }
    Close();
    throw std::runtime_error("the queue of the black hole did not fill");
}

BlackHole::~BlackHole() { Close(); }

void BlackHole::Close() noexcept {
    for (SOCKET filler : m_fillers) closesocket(filler);
    m_fillers.clear();
    if (m_listener != INVALID_SOCKET) closesocket(m_listener);
    if (m_started) WSACleanup();
    m_listener = INVALID_SOCKET;
    m_started = false;
}

}  // namespace tarnix::test
