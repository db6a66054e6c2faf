// A TCP listener on 127.0.0.1 at a port of the system's choosing, for the tests' own servers.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace tarnix::test {

// Starts Winsock and listens with a queue of `backlog`, `address` telling where. On failure
// returns INVALID_SOCKET with Winsock stopped again; otherwise the caller closes the socket and
// calls WSACleanup.
inline SOCKET ListenOnLoopback(int backlog, sockaddr_in& address) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return INVALID_SOCKET;
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener != INVALID_SOCKET && bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener, backlog) == 0 && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        return listener;
    if (listener != INVALID_SOCKET) closesocket(listener);
    WSACleanup();
    return INVALID_SOCKET;
}

}  // namespace tarnix::test
