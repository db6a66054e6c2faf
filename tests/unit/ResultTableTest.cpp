// The result table's keys and its behaviour when keys share a bucket.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "requests/ResultTable.h"

namespace tarnix {
namespace {

TEST(ResultTable, KeysAreRowColonNameWithOnlyAsciiLettersLowered) {
    EXPECT_EQ("3:siteid", CResultTable::MakeKey(3, "SiteID"));
    EXPECT_EQ("4294967295:a-z_\xC9\xE9", CResultTable::MakeKey(0xFFFFFFFFu, "A-Z_\xC9\xE9"));
    EXPECT_EQ("0:", CResultTable::MakeKey(0, nullptr));
}

TEST(ResultTable, KeysSharingABucketStayApart) {
    // Find names that land in one bucket with row 0, so the chain is really walked.
    std::map<uint32_t, std::vector<std::string>> byBucket;
    std::vector<std::string> sameBucket;
    for (int i = 0; sameBucket.empty(); ++i) {
        std::string name = "n" + std::to_string(i);
        auto& names = byBucket[CResultTable::Hash(CResultTable::MakeKey(0, name.c_str())) % CResultTable::kBucketCount];
        names.push_back(name);
        if (names.size() == 3) sameBucket = names;
    }

    CResultTable table;
    for (const std::string& name : sameBucket) table.Set(0, name.c_str(), "v-" + name);
    table.Set(0, sameBucket[1].c_str(), "newer");
    ASSERT_NE(nullptr, table.Find(0, sameBucket[0].c_str()));
    EXPECT_EQ("v-" + sameBucket[0], *table.Find(0, sameBucket[0].c_str()));
    EXPECT_EQ("newer", *table.Find(0, sameBucket[1].c_str()));
    EXPECT_EQ("v-" + sameBucket[2], *table.Find(0, sameBucket[2].c_str()));
    EXPECT_EQ(nullptr, table.Find(1, sameBucket[0].c_str()));

    table.Clear();
    EXPECT_EQ(nullptr, table.Find(0, sameBucket[1].c_str()));
    table.Set(0, sameBucket[1].c_str(), "after clear");
    EXPECT_EQ("after clear", *table.Find(0, sameBucket[1].c_str()));
}

}  // namespace
}  // namespace tarnix
