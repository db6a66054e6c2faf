// Users, sites and online trees in one SQLite database. The GEDCOM files themselves lie in the
// data folder; rows name them. One connection, serialized by a mutex: requests are small.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace tarnix::service {

struct UserRecord {
    std::int64_t id = 0;
    std::string name;
    std::string salt;
    std::string hash;
    int iterations = 0;
};

struct SiteRecord {
    std::int64_t id = 0;
    std::int64_t userId = 0;
    std::string name;
};

struct TreeRecord {
    std::int64_t id = 0;
    std::int64_t siteId = 0;
    std::int64_t userId = 0;  // owner of the site
    std::string siteName;
    std::string name;
    bool isPublic = false;    // submitted to the shared tree search
    std::string file;         // stored GEDCOM, in the trees folder
    std::string exportFile;   // prepared export, in the files folder; empty when none
    std::int64_t exportReadyAt = 0;
};

class Store {
public:
    explicit Store(const std::string& databasePath);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    std::optional<UserRecord> FindUser(std::string_view name);
    std::int64_t AddUser(std::string_view name, std::string_view salt, std::string_view hash, int iterations);
    void SetPassword(std::int64_t userId, std::string_view salt, std::string_view hash, int iterations);

    std::int64_t AddSite(std::int64_t userId, std::string_view name);
    std::optional<SiteRecord> FindSite(std::int64_t siteId);
    std::vector<SiteRecord> Sites(std::int64_t userId);

    // Throws ServiceError(kAlreadyExists) when the site has a tree of that name.
    std::int64_t AddTree(std::int64_t siteId, std::string_view name, bool isPublic, std::string_view file);
    std::optional<TreeRecord> FindTree(std::int64_t treeId);
    std::vector<TreeRecord> Trees(std::int64_t userId);
    std::vector<std::string> PublicTreeFiles();
    std::set<std::string> StoredFiles();  // every tree's file and export
    // Both give back the tree as it was, so the caller can delete the files it no longer names.
    TreeRecord ReplaceTreeFile(std::int64_t treeId, std::string_view file);  // drops the export
    // Only while the tree still holds `treeFile`; nullopt (and no change) when it does not.
    std::optional<TreeRecord> SetExport(std::int64_t treeId, std::string_view treeFile, std::string_view exportFile,
                                        std::int64_t readyAt);

private:
    std::optional<TreeRecord> FindTreeLocked(std::int64_t treeId);
    std::vector<TreeRecord> TreesWhere(const char* condition, std::int64_t value);

    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

}  // namespace tarnix::service
