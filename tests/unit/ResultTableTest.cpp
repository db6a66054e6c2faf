// The result table's keys. (Lookups, repeats, clears and keys sharing a bucket are the fuzz target
// result_table's, which the test command runs.)
#include <gtest/gtest.h>

#include <string>

#include "requests/ResultTable.h"

namespace tarnix {
namespace {

TEST(ResultTable, KeysAreRowColonNameWithOnlyAsciiLettersLowered) {
    EXPECT_EQ("3:siteid", CResultTable::MakeKey(3, "SiteID"));
    EXPECT_EQ("4294967295:a-z_\xC9\xE9", CResultTable::MakeKey(0xFFFFFFFFu, "A-Z_\xC9\xE9"));
    EXPECT_EQ("0:", CResultTable::MakeKey(0, nullptr));
}

}  // namespace
}  // namespace tarnix
