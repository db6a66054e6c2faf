// A TCP listener on 127.0.0.1 at a port of the system's choosing, for the tests' own servers.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <memory>

namespace tarnix::test {

// Starts Winsock and listens with a queue of `backlog` at `address`; INVALID_SOCKET (and Winsock
// stopped) on failure, else the caller closes the socket and calls WSACleanup.
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

namespace detail {
inline DWORD WINAPI RunConnectionJob(void* argument) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(argument));
    try {
        (*job)();
    } catch (...) {  // nothing may leave a thread routine; the connection just ends
    }
    return 0;
}
}  // namespace detail

// Runs `job` on a Win32 thread nobody waits for; false if none could start. Not a detached
// std::thread: mingw-w64's winpthreads races the detach against the thread's start, which under
// load then runs with a freed argument.
inline bool RunOnOwnThread(std::function<void()> job) {
    auto* owned = new std::function<void()>(std::move(job));
    const HANDLE thread = CreateThread(nullptr, 0, &detail::RunConnectionJob, owned, 0, nullptr);
    if (thread == nullptr) {
        delete owned;
        return false;
    }
    CloseHandle(thread);
    return true;
}

}  // namespace tarnix::test
