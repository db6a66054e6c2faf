#include "BlackHole.h"

#include <stdexcept>

namespace tarnix::test {

BlackHole::BlackHole() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    m_started = true;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    // A queue of one: the first filler takes it, every later connection waits.
    if (m_listener == INVALID_SOCKET || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 0) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Close();
        throw std::runtime_error("listening on 127.0.0.1 failed");
    }
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
