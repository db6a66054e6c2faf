#include "Store.h"

#include <sqlite3.h>

#include "Errors.h"

namespace tarnix::service {

namespace {

[[noreturn]] void Fail(sqlite3* db, const char* what) {
    throw ServiceError(hr::kFail, std::string("storage: ") + what + ": " + sqlite3_errmsg(db));
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) Fail(db, "prepare");
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(statement_, index, value));
        return *this;
    }
    Statement& Bind(int index, std::string_view text) {
        Check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& BindBlob(int index, std::string_view bytes) {
        Check(sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
        return *this;
    }
    // True while there is a row to read.
    bool Step() {
        int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW) return true;
        if (result == SQLITE_DONE) return false;
        if (sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE)
            throw ServiceError(hr::kAlreadyExists, "an entry of that name exists already");
        Fail(db_, "step");
    }
    std::int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }
    std::string Text(int column) {
        auto bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
        return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                     : std::string();
    }

private:
    void Check(int result) {
        if (result != SQLITE_OK) Fail(db_, "bind");
    }
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// Site and tree numbers start apart, so a site number sent as a tree number is caught.
const char* const kSchema = R"sql(
PRAGMA foreign_keys = ON;
CREATE TABLE IF NOT EXISTS users (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE COLLATE NOCASE,
    salt BLOB NOT NULL,
    hash BLOB NOT NULL,
    iterations INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sites (
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id),
    name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS trees (
    id INTEGER PRIMARY KEY,
    site_id INTEGER NOT NULL REFERENCES sites(id),
    name TEXT NOT NULL,
    public INTEGER NOT NULL,
    file TEXT NOT NULL,
    export_file TEXT NOT NULL DEFAULT '',
    export_ready_at INTEGER NOT NULL DEFAULT 0,
    UNIQUE (site_id, name));
)sql";

const char* const kTreeColumns =
    "SELECT trees.id, trees.site_id, sites.user_id, sites.name, trees.name, trees.public, trees.file, "
    "trees.export_file, trees.export_ready_at FROM trees JOIN sites ON sites.id = trees.site_id ";

TreeRecord ReadTree(Statement& row) {
    TreeRecord tree;
    tree.id = row.Int(0);
    tree.siteId = row.Int(1);
    tree.userId = row.Int(2);
    tree.siteName = row.Text(3);
    tree.name = row.Text(4);
    tree.isPublic = row.Int(5) != 0;
    tree.file = row.Text(6);
    tree.exportFile = row.Text(7);
    tree.exportReadyAt = row.Int(8);
    return tree;
}

}  // namespace

Store::Store(const std::string& databasePath) {
    if (sqlite3_open(databasePath.c_str(), &db_) != SQLITE_OK) {
        std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw ServiceError(hr::kFail, "cannot open " + databasePath + ": " + reason);
    }
    sqlite3_busy_timeout(db_, 5000);
    if (sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::string reason = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        throw ServiceError(hr::kFail, "cannot prepare " + databasePath + ": " + reason);
    }
}

Store::~Store() { sqlite3_close(db_); }

std::optional<UserRecord> Store::FindUser(std::string_view name) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement row(db_, "SELECT id, name, salt, hash, iterations FROM users WHERE name = ?");
    row.Bind(1, name);
    if (!row.Step()) return std::nullopt;
    return UserRecord{row.Int(0), row.Text(1), row.Text(2), row.Text(3), static_cast<int>(row.Int(4))};
}

std::int64_t Store::AddUser(std::string_view name, std::string_view salt, std::string_view hash, int iterations) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement insert(db_, "INSERT INTO users (name, salt, hash, iterations) VALUES (?, ?, ?, ?)");
    insert.Bind(1, name).BindBlob(2, salt).BindBlob(3, hash).Bind(4, iterations).Step();
    return sqlite3_last_insert_rowid(db_);
}

void Store::SetPassword(std::int64_t userId, std::string_view salt, std::string_view hash, int iterations) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement update(db_, "UPDATE users SET salt = ?, hash = ?, iterations = ? WHERE id = ?");
    update.BindBlob(1, salt).BindBlob(2, hash).Bind(3, iterations).Bind(4, userId).Step();
}

std::int64_t Store::AddSite(std::int64_t userId, std::string_view name) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement insert(db_,
                     "INSERT INTO sites (id, user_id, name) VALUES ((SELECT IFNULL(MAX(id), 4100) + 1 FROM sites), ?, ?)");
    insert.Bind(1, userId).Bind(2, name).Step();
    return sqlite3_last_insert_rowid(db_);
}

std::optional<SiteRecord> Store::FindSite(std::int64_t siteId) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement row(db_, "SELECT id, user_id, name FROM sites WHERE id = ?");
    row.Bind(1, siteId);
    if (!row.Step()) return std::nullopt;
    return SiteRecord{row.Int(0), row.Int(1), row.Text(2)};
}

std::vector<SiteRecord> Store::Sites(std::int64_t userId) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement row(db_, "SELECT id, user_id, name FROM sites WHERE user_id = ? ORDER BY id");
    row.Bind(1, userId);
    std::vector<SiteRecord> sites;
    while (row.Step()) sites.push_back(SiteRecord{row.Int(0), row.Int(1), row.Text(2)});
    return sites;
}

std::int64_t Store::AddTree(std::int64_t siteId, std::string_view name, bool isPublic, std::string_view file) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement insert(db_,
                     "INSERT INTO trees (id, site_id, name, public, file) "
                     "VALUES ((SELECT IFNULL(MAX(id), 77000) + 1 FROM trees), ?, ?, ?, ?)");
    insert.Bind(1, siteId).Bind(2, name).Bind(3, isPublic ? 1 : 0).Bind(4, file).Step();
    return sqlite3_last_insert_rowid(db_);
}

std::optional<TreeRecord> Store::FindTreeLocked(std::int64_t treeId) {
    Statement row(db_, (std::string(kTreeColumns) + "WHERE trees.id = ?").c_str());
    row.Bind(1, treeId);
    if (!row.Step()) return std::nullopt;
    return ReadTree(row);
}

std::optional<TreeRecord> Store::FindTree(std::int64_t treeId) {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindTreeLocked(treeId);
}

std::vector<TreeRecord> Store::TreesWhere(const char* condition, std::int64_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement row(db_, (std::string(kTreeColumns) + condition + " ORDER BY sites.id, trees.id").c_str());
    row.Bind(1, value);
    std::vector<TreeRecord> trees;
    while (row.Step()) trees.push_back(ReadTree(row));
    return trees;
}

std::vector<TreeRecord> Store::Trees(std::int64_t userId) { return TreesWhere("WHERE sites.user_id = ?", userId); }

std::vector<std::string> Store::PublicTreeFiles() {
    std::vector<std::string> files;
    for (const auto& tree : TreesWhere("WHERE trees.public = ?", 1)) files.push_back(tree.file);
    return files;
}

std::set<std::string> Store::StoredFiles() {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement row(db_, "SELECT file FROM trees UNION SELECT export_file FROM trees");
    std::set<std::string> files;
    while (row.Step()) files.insert(row.Text(0));
    return files;
}

TreeRecord Store::ReplaceTreeFile(std::int64_t treeId, std::string_view file) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto before = FindTreeLocked(treeId);
    if (!before) throw ServiceError(hr::kNotFound, "the tree is gone");
    Statement update(db_, "UPDATE trees SET file = ?, export_file = '', export_ready_at = 0 WHERE id = ?");
    update.Bind(1, file).Bind(2, treeId).Step();
    return *before;
}

std::optional<TreeRecord> Store::SetExport(std::int64_t treeId, std::string_view treeFile, std::string_view exportFile,
                                           std::int64_t readyAt) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto before = FindTreeLocked(treeId);
    if (!before) throw ServiceError(hr::kNotFound, "the tree is gone");
    if (before->file != treeFile) return std::nullopt;
    Statement update(db_, "UPDATE trees SET export_file = ?, export_ready_at = ? WHERE id = ?");
    update.Bind(1, exportFile).Bind(2, readyAt).Bind(3, treeId).Step();
    return before;
}

}  // namespace tarnix::service
