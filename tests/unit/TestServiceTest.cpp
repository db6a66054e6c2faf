// The local HTTP service that the network tests stand on, driven through real WinINet.
#include <winsock2.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>

#include "ProxySetting.h"
#include "TestService.h"
#include "support/Handles.h"

namespace tarnix::test {
namespace {

constexpr char kHost[] = "svc.tarnix.example";
constexpr char kAgent[] = "TestServiceTest/1.0";
constexpr DWORD kWaitMs = 20000;  // only against hanging

// One WinINet exchange made the way the library makes them, step by step.
class Client {
public:
    explicit Client(const char* host = kHost) {
        m_session.reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (m_session) {
            m_connection.reset(InternetConnectA(m_session.get(), host, INTERNET_DEFAULT_HTTP_PORT,
                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
        }
    }

    // False with `error` set if WinINet failed.
    bool Send(const char* verb, const std::string& path, const std::string& headers = {},
              const std::string& body = {}) {
        const char* accept[] = {"*/*", nullptr};
        m_request.reset(HttpOpenRequestA(m_connection.get(), verb, path.c_str(), "HTTP/1.0", nullptr,
                                         accept, 0, 0));
        if (!m_request) return Failed();
        if (!HttpSendRequestA(m_request.get(), headers.empty() ? nullptr : headers.c_str(),
                              static_cast<DWORD>(headers.size()),
                              body.empty() ? nullptr : const_cast<char*>(body.data()),
                              static_cast<DWORD>(body.size())))
            return Failed();
        return true;
    }

    DWORD Status() {
        DWORD status = 0, size = sizeof status;
        HttpQueryInfoA(m_request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
        return status;
    }

    std::optional<std::string> ReplyHeader(const char* name) {
        char buffer[1024];
        lstrcpynA(buffer, name, sizeof buffer);
        DWORD size = sizeof buffer;
        if (!HttpQueryInfoA(m_request.get(), HTTP_QUERY_CUSTOM, buffer, &size, nullptr)) return std::nullopt;
        return std::string(buffer, size);
    }

    // Appends up to `count` body bytes to `out`, fewer if the body ends; false if a read failed.
    bool Read(std::string& out, size_t count = SIZE_MAX) {
        char block[4096];
        while (count > 0) {
            DWORD got = 0;
            if (!InternetReadFile(m_request.get(), block, static_cast<DWORD>(std::min(count, sizeof block)), &got))
                return Failed();
            if (got == 0) break;
            out.append(block, got);
            count -= got;
        }
        return true;
    }

    void Close() {
        m_request.reset();
        m_connection.reset();
        m_session.reset();
    }

    DWORD error = 0;

private:
    bool Failed() {
        error = GetLastError();
        return false;
    }

    UniqueInternetHandle m_session, m_connection, m_request;
};

// A body whose every byte value occurs, zeros and line ends included.
std::string BinaryBody(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return body;
}

// A bare Winsock client, for bytes that WinINet would not send and answers it would hide.
class RawClient {
public:
    explicit RawClient(unsigned short port) : m_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        const DWORD timeout = kWaitMs;
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        connected = connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { closesocket(m_socket); }

    bool Send(const std::string& bytes) {
        return send(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
    }
    // Everything until the service closes; `error` is the Winsock error that ended it, or 0.
    std::string ReceiveAll() {
        std::string all;
        char block[4096];
        for (int n; (n = recv(m_socket, block, sizeof block, 0)) != 0;) {
            if (n < 0) {
                error = WSAGetLastError();
                break;
            }
            all.append(block, n);
        }
        return all;
    }

    bool connected = false;
    int error = 0;

private:
    SOCKET m_socket;
};

TEST(TestService, RecordsAProxiedGetAsWinInetSendsIt) {
    TestService service;
    ProxySetting proxy(service.Port());
    service.On("op=ping", HttpAnswer{200, "OK", {{"X-Answer", "yes"}}, "pong"});

    Client client;
    const std::string path = "/vft/gatekeeper.ashx?op=ping&att=a%20b";
    ASSERT_TRUE(client.Send("GET", path)) << client.error;
    std::string body;
    ASSERT_TRUE(client.Read(body)) << client.error;
    EXPECT_EQ(200u, client.Status());
    EXPECT_EQ("yes", client.ReplyHeader("X-Answer").value_or("(none)"));
    EXPECT_EQ("pong", body);

    const auto requests = service.Requests();
    ASSERT_EQ(1u, requests.size());
    const ReceivedRequest& r = requests[0];
    // Wine's WinINet writes the port into a proxied target, and these three headers.
    EXPECT_EQ("GET http://svc.tarnix.example:80" + path + " HTTP/1.0\r\n"
              "Accept: */*\r\n"
              "Host: svc.tarnix.example\r\n"
              "User-Agent: " + std::string(kAgent) + "\r\n\r\n",
              r.raw);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ("GET http://svc.tarnix.example:80" + path + " HTTP/1.0", r.requestLine);
    EXPECT_EQ("http://svc.tarnix.example:80" + path, r.target);
    EXPECT_EQ("HTTP/1.0", r.version);
    EXPECT_EQ(path, r.Path());
    EXPECT_EQ(kHost, r.Host());
    const decltype(r.headers) expected = {{"Accept", "*/*"}, {"Host", kHost}, {"User-Agent", kAgent}};
    EXPECT_EQ(expected, r.headers);
    EXPECT_EQ("*/*", r.Header("ACCEPT"));
    EXPECT_EQ("", r.Header("X-Not-Sent"));
    EXPECT_EQ("", r.body);
}

TEST(TestService, RecordsAPostBodyByteForByteAndEchoesMegabytes) {
    TestService service;
    ProxySetting proxy(service.Port());
    service.On("op=echo", [](const ReceivedRequest& r) { return HttpAnswer{200, "OK", {}, r.body}; });

    const std::string sent = BinaryBody(3 * 1024 * 1024 + 17);
    Client client;
    ASSERT_TRUE(client.Send("POST", "/vft/gatekeeper.ashx?op=echo", "Cookie: att=t1\r\n", sent)) << client.error;
    std::string echoed;
    ASSERT_TRUE(client.Read(echoed)) << client.error;
    EXPECT_EQ(200u, client.Status());
    EXPECT_TRUE(echoed == sent) << "echoed " << echoed.size() << " of " << sent.size() << " bytes";

    ASSERT_EQ(1u, service.RequestCount());
    const ReceivedRequest r = service.Requests()[0];
    EXPECT_EQ("POST", r.method);
    EXPECT_EQ(std::to_string(sent.size()), r.Header("Content-Length"));
    EXPECT_EQ("att=t1", r.Header("cookie"));
    EXPECT_TRUE(r.body == sent) << "recorded " << r.body.size() << " bytes";
    EXPECT_EQ(r.raw.size() - sent.size(), r.raw.find("\r\n\r\n") + 4);
}

TEST(TestService, FirstMatchingRuleAnswersElseTheDefault) {
    TestService service;
    ProxySetting proxy(service.Port());
    service.On("op=a", HttpAnswer{200, "OK", {}, "A"});
    service.On("op=ab", HttpAnswer{200, "OK", {}, "AB"});  // never chosen: "op=a" matches first
    service.On("op=path", [](const ReceivedRequest& r) { return HttpAnswer{201, "Made", {}, r.Path()}; });

    struct Case {
        const char* path;
        bool changedDefault;
        DWORD status;
        const char* body;
    } cases[] = {
        {"/g?op=ab", false, 200, "A"},
        {"/g?op=path&x=1", false, 201, "/g?op=path&x=1"},
        {"/g?op=other", false, 404, ""},
        {"/g?op=other", true, 410, "gone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.changedDefault ? " (default changed)" : ""));
        if (c.changedDefault) service.SetDefault(HttpAnswer{410, "Gone", {}, "gone"});
        Client client;
        ASSERT_TRUE(client.Send("GET", c.path)) << client.error;
        std::string body;
        ASSERT_TRUE(client.Read(body)) << client.error;
        EXPECT_EQ(c.status, client.Status());
        EXPECT_EQ(c.body, body);
    }
    EXPECT_EQ(std::size(cases), service.RequestCount());
}

TEST(TestService, DeliversBodiesAsScripted) {
    const std::string body = BinaryBody(1000);
    struct Case {
        const char* name;
        HttpAnswer answer;
        std::string received;
        bool hasLength;
    } cases[] = {
        {"pieces", HttpAnswer{200, "OK", {}, body}, body, true},
        {"no length", HttpAnswer{200, "OK", {}, body}, body, false},
        {"dropped", HttpAnswer{200, "OK", {}, body}, body.substr(0, 300), true},
        {"dropped, no length", HttpAnswer{200, "OK", {}, body}, body.substr(0, 300), false},
    };
    cases[0].answer.pieceSize = 7;
    cases[0].answer.pieceDelayMs = 1;
    cases[1].answer.contentLength = false;
    cases[2].answer.dropAfter = 300;
    cases[3].answer.dropAfter = 300;
    cases[3].answer.contentLength = false;

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestService service;
        ProxySetting proxy(service.Port());
        service.SetDefault(c.answer);
        Client client;
        ASSERT_TRUE(client.Send("GET", "/file")) << client.error;
        std::string received;
        // WinINet ends a body cut short without an error, even when it fell short of the length.
        EXPECT_TRUE(client.Read(received)) << client.error;
        EXPECT_TRUE(received == c.received) << received.size() << " bytes";
        EXPECT_EQ(c.hasLength ? std::optional<std::string>("1000") : std::nullopt,
                  client.ReplyHeader("Content-Length"));
        client.Close();
        EXPECT_FALSE(service.WaitForClientAbort(0)) << "the client read everything it was sent";
    }
}

TEST(TestService, HoldsTheBodyUntilTheEventIsSet) {
    TestService service;
    ProxySetting proxy(service.Port());
    UniqueKernelHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HttpAnswer held{200, "OK", {}, "0123456789"};
    held.holdBeforeBody = release.get();
    held.holdAfterBytes = 4;
    service.SetDefault(held);

    Client client;
    ASSERT_TRUE(client.Send("GET", "/held")) << client.error;
    EXPECT_EQ(200u, client.Status());
    std::string received;
    ASSERT_TRUE(client.Read(received, 4)) << client.error;
    EXPECT_EQ("0123", received);
    SetEvent(release.get());
    ASSERT_TRUE(client.Read(received)) << client.error;
    EXPECT_EQ("0123456789", received);
}

// The service only counts an abort while it still has bytes to send, so these also show that
// the held and the slow body were still under way when the client read its first bytes.
TEST(TestService, SeesAClientThatGivesUpMidBody) {
    UniqueKernelHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HttpAnswer held{200, "OK", {}, "0123456789"};
    held.holdBeforeBody = never.get();
    held.holdAfterBytes = 4;
    HttpAnswer slow{200, "OK", {}, BinaryBody(100000)};
    slow.pieceSize = 4;
    slow.pieceDelayMs = 50;
    for (const auto& [name, answer] : {std::make_pair("held", held), std::make_pair("slow", slow)}) {
        SCOPED_TRACE(name);
        TestService service;
        ProxySetting proxy(service.Port());
        service.SetDefault(answer);
        Client client;
        ASSERT_TRUE(client.Send("GET", "/big")) << client.error;
        std::string received;
        ASSERT_TRUE(client.Read(received, 4)) << client.error;
        EXPECT_EQ(answer.body.substr(0, 4), received);
        EXPECT_FALSE(service.WaitForClientAbort(0));
        client.Close();
        EXPECT_TRUE(service.WaitForClientAbort(kWaitMs));
    }
}

TEST(TestService, AnswersTwoClientsAtOnce) {
    TestService service;
    ProxySetting proxy(service.Port());
    // Each answer waits until both requests are in: a service that served one connection at a
    // time would answer "alone".
    service.On("op=pair", [&service](const ReceivedRequest&) {
        return HttpAnswer{200, "OK", {}, service.WaitForRequests(2, kWaitMs) ? "together" : "alone"};
    });
    std::string bodies[2];
    std::thread clients[2];
    for (int i = 0; i < 2; ++i) {
        clients[i] = std::thread([&bodies, i] {
            Client client;
            if (client.Send("GET", "/g?op=pair&n=" + std::to_string(i))) client.Read(bodies[i]);
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ("together", bodies[0]);
    EXPECT_EQ("together", bodies[1]);
}

TEST(TestService, AnswersRawClientsOnTheWire) {
    struct Case {
        const char* name;
        std::string sent;
        std::string expectedAnswer;
        bool complete;
        const char* path;
        const char* host;
    } cases[] = {
        {"bare line ends", "GET /x HTTP/1.0\nHost: h.example:81\n\n",
         "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", true, "/x", "h.example"},
        {"absolute target", "GET HTTP://a.example:8080?q=1 HTTP/1.0\r\nHost: other\r\n\r\n",
         "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", true, "/?q=1", "a.example"},
        {"bad length", "POST /x HTTP/1.0\r\nContent-Length: 12x\r\n\r\n",
         "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", false, "/x", ""},
        {"body cut short", "POST /y HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc", "", false, "/y", ""},
    };
    TestService service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = service.RequestCount();
        {
            RawClient raw(service.Port());
            ASSERT_TRUE(raw.connected);
            ASSERT_TRUE(raw.Send(c.sent));
            if (c.complete || !c.expectedAnswer.empty()) {
                EXPECT_EQ(c.expectedAnswer, raw.ReceiveAll());
                EXPECT_EQ(0, raw.error);
            }
        }
        ASSERT_TRUE(service.WaitForRequests(before + 1, kWaitMs));
        const ReceivedRequest r = service.Requests().back();
        EXPECT_EQ(c.sent, r.raw);
        EXPECT_EQ(c.complete, r.complete);
        EXPECT_EQ(c.path, r.Path());
        EXPECT_EQ(c.host, r.Host());
    }
}

TEST(TestService, StopsWhileAClientIsStillSending) {
    auto service = std::make_unique<TestService>();
    RawClient raw(service->Port());
    ASSERT_TRUE(raw.connected);
    ASSERT_TRUE(raw.Send("GET /never-finished HTTP/1.0\r\n"));
    service.reset();  // must not wait for the rest of the head
    // Closed or reset, depending on how far the service had read; not left open.
    EXPECT_EQ("", raw.ReceiveAll());
    EXPECT_NE(WSAETIMEDOUT, raw.error);
}

// Keeps the prefix's own proxy setting out of reach of the cases below and puts it back after.
TEST(ProxySetting, PutsBackTheEarlierValuesOrTheirAbsence) {
    const ProxySetting untouched = ProxySetting::Off();
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, ProxySetting::kKey, 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()));
    auto read = [&](const char* name) {
        char data[256] = {};
        DWORD type = 0, size = sizeof data;
        if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != 0)
            return std::string("absent");
        return type == REG_DWORD ? "dword " + std::to_string(*reinterpret_cast<DWORD*>(data))
                                 : "sz " + std::string(data);
    };
    const DWORD zero = 0;
    const char server[] = "10.1.2.3:9";

    for (bool earlierValues : {false, true}) {
        SCOPED_TRACE(earlierValues ? "earlier values" : "no earlier values");
        RegDeleteValueA(key.get(), "ProxyEnable");
        RegDeleteValueA(key.get(), "ProxyServer");
        if (earlierValues) {
            RegSetValueExA(key.get(), "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
            RegSetValueExA(key.get(), "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server), sizeof server);
        }
        const std::string enableBefore = read("ProxyEnable"), serverBefore = read("ProxyServer");
        {
            ProxySetting proxy(4321);
            EXPECT_EQ("dword 1", read("ProxyEnable"));
            EXPECT_EQ("sz 127.0.0.1:4321", read("ProxyServer"));
        }
        EXPECT_EQ(enableBefore, read("ProxyEnable"));
        EXPECT_EQ(serverBefore, read("ProxyServer"));
    }
}

TEST(ProxySetting, OffLeavesNamesToTheResolver) {
    TestService service;
    const char* host = "svc.tarnix.invalid";
    {
        ProxySetting proxy(service.Port());
        Client client(host);
        EXPECT_TRUE(client.Send("GET", "/")) << client.error;
    }
    {
        const ProxySetting off = ProxySetting::Off();
        Client client(host);
        EXPECT_FALSE(client.Send("GET", "/"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED), client.error);
    }
    EXPECT_EQ(1u, service.RequestCount());
}

}  // namespace
}  // namespace tarnix::test
