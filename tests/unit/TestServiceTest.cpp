// The local HTTP service seen byte for byte from a bare Winsock client, and the proxy switch. The
// library's network tests drive both through WinINet; this covers what WinINet hides.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "ProxySetting.h"
#include "TestService.h"
#include "support/Handles.h"

namespace tarnix::test {
namespace {

constexpr DWORD kWaitMs = 20000;  // only against hanging

// Connects and sends `request`; a failure on the way shows as a missing answer.
class RawClient {
public:
    RawClient(unsigned short port, const std::string& request) : m_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        sockaddr_in address{AF_INET, htons(port)};
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const DWORD timeout = kWaitMs;
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        if (connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            send(m_socket, request.data(), static_cast<int>(request.size()), 0);
    }
    ~RawClient() { Close(); }
    // Up to `count` bytes, fewer if the service closes first.
    std::string Receive(size_t count = SIZE_MAX) {
        std::string all;
        char block[4096];
        for (int n; all.size() < count && (n = recv(m_socket, block, int(std::min(count - all.size(), sizeof block)), 0)) > 0;)
            all.append(block, n);
        return all;
    }
    void Close() { closesocket(std::exchange(m_socket, INVALID_SOCKET)); }

private:
    SOCKET m_socket;
};

std::string Head(const char* status, size_t length) {
    return "HTTP/1.0 " + std::string(status) + "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
}

TEST(TestService, AnswersAndRecordsRawClientsByteForByte) {
    std::string body(300000, '\0');  // every byte value, "\r\n\r\n" included
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
    const struct { const char* name; std::string sent, received; bool complete; } cases[] = {
        {"echoed post", "POST /echo HTTP/1.0\r\nContent-Length: 300000\r\n\r\n" + body,
         "HTTP/1.0 201 Made\r\nX-Answer: yes\r\nContent-Length: 300000\r\nConnection: close\r\n\r\n" + body, true},
        {"pieces, no length, cut", "GET /cut HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n01234567", true},
        {"no rule, bare line ends", "GET /x HTTP/1.0\nHost: h\n\n", Head("404 Not Found", 0), true},
        {"bad length", "POST /x HTTP/1.0\r\nContent-Length: 12x\r\n\r\n", Head("400 Bad Request", 0), false},
        {"body cut short", "POST /y HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc", "", false},
    };
    TestService service;
    service.On("/echo", [](const ReceivedRequest& r) { return HttpAnswer{201, "Made", {{"X-Answer", "yes"}}, r.body}; });
    // No Content-Length, pieces of 3 bytes 1 ms apart, closed after 8 bytes.
    service.On("/cut", HttpAnswer{200, "OK", {}, "0123456789", false, 3, 1, 8});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = service.RequestCount();
        RawClient raw(service.Port(), c.sent);
        if (c.received.empty()) raw.Close();  // expecting no answer, the client goes away
        EXPECT_TRUE(raw.Receive() == c.received) << "the answer differs";
        ASSERT_TRUE(service.WaitForRequests(before + 1, kWaitMs));
        const ReceivedRequest r = service.Requests().back();
        EXPECT_TRUE(r.raw == c.sent) << "recorded " << r.raw.size() << " of " << c.sent.size() << " bytes";
        EXPECT_EQ(c.complete, r.complete);
    }
    EXPECT_FALSE(service.WaitForClientAbort(0)) << "every client read its whole answer";
}

// An abort counts only while the service still has bytes to send, so a seen abort also shows that
// the body was still held. A second connection is answered meanwhile.
TEST(TestService, HoldsTheBodyAndSeesAClientThatGivesUp) {
    for (bool released : {true, false}) {
        SCOPED_TRACE(released ? "released" : "the client closes");
        UniqueKernelHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        HttpAnswer answer{200, "OK", {}, "0123456789"};  // small: unheld, it would all be sent at once
        answer.holdBeforeBody = release.get();
        answer.holdAfterBytes = 4;
        TestService service;
        service.SetDefault(answer);
        service.On("/other", HttpAnswer{200, "OK", {}, "other"});
        RawClient raw(service.Port(), "GET /big HTTP/1.0\r\n\r\n");
        const std::string head = Head("200 OK", 10);
        EXPECT_EQ(head + "0123", raw.Receive(head.size() + 4));
        RawClient other(service.Port(), "GET /other HTTP/1.0\r\n\r\n");
        EXPECT_EQ(Head("200 OK", 5) + "other", other.Receive());
        EXPECT_FALSE(service.WaitForClientAbort(0));
        if (released) {
            SetEvent(release.get());
            EXPECT_EQ("456789", raw.Receive());
        } else {
            raw.Close();
            EXPECT_TRUE(service.WaitForClientAbort(kWaitMs));
        }
    }
}

TEST(ProxySetting, PutsBackTheEarlierValuesOrTheirAbsence) {
    const ProxySetting untouched = ProxySetting::Off();  // the prefix's own setting comes back after
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, ProxySetting::kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()));
    auto read = [&] {  // both values: type and bytes, or "absent"
        std::string all;
        for (const char* name : {"ProxyEnable", "ProxyServer"}) {
            char data[256];
            DWORD type = 0, size = sizeof data;
            all += RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size)
                       ? "absent;" : std::to_string(type) + ":" + std::string(data, size) + ";";
        }
        return all;
    };
    for (bool earlier : {false, true}) {
        SCOPED_TRACE(earlier ? "earlier values" : "no earlier values");
        RegDeleteValueA(key.get(), "ProxyEnable");
        RegDeleteValueA(key.get(), "ProxyServer");
        if (earlier) {
            RegSetValueExA(key.get(), "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\0\0\0\0"), 4);
            RegSetValueExA(key.get(), "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>("10.1.2.3:9"), 11);
        }
        const std::string before = read();
        EXPECT_EQ(earlier, before != "absent;absent;");
        {
            ProxySetting proxy(4321);
            const char set[] = "4:\1\0\0\0;1:127.0.0.1:4321\0;";  // REG_DWORD 1; REG_SZ with its terminator
            EXPECT_EQ(std::string(set, sizeof set - 1), read());
        }
        EXPECT_EQ(before, read());
    }
}

}  // namespace
}  // namespace tarnix::test
