// Clients that do not play by the rules, byte for byte on loopback: bodies past the limit
// however framed, heads that never end, ranges past the end, names that lead out of the files
// folder, addresses that name another host.
#include <zlib.h>

#include "TestSupport.h"

namespace tarnix::service::test {
namespace {

using Clock = std::chrono::steady_clock;
using HostileClientTest = ServiceTest;

std::string Chunked(const std::string& body) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", body.size());
    return size + body + "\r\n0\r\n\r\n";
}

std::string Deflated(const std::string& bytes) {
    std::string out(compressBound(bytes.size()), '\0');
    uLongf size = out.size();
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size(), 9);
    return out.substr(0, size);
}

// Bodies above the limit (100000 bytes here) are refused however they are framed, and heads
// with too many or too long headers, or without end; each connection is closed after its answer,
// and nothing refused is stored.
TEST_F(HostileClientTest, RequestsPastTheLimitsAreRefusedAndClosed) {
    auto ticket = Login("demo", "demo-pass");
    auto post = [](const std::string& framing, const std::string& ticket) {
        return "POST " + Absolute("op=oftcreate&siteid=4102&oftname=Big") + " HTTP/1.1\r\nHost: x\r\nCookie: ATT=" + ticket +
               ";\r\nContent-Type: " + kMultipart + "\r\n" + framing + "\r\n";
    };
    auto large = MultipartBody("0 HEAD\r\n" + std::string(500000, 'x'));
    auto deflated = Deflated(large);
    const std::string get = "GET /vft/gatekeeper.ashx?op=versioncompare HTTP/1.1\r\n";
    std::string manyHeaders, longHeaders;
    for (int i = 0; i < 100; ++i) manyHeaders += "X-Many-" + std::to_string(i) + ": 1\r\n";
    for (int i = 0; i < 20; ++i) longHeaders += "X-Long-" + std::to_string(i) + ": " + std::string(1000, 'l') + "\r\n";
    struct Case { const char* what; std::string request, result; } cases[] = {
        {"chunked", post("Transfer-Encoding: chunked\r\n", ticket) + Chunked(large), "800700DF"},
        {"up to the close", post("", ticket) + large, "800700DF"},
        {"chunked, a large part besides the file", post("Transfer-Encoding: chunked\r\n", ticket) +
             Chunked(Multipart({{"f2", std::string(500000, 'x')}, {"f1", "0 HEAD\r\n"}})), "800700DF"},
        {"compressed, larger once inflated",
         post("Content-Encoding: deflate\r\nContent-Length: " + std::to_string(deflated.size()) + "\r\n", ticket) + deflated,
         "800700DF"},
        // Refused before a byte of the body is sent.
        {"a Content-Length above the limit", post("Content-Length: 500000\r\n", ticket), "800700DF"},
        {"a forged ticket", post("Transfer-Encoding: chunked\r\n", std::string(64, 'f')), "800704DC"},
        {"within the limit, chunked", post("Transfer-Encoding: chunked\r\n", ticket) + Chunked(MultipartBody("0 HEAD\r\n")), "ok"},
        {"100 headers", get + manyHeaders + "\r\n", "80070057"},
        {"20 KB of headers", get + longHeaders + "\r\n", "80070057"},
        {"a request line without end", "GET /" + std::string(70000, 'a'), "(no answer)"},
    };
    for (const auto& c : cases) {
        auto answer = Exchange(port_, c.request, 2s);
        EXPECT_EQ(ResultOf(answer.bytes), c.result) << c.what;
        EXPECT_TRUE(answer.closed) << c.what;
        // The service reads on what the client still sends, so that no reset can cut its answer short.
        if (!answer.bytes.empty()) EXPECT_FALSE(answer.reset) << c.what;
    }
    EXPECT_EQ(FileNames(Data("trees")).size(), 2u);  // the seeded tree and the one within the limit
}

// Clients that send one header line every 200 ms and never end their heads are cut off at the
// head deadline, however many; stopping waits for no head still coming.
TEST_F(HostileClientTest, SlowHeadsCannotHoldTheService) {
    Start([](ServiceOptions& options) { options.connections.headTimeout = 600ms; options.connections.workers = 4; });
    const std::string line = "GET /vft/gatekeeper.ashx?op=versioncompare HTTP/1.1\r\n", more = "X-Slow: 1\r\n";
    std::vector<int> slow;
    for (int i = 0; i < 6; ++i) slow.push_back(Connect(port_));
    for (int socket : slow) send(socket, line.data(), line.size(), MSG_NOSIGNAL);
    std::thread other([&] {
        std::this_thread::sleep_for(100ms);
        auto start = Clock::now();
        EXPECT_EQ(Result(Get(Plain("op=versioncompare"))), "ok");
        EXPECT_LT(Clock::now() - start, 2s);
    });
    // An answer, or the end of the connection, cuts a client off; the others go on for 4 s.
    int cutOff = 0;
    char answer[512];
    for (auto start = Clock::now(); cutOff < 6 && Clock::now() - start < 4s; std::this_thread::sleep_for(200ms)) {
        cutOff = 0;
        for (int socket : slow)
            cutOff += send(socket, more.data(), more.size(), MSG_NOSIGNAL) < 0 || recv(socket, answer, sizeof answer, MSG_DONTWAIT) >= 0;
    }
    EXPECT_EQ(cutOff, 6);
    for (int socket : slow) close(socket);
    other.join();

    Start([](ServiceOptions& options) { options.connections.headTimeout = 5s; });
    for (int& socket : slow) socket = Connect(port_);
    std::this_thread::sleep_for(100ms);
    auto start = Clock::now();
    service_->Stop();
    EXPECT_LT(Clock::now() - start, 2s);
    for (int socket : slow) close(socket);
}

// Only a regular file directly in the files folder is served: no name leads out of it, no link
// is followed, no pipe is opened. Of it one byte range within the file is served (206), none
// past its end (416), and the whole file for several ranges.
TEST_F(HostileClientTest, ServedFilesAreRegularFilesOfTheFolderInOneRangeOrWhole) {
    auto files = Data("files");
    auto outside = data_.path / "outside.txt";
    WriteFile(outside, "not served");
    fs::create_symlink(outside, files / "link.txt");
    fs::create_directory(files / "folder.txt");
    ASSERT_EQ(mkfifo((files / "pipe.txt").c_str(), 0600), 0);
    std::string bytes;
    for (int i = 0; i < 1366; ++i) bytes += static_cast<char>('a' + i % 26);
    WriteFile(files / "page.txt", bytes);
    const std::string page = "/files/page.txt", missing = "not found\n";
    struct Case { std::string target, range; int status; std::string body, contentRange; } cases[] = {
        {"http://downloads.example/files/page.txt?v=2", "", 200, bytes, ""},
        {page, "bytes=999999-", 416, "", "bytes */1366"},
        {page, "bytes=-0", 416, "", "bytes */1366"},
        {page, "bytes=0-99", 206, bytes.substr(0, 100), "bytes 0-99/1366"},
        {page, "bytes=1300-99999", 206, bytes.substr(1300), "bytes 1300-1365/1366"},
        {page, "bytes=1300-", 206, bytes.substr(1300), "bytes 1300-1365/1366"},
        {page, "bytes=-100", 206, bytes.substr(1266), "bytes 1266-1365/1366"},
        {page, "bytes=0-9,20-29", 200, bytes, ""},
        {"/files/missing.txt", "", 404, missing, ""},       {"/files/..%2Ftarnix.db", "", 404, missing, ""},
        {"/tarnix.db", "", 404, missing, ""},               {"/files/" + outside.string(), "", 404, missing, ""},
        {"/files/link.txt", "", 404, missing, ""},          {"/files/folder.txt", "", 404, missing, ""},
        {"/files/pipe.txt", "", 404, missing, ""},
    };
    for (const auto& c : cases) {
        auto answer = Get(c.target, c.range.empty() ? httplib::Headers() : httplib::Headers{{"Range", c.range}});
        ASSERT_TRUE(answer) << c.target;
        EXPECT_EQ(std::to_string(answer->status) + " " + answer->get_header_value("Content-Range") + " " +
                      answer->get_header_value("Content-Length"),
                  std::to_string(c.status) + " " + c.contentRange + " " + std::to_string(c.body.size())) << c.target << c.range;
        EXPECT_EQ(answer->body, c.body) << c.target << c.range;
    }
    // Should a pipe have been opened, a writer lets it go, so that the service can stop.
    close(open((files / "pipe.txt").c_str(), O_RDWR | O_NONBLOCK));
}

// A download's address carries the caller's host only when it names this service, with a port
// of 1-65535; anything else gets the service's own address.
TEST_F(HostileClientTest, AddressesInAnswersNameThisService) {
    auto ticket = Login("demo", "demo-pass");
    ASSERT_EQ(Export(ticket, "77001"), "ok");
    const std::string query = "op=oftdownload&att=" + ticket + "&collectionid=77001";
    const std::string own = "http://127.0.0.1:" + std::to_string(port_) + "/files/";
    struct Case { std::string target, host, address; } cases[] = {
        {Plain(query), "127.0.0.1:" + std::to_string(port_), own},
        {Plain(query), "LocalHost:8080", "http://LocalHost:8080/files/"},
        {Absolute(query), "x", "http://trees.tarnix.example:80/files/"},
        {Plain(query), "evil.example:80", own},
        {Plain(query), "127.0.0.1:65536", own},
        {Plain(query), "127.0.0.1:0", own},
        {Plain(query), "127.0.0.1:80/x", own},
        {Plain(query), "demo@127.0.0.1", own},
        {Plain(query), "", own},
        {"http://evil.example:80/vft/gatekeeper.ashx?" + query, "127.0.0.1", own},
    };
    for (const auto& c : cases) {
        auto answer = Exchange(port_, "GET " + c.target + " HTTP/1.0\r\n" + (c.host.empty() ? "" : "Host: " + c.host + "\r\n") + "\r\n");
        auto address = ElementText(answer.bytes, "GEDCOMFile");
        EXPECT_EQ(address.substr(0, c.address.size()), c.address) << c.host << " " << c.target.substr(0, 20);
    }
}

}  // namespace
}  // namespace tarnix::service::test
