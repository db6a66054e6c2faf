// The gatekeeper operations: sign-in with tickets, sites, online trees with their GEDCOM files,
// exports and downloads, search counts and the version check. Transport-free: the HTTP side
// hands in a Call and sends back the Answer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "Errors.h"
#include "Search.h"
#include "Store.h"
#include "Text.h"
#include "Throttle.h"

namespace tarnix::service {

struct GatekeeperOptions {
    std::filesystem::path dataDir;     // database, stored trees (trees/), served files (files/)
    std::filesystem::path recordsDir;  // the record sets that datasearchcount searches; empty: dataDir/records
    std::int64_t ticketLifetime = 8 * 3600;  // seconds from sign-in
    std::int64_t exportDelay = 0;            // seconds until an export is ready for download
    std::string exeVersion = "1.0.0";
    std::string webctlVersion = "1.0.0";
    std::string tarnixVersion = "1.0.0";
    int hashIterations = 100000;             // PBKDF2 rounds for passwords set from now on
    IndexLimits index;                       // memory for the search counts' indexes
    std::function<std::int64_t()> clock;     // seconds; empty: the system clock
    // For tests: runs between an export's copy and its commit, where a replacement may come.
    std::function<void()> beforeExportCommit;
};

// Takes the bytes of an upload in order; throws to stop it.
using UploadSink = std::function<void(const char* data, std::size_t size)>;

// One request to the gatekeeper endpoint.
struct Call {
    Query query;
    std::string cookieTicket;  // the ATT value of the Cookie header
    std::string client;        // the client's address
    bool isPost = false;
    // For a POST: reads the body's part "f1" into the sink; false when it has none. Called only
    // once every other check has passed, so that no body is read for a call that fails anyway.
    // Throws ServiceError when the body is too large or cannot be read.
    std::function<bool(const UploadSink&)> readUpload;
    std::string authority;     // host[:port] that addresses in answers name
};

struct Answer {
    std::string contentType;
    std::string body;
    std::uint32_t hresult = 0;  // 0 for success; for the log
};

inline const char* const kDemoUser = "demo";
inline const char* const kDemoPassword = "demo-pass";

class Gatekeeper {
public:
    explicit Gatekeeper(GatekeeperOptions options);

    Answer Handle(const Call& call);
    static Answer ErrorAnswer(std::string_view op, std::uint32_t hresult, std::string_view message);

    // Creates the user with a site of his own, or sets a new password for an existing one.
    std::int64_t EnsureUser(std::string_view name, std::string_view password);
    std::int64_t AddSite(std::int64_t userId, std::string_view name);
    // The demo user with two sites and one public tree read from `gedcom`; false when the demo
    // user exists already.
    bool SeedDemo(const std::filesystem::path& gedcom);

    const std::filesystem::path& filesDir() const { return filesDir_; }

private:
    struct Session {
        std::int64_t userId;
        std::int64_t expiresAt;
    };

    std::int64_t Now() const;
    std::int64_t SignedInUser(const Call& call);
    SiteRecord OwnedSite(std::int64_t userId, std::int64_t siteId);
    TreeRecord OwnedTree(std::int64_t userId, std::int64_t treeId);
    // The upload, stored in the trees folder under a new name; throws unless it is GEDCOM.
    std::string ReceiveUpload(const Call& call, const char* op);
    std::int64_t AddTree(std::int64_t siteId, std::string_view name, bool isPublic, const std::string& file);
    void RemoveFile(const std::filesystem::path& dir, const std::string& name);
    std::string TreeXml(const TreeRecord& tree);

    std::string ApiLogin(const Call& call);
    std::string ApiListUserSites(const Call& call);
    std::string OftList(const Call& call);
    std::string OftCreate(const Call& call);
    std::string OftReplace(const Call& call);
    std::string OftExport(const Call& call);
    std::string OftDownload(const Call& call);
    std::string VersionCompare(const Call& call);
    Answer SearchCount(Collection& collection, const Call& call);

    GatekeeperOptions options_;
    std::filesystem::path treesDir_, filesDir_;
    Store store_;
    Collection trees_, records_;
    SignInThrottle throttle_;
    std::mutex sessionsMutex_;
    std::unordered_map<std::string, Session> sessions_;  // by ticket; kept in memory only
};

}  // namespace tarnix::service
