#include "Service.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnix::service {

namespace fs = std::filesystem;
using httplib::Request;
using httplib::Response;
using Handled = httplib::Server::HandlerResponse;

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

bool IsDecimal(std::string_view text, std::size_t maxDigits) {
    return !text.empty() && text.size() <= maxDigits && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// host[:port] naming this service: 127.0.0.1, localhost or one of `names`, with a port of 1-65535.
bool NamesThisService(std::string_view authority, const std::vector<std::string>& names) {
    auto colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        auto port = authority.substr(colon + 1);
        if (!IsDecimal(port, 5) || std::stoi(std::string(port)) < 1 || std::stoi(std::string(port)) > 65535) return false;
        authority = authority.substr(0, colon);
    }
    if (EqualsNoCase(authority, "127.0.0.1") || EqualsNoCase(authority, "localhost")) return true;
    for (const auto& name : names)
        if (EqualsNoCase(authority, name)) return true;
    return false;
}

bool IsServedName(std::string_view name) {
    if (name.empty() || name.size() > 200 || name.front() == '.' || name.find("..") != std::string_view::npos) return false;
    if (name.size() >= 5 && name.substr(name.size() - 5) == ".part") return false;  // still being written
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") ==
           std::string_view::npos;
}

// Opens dir/name only when it is a regular file there: no link is followed, and nothing else (a
// pipe, a device) is opened at all. -1 otherwise.
int OpenRegularFile(const fs::path& dir, const std::string& name, struct stat& status) {
    int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return -1;
    struct stat before {};
    int file = -1;
    if (fstatat(folder, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(before.st_mode))
        file = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    close(folder);
    if (file >= 0 && (fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_ino != before.st_ino)) {
        close(file);
        file = -1;
    }
    return file;
}

struct ByteRange {
    std::uint64_t first = 0, length = 0;
    bool satisfiable = true;
};

// The one range that a Range header asks of `size` bytes: "bytes=first-last", "bytes=first-" or
// "bytes=-suffix". None (the whole file is served) for several ranges or one not understood.
std::optional<ByteRange> RequestedRange(std::string_view header, std::uint64_t size) {
    header = TrimSpace(header);
    if (header.substr(0, 6) != "bytes=" || header.find(',') != std::string_view::npos) return std::nullopt;
    auto spec = header.substr(6);
    auto dash = spec.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    auto firstText = TrimSpace(spec.substr(0, dash)), lastText = TrimSpace(spec.substr(dash + 1));
    if (firstText.empty()) {
        if (!IsDecimal(lastText, 19)) return std::nullopt;
        auto suffix = std::min<std::uint64_t>(std::stoull(std::string(lastText)), size);
        if (suffix == 0) return ByteRange{0, 0, false};
        return ByteRange{size - suffix, suffix};
    }
    if (!IsDecimal(firstText, 19) || (!lastText.empty() && !IsDecimal(lastText, 19))) return std::nullopt;
    auto first = std::stoull(std::string(firstText));
    std::uint64_t last = lastText.empty() ? size - 1 : std::stoull(std::string(lastText));
    if (first >= size) return ByteRange{0, 0, false};
    if (last < first) return std::nullopt;
    return ByteRange{first, std::min<std::uint64_t>(last, size - 1) - first + 1};
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

Service::Service(ServiceOptions options)
    : options_(std::move(options)), gatekeeper_(options_.gatekeeper), server_(options_.connections) {
    server_.set_payload_max_length(options_.connections.maxBody);
    // Other methods are answered before their bodies are read.
    server_.set_pre_routing_handler([](const Request& request, Response& response) {
        if (request.method == "GET" || request.method == "HEAD" || request.method == "POST") return Handled::Unhandled;
        auto target = SplitTarget(request.target);
        if (!IsGatekeeperPath(target.path)) {
            response.status = 405;
            response.set_header("Allow", "GET, HEAD, POST");
        } else {
            SetAnswer(response, Gatekeeper::ErrorAnswer(OpOf(target), hr::kNotImplemented,
                                                        "the method " + request.method + " is not supported"));
        }
        return Handled::Handled;
    });
    server_.Get(".*", [this](const Request& request, Response& response) { Handle(request, response, nullptr); });
    server_.Post(".*", [this](const Request& request, Response& response, const httplib::ContentReader& body) {
        Handle(request, response, &body);
    });
    // httplib answers requests it cannot read with a bare status; on the gatekeeper endpoint
    // they get the error answer that the library can report.
    server_.set_error_handler(httplib::Server::HandlerWithResponse([this](const Request& request, Response& response) {
        auto target = SplitTarget(request.target);
        if (!IsGatekeeperPath(target.path)) return Handled::Unhandled;
        if (response.status == 413)
            SetAnswer(response, Gatekeeper::ErrorAnswer(OpOf(target), hr::kTooLarge,
                                                        "the request body is larger than the limit of " +
                                                            std::to_string(options_.connections.maxBody) + " bytes"));
        else
            SetAnswer(response, Gatekeeper::ErrorAnswer(OpOf(target), hr::kInvalidArg,
                                                        "the request could not be read: malformed request line, "
                                                        "headers or multipart/form-data body"));
        return Handled::Handled;
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

void Service::Handle(const Request& request, Response& response, const httplib::ContentReader* body) {
    auto target = SplitTarget(request.target);
    if (IsGatekeeperPath(target.path)) {
        Call call;
        call.query = ParseQuery(target.query);
        call.cookieTicket = CookieTicket(request.get_header_value("Cookie"));
        call.client = request.remote_addr;
        call.isPost = body != nullptr;
        if (body) call.readUpload = [&](const UploadSink& sink) { return ReadUpload(request, *body, sink); };
        call.authority = Authority(target, request);
        SetAnswer(response, gatekeeper_.Handle(call));
        return;
    }
    auto path = PercentDecode(target.path);
    if (!body && path.rfind("/files/", 0) == 0) return ServeFile(request, path.substr(7), response);
    response.status = 404;
    response.set_content("not found\n", "text/plain");
}

// The part "f1" of a multipart/form-data body, into `sink`. A body whose Content-Length is above
// the limit is refused unread; one framed otherwise is cut off at the limit.
bool Service::ReadUpload(const Request& request, const httplib::ContentReader& body, const UploadSink& sink) {
    if (!request.is_multipart_form_data()) return false;
    const auto limit = options_.connections.maxBody;
    const ServiceError tooLarge(hr::kTooLarge, "the request body is larger than the limit of " + std::to_string(limit) + " bytes");
    if (request.has_header("Content-Length")) {
        auto length = request.get_header_value("Content-Length");
        if (!IsDecimal(length, 19)) throw ServiceError(hr::kInvalidArg, "the Content-Length is not a number");
        if (std::stoull(length) > limit) throw tooLarge;
    }
    bool inFile = false, found = false, overLimit = false;
    std::size_t received = 0;
    bool whole = body(
        [&](const httplib::MultipartFormData& part) {
            inFile = !found && part.name == "f1";
            found = found || inFile;
            return true;
        },
        [&](const char* data, std::size_t size) {
            if (!inFile) return true;
            if (size > limit - received) return !(overLimit = true);  // a compressed body grows as it is read
            received += size;
            sink(data, size);
            return true;
        });
    if (overLimit || Connection::Current().BodyTooLarge()) throw tooLarge;
    if (!whole) throw ServiceError(hr::kInvalidArg, "the multipart/form-data body could not be read");
    Connection::Current().BodyRead();
    return found;
}

// The host and port that the caller used, so that addresses in answers work through the proxy
// and directly alike; any other name, or a bad port, gets the service's own address.
std::string Service::Authority(const Target& target, const Request& request) const {
    auto authority = target.authority.empty() ? request.get_header_value("Host") : target.authority;
    if (NamesThisService(authority, options_.hostNames)) return authority;
    return "127.0.0.1:" + std::to_string(request.local_port);
}

void Service::ServeFile(const Request& request, const std::string& name, Response& response) {
    struct stat status {};
    int descriptor = IsServedName(name) ? OpenRegularFile(gatekeeper_.filesDir(), name, status) : -1;
    if (descriptor < 0) {
        response.status = 404;
        response.set_content("not found\n", "text/plain");
        return;
    }
    auto file = std::shared_ptr<int>(new int(descriptor), [](int* fd) {
        close(*fd);
        delete fd;
    });
    auto size = static_cast<std::uint64_t>(status.st_size);
    ByteRange range{0, size};
    response.set_header("Accept-Ranges", "bytes");
    // No validators are sent, so an If-Range can never match: it asks for the whole file.
    if (request.has_header("Range") && !request.has_header("If-Range")) {
        if (auto asked = RequestedRange(request.get_header_value("Range"), size)) {
            if (!asked->satisfiable) {
                response.status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(size));
                return;
            }
            range = *asked;
            response.status = 206;
            response.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                     std::to_string(range.first + range.length - 1) + "/" +
                                                     std::to_string(size));
        }
    }
    if (range.length == 0) return response.set_content("", ContentType(name));
    response.set_content_provider(
        static_cast<std::size_t>(range.length), ContentType(name),
        [file, first = range.first](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            char block[65536];
            auto got = pread(*file, block, std::min(length, sizeof block), static_cast<off_t>(first + offset));
            return got > 0 && sink.write(block, static_cast<std::size_t>(got));
        });
}

void Service::Log(const Request& request, const Response& response) {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string line = std::string(stamp) + " " + request.remote_addr + " " + request.method + " " +
                       LoggedTarget(request.target) + " -> " + std::to_string(response.status);
    auto result = response.get_header_value(kResultHeader);
    if (!result.empty()) line += result == "0" ? " ok" : " error " + result;
    if (options_.log) return options_.log(line);
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace tarnix::service
