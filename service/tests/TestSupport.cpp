#include "TestSupport.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tarnix::service::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tarnix-service-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::string MultipartBody(const std::string& encodedPath, const std::string& bytes) {
    return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"f1\"; filename=\"" +
           encodedPath + "\"\r\nContent-Type: text/plain\r\n\r\n" + bytes + "\r\n--" + kBoundary + "--\r\n";
}

std::string ElementText(const std::string& body, const std::string& element) {
    auto start = body.find("<" + element + ">");
    if (start == std::string::npos) return "(no " + element + ")";
    start += element.size() + 2;
    return body.substr(start, body.find("</" + element + ">", start) - start);
}

std::string Result(const httplib::Result& answer) {
    if (!answer) return "(no answer)";
    if (answer->status != 200) return "(status " + std::to_string(answer->status) + ")";
    return RawAnswer{answer->body}.Result();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> FileNames(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

std::string RawAnswer::Result() const {
    if (bytes.find("<ok/>") != std::string::npos) return "ok";
    if (bytes.find("<hresult>") != std::string::npos) return ElementText(bytes, "hresult");
    return "(no answer)";
}

int Connect(int port) {
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "cannot connect";
    return socket;
}

RawAnswer Exchange(int port, const std::string& request, std::chrono::milliseconds wait) {
    int socket = Connect(port);
    timeval timeout{wait.count() / 1000, static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    // The service may answer (and stop reading) before the request is all sent.
    std::thread sender([&] { send(socket, request.data(), request.size(), MSG_NOSIGNAL); });
    RawAnswer answer;
    char block[65536];
    ssize_t got;
    while ((got = recv(socket, block, sizeof block, 0)) > 0) answer.bytes.append(block, static_cast<std::size_t>(got));
    answer.closed = got == 0 || errno == ECONNRESET;
    shutdown(socket, SHUT_RDWR);  // ends a sender still waiting
    sender.join();
    close(socket);
    return answer;
}

void ServiceTest::Start(const std::function<void(ServiceOptions&)>& adjust) {
    service_.reset();
    ServiceOptions options;
    options.gatekeeper.dataDir = data_.path / "data";
    options.gatekeeper.recordsDir = data_.path / "records";
    options.gatekeeper.ticketLifetime = 600;
    options.gatekeeper.exeVersion = "7.2.16";
    options.gatekeeper.webctlVersion = "3.1.0";
    options.gatekeeper.tarnixVersion = "1.4.2";
    options.gatekeeper.hashIterations = 1000;
    options.gatekeeper.clock = [this] { return now_.load(); };
    options.connections.maxBody = 1 << 20;
    options.connections.linger = std::chrono::milliseconds(200);
    options.log = [this](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex_);
        log_.push_back(line);
    };
    if (adjust) adjust(options);
    service_ = std::make_unique<Service>(options);
    WriteFile(data_.path / "family.ged", kSmallFamily);
    service_->gatekeeper().SeedDemo(data_.path / "family.ged");
    port_ = service_->Start(0);
}

std::string ServiceTest::Absolute(const std::string& query) {
    return "http://trees.tarnix.example:80/vft/gatekeeper.ashx?" + query;
}

std::string ServiceTest::Plain(const std::string& query) { return "/vft/gatekeeper.ashx?" + query; }

httplib::Result ServiceTest::Get(const std::string& target, const httplib::Headers& headers) {
    httplib::Client client("127.0.0.1", port_);
    client.set_url_encode(false);
    return client.Get(target.c_str(), headers);
}

httplib::Result ServiceTest::Upload(const std::string& query, const std::string& ticket, const std::string& bytes) {
    httplib::Client client("127.0.0.1", port_);
    client.set_url_encode(false);
    httplib::Headers headers{{"Cookie", "ATT=" + ticket + ";"},
                             {"User-Agent", "Mozilla/4.0 (compatible; MSIE 4.01; Windows NT)"}};
    return client.Post(Absolute(query).c_str(), headers, MultipartBody("C%3a%5cMy%20Trees%5ca.ged", bytes),
                       std::string("multipart/form-data; boundary=") + kBoundary);
}

std::string ServiceTest::Login(const std::string& user, const std::string& password) {
    auto answer = Get(Absolute("op=apilogin&username=" + user + "&password=" + password));
    EXPECT_EQ(Result(answer), "ok");
    return answer ? ElementText(answer->body, "ATT") : std::string();
}

std::string ServiceTest::Export(const std::string& ticket, const std::string& tree) {
    return Result(Get(Absolute("op=oftexport&att=" + ticket + "&collectionid=" + tree + "&cobrand=x")));
}

std::string ServiceTest::Download(const std::string& ticket, const std::string& tree) {
    auto answer = Get(Absolute("op=oftdownload&att=" + ticket + "&collectionid=" + tree + "&cobrand=x"));
    return Result(answer) == "ok" ? ElementText(answer->body, "GEDCOMFile") : Result(answer);
}

std::vector<std::string> ServiceTest::LogLines() {
    std::lock_guard<std::mutex> lock(logMutex_);
    return log_;
}

const char* const kSmallFamily =
    "0 HEAD\r\n1 CHAR UTF-8\r\n"
    "0 @P1@ INDI\r\n1 NAME Walter /Ashdown/\r\n1 BIRT\r\n2 DATE 3 APR 1850\r\n2 PLAC Leeds, Yorkshire, England\r\n"
    "1 DEAT\r\n2 DATE 1911\r\n2 PLAC Leeds, Yorkshire, England\r\n1 FAMS @F1@\r\n"
    "0 @P2@ INDI\r\n1 NAME Ellen Mary /Birch/\r\n1 BIRT\r\n2 DATE 1852\r\n2 PLAC York, Yorkshire, England\r\n"
    "1 FAMS @F1@\r\n"
    "0 @P3@ INDI\r\n1 NAME Arthur Walter /Ashdown/\r\n1 BIRT\r\n2 DATE 1875\r\n2 PLAC Leeds, Yorkshire, England\r\n"
    "1 FAMC @F1@\r\n"
    "0 @P4@ INDI\r\n1 NAME Rose /Ashdown/\r\n1 CHR\r\n2 DATE 1878\r\n2 PLAC Leeds, Yorkshire, England\r\n"
    "1 BURI\r\n2 DATE 1880\r\n1 FAMC @F1@\r\n"
    "0 @P5@ INDI\r\n1 NAME George /Ashdown/\r\n1 BIRT\r\n2 DATE BET 1848 AND 1851\r\n2 PLAC Hull, Yorkshire, England\r\n"
    "0 @F1@ FAM\r\n1 HUSB @P1@\r\n1 WIFE @P2@\r\n1 CHIL @P3@\r\n1 CHIL @P4@\r\n"
    "0 TRLR\r\n";

}  // namespace tarnix::service::test
