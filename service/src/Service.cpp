#include "Service.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>

namespace tarnix::service {

namespace fs = std::filesystem;
using httplib::Request;
using httplib::Response;

namespace {

// The gatekeeper's result in every answer: "0" or the error's HRESULT, for the log.
const char* const kResultHeader = "X-Gatekeeper-Result";

bool IsGatekeeperPath(std::string_view path) { return EqualsNoCase(PercentDecode(path), "/vft/gatekeeper.ashx"); }

std::string CookieTicket(std::string_view cookie) {
    while (!cookie.empty()) {
        auto end = cookie.find(';');
        auto pair = TrimSpace(cookie.substr(0, end));
        cookie = end == std::string_view::npos ? std::string_view() : cookie.substr(end + 1);
        auto equals = pair.find('=');
        if (equals != std::string_view::npos && EqualsNoCase(TrimSpace(pair.substr(0, equals)), "ATT"))
            return std::string(TrimSpace(pair.substr(equals + 1)));
    }
    return {};
}

bool IsAuthority(std::string_view text) {
    return !text.empty() && text.size() < 256 &&
           text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_:[]") ==
               std::string_view::npos;
}

// The host and port that the caller used, so addresses in answers work through the proxy and
// directly alike.
std::string Authority(const Target& target, const Request& request) {
    if (IsAuthority(target.authority)) return target.authority;
    auto host = request.get_header_value("Host");
    if (IsAuthority(host)) return host;
    return "127.0.0.1:" + std::to_string(request.local_port);
}

bool IsServedName(std::string_view name) {
    if (name.empty() || name.size() > 200 || name.front() == '.' || name.find("..") != std::string_view::npos) return false;
    if (name.size() >= 5 && name.substr(name.size() - 5) == ".part") return false;  // still being written
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") ==
           std::string_view::npos;
}

const char* ContentType(const std::string& name) {
    static const std::pair<const char*, const char*> types[] = {
        {".ged", "application/x-gedcom"}, {".txt", "text/plain"},      {".htm", "text/html"},
        {".html", "text/html"},           {".xml", "text/xml"},        {".zip", "application/zip"},
        {".png", "image/png"},            {".jpg", "image/jpeg"},      {".gif", "image/gif"},
        {".pdf", "application/pdf"},
    };
    auto extension = LowerAscii(fs::path(name).extension().string());
    for (const auto& [suffix, type] : types)
        if (extension == suffix) return type;
    return "application/octet-stream";
}

void SetAnswer(Response& response, const Answer& answer) {
    response.status = 200;
    response.set_content(answer.body, answer.contentType.c_str());
    char result[9];
    std::snprintf(result, sizeof result, "%X", answer.hresult);
    response.set_header(kResultHeader, result);
}

std::string OpOf(const Target& target) {
    auto query = ParseQuery(target.query);
    auto op = query.find("op");
    return op == query.end() ? std::string() : LowerAscii(op->second);
}

}  // namespace

Service::Service(ServiceOptions options) : options_(std::move(options)), gatekeeper_(options_.gatekeeper) {
    server_.set_payload_max_length(options_.maxBody);
    auto handler = [this](const Request& request, Response& response) { Handle(request, response); };
    server_.Get(".*", handler);
    server_.Post(".*", handler);
    // httplib answers requests it cannot read (and bodies above the limit) with a bare status;
    // on the gatekeeper endpoint they get the error answer that the library can report.
    server_.set_error_handler(httplib::Server::HandlerWithResponse([this](const Request& request, Response& response) {
        auto target = SplitTarget(request.target);
        if (!IsGatekeeperPath(target.path)) return httplib::Server::HandlerResponse::Unhandled;
        if (response.status == 413)
            SetAnswer(response, Gatekeeper::ErrorAnswer(OpOf(target), hr::kTooLarge,
                                                        "the request body is larger than the limit of " +
                                                            std::to_string(options_.maxBody) + " bytes"));
        else if (response.status == 400)
            SetAnswer(response, Gatekeeper::ErrorAnswer(OpOf(target), hr::kInvalidArg,
                                                        "the request could not be read: malformed request line, "
                                                        "headers or multipart/form-data body"));
        else
            SetAnswer(response, Gatekeeper::ErrorAnswer(OpOf(target), hr::kNotImplemented,
                                                        "the method " + request.method + " is not supported"));
        return httplib::Server::HandlerResponse::Handled;
    }));
    server_.set_exception_handler([](const Request& request, Response& response, std::exception_ptr) {
        auto target = SplitTarget(request.target);
        if (IsGatekeeperPath(target.path))
            SetAnswer(response, Gatekeeper::ErrorAnswer(OpOf(target), hr::kFail, "the request failed"));
        else
            response.status = 500;
    });
    server_.set_logger([this](const Request& request, const Response& response) { Log(request, response); });
}

Service::~Service() { Stop(); }

int Service::Bind(int port) {
    if (port == 0) port = server_.bind_to_any_port("127.0.0.1");
    else if (!server_.bind_to_port("127.0.0.1", port)) port = -1;
    if (port <= 0) throw std::runtime_error("cannot listen on 127.0.0.1 port " + std::to_string(port));
    return port;
}

void Service::Run() { server_.listen_after_bind(); }

int Service::Start(int port) {
    port = Bind(port);
    thread_ = std::thread([this] { Run(); });
    // Stop must find the server running, or it would not end the thread.
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port;
}

void Service::Stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
}

void Service::Handle(const Request& request, Response& response) {
    auto target = SplitTarget(request.target);
    if (IsGatekeeperPath(target.path)) {
        Call call;
        call.query = ParseQuery(target.query);
        call.cookieTicket = CookieTicket(request.get_header_value("Cookie"));
        call.isPost = request.method == "POST";
        auto file = request.files.find("f1");
        if (file != request.files.end()) call.upload = &file->second.content;
        call.authority = Authority(target, request);
        SetAnswer(response, gatekeeper_.Handle(call));
        return;
    }
    auto path = PercentDecode(target.path);
    if (request.method != "POST" && path.rfind("/files/", 0) == 0) return ServeFile(path.substr(7), response);
    response.status = 404;
    response.set_content("not found\n", "text/plain");
}

void Service::ServeFile(const std::string& name, Response& response) {
    auto path = gatekeeper_.filesDir() / name;
    std::error_code error;
    auto size = fs::file_size(path, error);
    auto stream = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (!IsServedName(name) || error || !fs::is_regular_file(path) || !*stream) {
        response.status = 404;
        response.set_content("not found\n", "text/plain");
        return;
    }
    response.set_content_provider(
        static_cast<std::size_t>(size), ContentType(name),
        [stream](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            char block[65536];
            stream->seekg(static_cast<std::streamoff>(offset));
            stream->read(block, static_cast<std::streamsize>(std::min(length, sizeof block)));
            if (stream->gcount() <= 0) return false;
            return sink.write(block, static_cast<std::size_t>(stream->gcount()));
        });
}

void Service::Log(const Request& request, const Response& response) {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string line = std::string(stamp) + " " + request.remote_addr + " " + request.method + " " +
                       RedactTarget(request.target) + " -> " + std::to_string(response.status);
    auto result = response.get_header_value(kResultHeader);
    if (!result.empty()) line += result == "0" ? " ok" : " error " + result;
    if (options_.log) return options_.log(line);
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace tarnix::service
