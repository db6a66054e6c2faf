// A service running in this process on a free port of 127.0.0.1, with its own data folder, a
// clock the test moves, and its log lines kept; plus requests formed as the library forms them.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "Service.h"

namespace tarnix::service::test {

struct TempDir {
    TempDir();
    ~TempDir();
    std::filesystem::path path;
};

// What the library's upload sends: one part "f1" with the encoded local path as file name.
inline const char* const kBoundary = "----------------------------839J39AIFUE93CK";
std::string MultipartBody(const std::string& encodedPath, const std::string& bytes);

// The text of the first `element` in an answer; the word "ok" or the hresult for its result.
std::string ElementText(const std::string& body, const std::string& element);
std::string Result(const httplib::Result& answer);

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::set<std::string> FileNames(const std::filesystem::path& dir);

// A request sent byte for byte on a connection of its own, and what came back until the
// service closed it (`closed`) or `wait` was over.
struct RawAnswer {
    std::string bytes;
    bool closed = false;
    std::string Result() const;  // "ok", the hresult, or "(no answer)"
};
int Connect(int port);
RawAnswer Exchange(int port, const std::string& request, std::chrono::milliseconds wait = std::chrono::seconds(5));

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    // (Re)starts the service on the same data folder; `adjust` changes the tests' options.
    void Start(const std::function<void(ServiceOptions&)>& adjust = nullptr);

    // Gatekeeper target with this query, in the absolute form a proxy receives.
    static std::string Absolute(const std::string& query);
    static std::string Plain(const std::string& query);
    httplib::Result Get(const std::string& target, const httplib::Headers& headers = {});
    // A POST as the library's upload sends it: ticket in the cookie, file as part "f1".
    httplib::Result Upload(const std::string& query, const std::string& ticket, const std::string& bytes);
    std::string Login(const std::string& user, const std::string& password);
    std::string Export(const std::string& ticket, const std::string& tree);  // its result
    std::string Download(const std::string& ticket, const std::string& tree);  // the address, or the result
    std::vector<std::string> LogLines();

    // The service goes first: its threads use the clock and the log.
    TempDir data_;
    std::atomic<std::int64_t> now_{1700000000};
    std::mutex logMutex_;
    std::vector<std::string> log_;
    std::unique_ptr<Service> service_;
    int port_ = 0;
};

// A small family: 2 generations of Ashdown in Leeds with a spouse from York, and an unrelated
// Ashdown in Hull whose birth date is a range.
extern const char* const kSmallFamily;

}  // namespace tarnix::service::test
