// What the service keeps on disk: for its own user alone, never a stale export after a race,
// nothing left behind by a crash or by a failed update of the database.
#include <sqlite3.h>

#include "TestSupport.h"

namespace tarnix::service::test {
namespace {

const char* const kNewTree = "0 HEAD\r\n1 NOTE the replacement\r\n0 TRLR\r\n";

using StorageTest = ServiceTest;

unsigned Mode(const fs::path& path) { return static_cast<unsigned>(fs::status(path).permissions()); }

// Stored files are for the service's user alone, and a start takes other users' access to its
// folders and the database away again; it also removes what a crash left (partial files, and files
// named as the service names them that no row names), and nothing else.
TEST_F(StorageTest, FilesStayPrivateAndAStartRemovesTheLeftoversOfACrash) {
    auto ticket = Login("demo", "demo-pass");
    ASSERT_EQ(Result(Upload("op=oftreplace&collectionid=77001", ticket, kNewTree)), "ok");
    ASSERT_EQ(Export(ticket, "77001"), "ok");
    for (const auto& dir : {Data("trees"), Data("files")})
        for (const auto& name : FileNames(dir)) EXPECT_EQ(Mode(dir / name), 0600u) << name;
    EXPECT_EQ(Mode(Data()), 0700u);
    for (const auto& path : {Data("trees"), Data("files"), Data("tarnix.db")}) fs::permissions(path, fs::perms(0755));

    WriteFile(Data("files") / "notes.txt", "the operator's own file");
    auto kept = FileNames(Data("trees")), served = FileNames(Data("files"));
    const std::string orphan = "0123456789abcdef0123456789abcdef.ged";
    for (const auto& dir : {Data("trees"), Data("files")})
        for (const auto& name : {orphan, orphan + ".part", std::string("notes.txt.part")}) WriteFile(dir / name, "0 HEAD\r\n");
    Start();
    for (const auto& dir : {Data("trees"), Data("files")}) EXPECT_EQ(Mode(dir), 0700u) << dir;
    EXPECT_EQ(Mode(Data("tarnix.db")), 0600u);
    EXPECT_EQ(FileNames(Data("trees")), kept);
    EXPECT_EQ(FileNames(Data("files")), served);
    EXPECT_EQ(Body(Download(Login("demo", "demo-pass"), "77001")), kNewTree);
}

// A replacement that comes between an export's copy and its commit is exported in its turn; the
// copy of the replaced file does not stay.
TEST_F(StorageTest, AnExportRacingAReplacementEndsWithTheNewContent) {
    std::string ticket;
    std::atomic<bool> replaced{false};
    Start([&](ServiceOptions& options) {
        options.gatekeeper.beforeExportCommit = [&] {
            if (!replaced.exchange(true)) EXPECT_EQ(Result(Upload("op=oftreplace&collectionid=77001", ticket, kNewTree)), "ok");
        };
    });
    ticket = Login("demo", "demo-pass");
    EXPECT_EQ(Export(ticket, "77001"), "ok");
    ASSERT_TRUE(replaced);
    EXPECT_EQ(Body(Download(ticket, "77001")), kNewTree);
    EXPECT_EQ(FileNames(Data("files")).size(), 1u);
}

// A file that the database then refuses to name is removed at once.
TEST_F(StorageTest, AFailedUpdateOfTheDatabaseLeavesNoFile) {
    auto ticket = Login("demo", "demo-pass");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Data("tarnix.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER no_insert BEFORE INSERT ON trees BEGIN SELECT RAISE(FAIL, 'x'); END;"
                               "CREATE TRIGGER no_update BEFORE UPDATE ON trees BEGIN SELECT RAISE(FAIL, 'x'); END;",
                           nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    auto trees = FileNames(Data("trees")), files = FileNames(Data("files"));
    EXPECT_EQ(Result(Upload("op=oftcreate&siteid=4102&oftname=New&forvwt=N", ticket, kNewTree)), "80004005");
    EXPECT_EQ(Result(Upload("op=oftreplace&collectionid=77001", ticket, kNewTree)), "80004005");
    EXPECT_EQ(Export(ticket, "77001"), "80004005");
    EXPECT_EQ(FileNames(Data("trees")), trees);
    EXPECT_EQ(FileNames(Data("files")), files);
}

}  // namespace
}  // namespace tarnix::service::test
