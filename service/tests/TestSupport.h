// A service running in this process on a free port of 127.0.0.1, with its own data folder, a
// clock the test moves, and its log lines kept; plus requests formed as the library forms them.
#pragma once

#include <filesystem>

#include <gtest/gtest.h>
#include <httplib.h>  // and with it the sockets, threads, locks and streams used here

#include "Service.h"

namespace tarnix::service::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tarnix-service-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() { std::error_code ignored; fs::remove_all(path, ignored); }
};

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::set<std::string> FileNames(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

// Parts as the library's upload sends its one part "f1": named by the encoded local path.
inline const std::string kBoundary = "----------------------------839J39AIFUE93CK";
inline const std::string kMultipart = "multipart/form-data; boundary=" + kBoundary;
inline std::string Multipart(const std::vector<std::pair<std::string, std::string>>& parts) {
    std::string body;
    for (const auto& [name, bytes] : parts)
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                "\"; filename=\"C%3a%5cMy%20Trees%5ca.ged\"\r\nContent-Type: text/plain\r\n\r\n" + bytes + "\r\n";
    return body + "--" + kBoundary + "--\r\n";
}
inline std::string MultipartBody(const std::string& file) { return Multipart({{"f1", file}}); }

// The text of the first `element` in an answer.
inline std::string ElementText(const std::string& body, const std::string& element) {
    auto start = body.find("<" + element + ">");
    if (start == std::string::npos) return "(no " + element + ")";
    start += element.size() + 2;
    return body.substr(start, body.find("</" + element + ">", start) - start);
}

// "ok" or the hresult of a gatekeeper answer.
inline std::string ResultOf(const std::string& body) {
    if (body.find("<ok/>") != std::string::npos) return "ok";
    if (body.find("<hresult>") != std::string::npos) return ElementText(body, "hresult");
    return "(no answer)";
}
inline std::string Result(const httplib::Result& answer) {
    if (!answer) return "(no answer)";
    return answer->status == 200 ? ResultOf(answer->body) : "(status " + std::to_string(answer->status) + ")";
}

inline int Connect(int port) {
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "cannot connect";
    return socket;
}

// A request sent byte for byte on a connection of its own, and what came back until the
// service closed it (`closed`: with its end, or with a `reset`) or `wait` was over.
struct RawAnswer { std::string bytes; bool closed = false, reset = false; };
inline RawAnswer Exchange(int port, const std::string& request, std::chrono::milliseconds wait = 5s) {
    int socket = Connect(port);
    timeval timeout{wait.count() / 1000, static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    // The service may answer (and stop reading) before the request is all sent.
    std::thread sender([&] { send(socket, request.data(), request.size(), MSG_NOSIGNAL); });
    RawAnswer answer;
    char block[65536];
    ssize_t got;
    while ((got = recv(socket, block, sizeof block, 0)) > 0) answer.bytes.append(block, static_cast<std::size_t>(got));
    answer.reset = got < 0 && errno == ECONNRESET;
    answer.closed = got == 0 || answer.reset;
    shutdown(socket, SHUT_RDWR);  // ends a sender still waiting
    sender.join();
    close(socket);
    return answer;
}

// A small family: 2 generations of Ashdown in Leeds with a spouse from York, and an unrelated
// Ashdown in Hull whose birth date is a range.
inline const char* const kSmallFamily = "0 HEAD\r\n1 CHAR UTF-8\r\n"
    "0 @P1@ INDI\r\n1 NAME Walter /Ashdown/\r\n1 BIRT\r\n2 DATE 3 APR 1850\r\n2 PLAC Leeds, Yorkshire, England\r\n"
    "1 DEAT\r\n2 DATE 1911\r\n2 PLAC Leeds, Yorkshire, England\r\n1 FAMS @F1@\r\n"
    "0 @P2@ INDI\r\n1 NAME Ellen Mary /Birch/\r\n1 FAMS @F1@\r\n1 BIRT\r\n2 DATE 1852\r\n2 PLAC York, Yorkshire, England\r\n"
    "0 @P3@ INDI\r\n1 NAME Arthur Walter /Ashdown/\r\n1 FAMC @F1@\r\n1 BIRT\r\n2 DATE 1875\r\n2 PLAC Leeds, England\r\n"
    "0 @P4@ INDI\r\n1 NAME Rose /Ashdown/\r\n1 CHR\r\n2 DATE 1878\r\n2 PLAC Leeds, Yorkshire, England\r\n"
    "1 BURI\r\n2 DATE 1880\r\n1 FAMC @F1@\r\n"
    "0 @P5@ INDI\r\n1 NAME George /Ashdown/\r\n1 BIRT\r\n2 DATE BET 1848 AND 1851\r\n2 PLAC Hull, Yorkshire, England\r\n"
    "0 @F1@ FAM\r\n1 HUSB @P1@\r\n1 WIFE @P2@\r\n1 CHIL @P3@\r\n1 CHIL @P4@\r\n0 TRLR\r\n";

// The demo user owns site 4101 with tree 77001 (the small family, public) and the empty site 4102.
class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    // (Re)starts the service on the same data folder; `adjust` changes the tests' options.
    void Start(const std::function<void(ServiceOptions&)>& adjust = nullptr) {
        service_.reset();
        ServiceOptions options;
        options.gatekeeper.dataDir = data_.path / "data";
        options.gatekeeper.recordsDir = data_.path / "records";
        options.gatekeeper.exeVersion = "7.2.16";
        options.gatekeeper.tarnixVersion = "1.4.2";
        options.gatekeeper.hashIterations = 1000;
        options.gatekeeper.clock = [this] { return now_.load(); };
        options.connections.maxBody = 100000;
        options.connections.linger = 200ms;
        options.log = [this](const std::string& line) { std::lock_guard<std::mutex> lock(logMutex_); log_.push_back(line); };
        if (adjust) adjust(options);
        service_ = std::make_unique<Service>(options);
        WriteFile(data_.path / "family.ged", kSmallFamily);
        service_->gatekeeper().SeedDemo(data_.path / "family.ged");
        port_ = service_->Start(0);
    }

    fs::path Data(const std::string& name = "") { return data_.path / "data" / name; }
    // Gatekeeper targets: the absolute form that a proxy receives, and the plain path.
    static std::string Absolute(const std::string& query) { return "http://trees.tarnix.example:80" + Plain(query); }
    static std::string Plain(const std::string& query) { return "/vft/gatekeeper.ashx?" + query; }
    httplib::Client Client() {
        httplib::Client client("127.0.0.1", port_);
        client.set_url_encode(false);
        client.set_read_timeout(5, 0);  // a service that holds an answer fails the test, in bounded time
        return client;
    }
    httplib::Result Get(const std::string& target, const httplib::Headers& headers = {}) {
        return Client().Get(target.c_str(), headers);
    }
    std::string Body(const std::string& target) { auto answer = Get(target); return answer ? answer->body : "(no answer)"; }
    std::string Ask(const std::string& query) { return Result(Get(Absolute(query))); }
    // A POST as the library's upload sends it: the ticket in the cookie.
    httplib::Result Post(const std::string& query, const std::string& ticket, const std::string& body,
                         const std::string& type = kMultipart) {
        return Client().Post(Absolute(query).c_str(), {{"Cookie", "ATT=" + ticket + ";"}}, body, type.c_str());
    }
    httplib::Result Upload(const std::string& query, const std::string& ticket, const std::string& file) {
        return Post(query, ticket, MultipartBody(file));
    }
    std::string Login(const std::string& user, const std::string& password) {
        auto answer = Get(Absolute("op=apilogin&username=" + user + "&password=" + password));
        EXPECT_EQ(Result(answer), "ok");
        return answer ? ElementText(answer->body, "ATT") : std::string();
    }
    std::string Export(const std::string& ticket, const std::string& tree) {
        return Ask("op=oftexport&att=" + ticket + "&collectionid=" + tree);
    }
    // The export's address, or the result.
    std::string Download(const std::string& ticket, const std::string& tree) {
        auto answer = Get(Absolute("op=oftdownload&att=" + ticket + "&collectionid=" + tree + "&cobrand=x"));
        return Result(answer) == "ok" ? ElementText(answer->body, "GEDCOMFile") : Result(answer);
    }
    std::string DownloadStatus(const std::string& ticket, const std::string& tree) {
        auto list = Body(Absolute("op=oftlist&att=" + ticket + "&cobrand=x%20y"));
        auto row = list.find("<CollectionID>" + tree + "</CollectionID>");
        return row == std::string::npos ? "(no tree)" : ElementText(list.substr(row), "DownloadStatus");
    }
    std::vector<std::string> LogLines() { std::lock_guard<std::mutex> lock(logMutex_); return log_; }

    // The service goes first: its threads use the clock and the log.
    TempDir data_;
    std::atomic<std::int64_t> now_{1700000000};
    std::mutex logMutex_;
    std::vector<std::string> log_;
    std::unique_ptr<Service> service_;
    int port_ = 0;
};

}  // namespace tarnix::service::test
