// Search counts: "matching individuals,files with a match,individuals searched" over the public
// trees (treesearchcount) or the record sets (datasearchcount), or the word Error.
#include "TestSupport.h"

namespace tarnix::service::test {
namespace {

class SearchCountTest : public ServiceTest {
protected:
    std::string Count(const std::string& op, const std::string& query) {
        auto answer = Get(Absolute("op=" + op + query));
        if (!answer || answer->status != 200) return "(no answer)";
        EXPECT_EQ(answer->get_header_value("Content-Type"), "text/plain");
        return answer->body;
    }
};

// Every rule of the criteria, over the record sets: files that are not GEDCOM are not searched.
TEST_F(SearchCountTest, CountsMatchesInTheRecordSets) {
    WriteFile(data_.path / "records" / "ashdown.ged", kSmallFamily);
    WriteFile(data_.path / "records" / "birch.GED",
              "0 HEAD\n0 @X1@ INDI\n1 NAME Ellen /Birch/\n1 BIRT\n2 DATE 1852\n2 PLAC York\n0 TRLR\n");
    WriteFile(data_.path / "records" / "notes.ged", "not a GEDCOM file\n");
    struct Case { std::string query, counts; } cases[] = {
        {"&cobrand=x&surname=Ashdown", "4,1,6"},
        {"&surname=ASHDOWN&givennames=walter", "2,1,6"},           // Walter and Arthur Walter
        {"&givennames=Walter%20Arthur", "1,1,6"},                   // every word, any order
        {"&surname=Ash*", "4,1,6"},
        {"&surname=Ash", "0,0,6"},
        {"&givennames=ellen&birthplace=York", "2,2,6"},
        {"&birthplace=leeds%2C%20england", "3,1,6"},                // parts of the place, any of them
        {"&birthplace=Leed", "0,0,6"},
        {"&birthyear=1850", "2,1,6"},                                // Walter, and George born 1848-1851
        {"&birthyear=1878", "1,1,6"},                                // Rose's christening stands in
        {"&deathyear=1880&deathplace=Leeds", "0,0,6"},               // her burial has no place
        {"&deathyear=1880", "1,1,6"},
        {"&father=walter%20ashdown", "2,1,6"},
        {"&mother=Birch&surname=Ashdown&givennames=Rose", "1,1,6"},
        {"&spouse=Ellen", "1,1,6"},
        {"&spouse=Walter", "1,1,6"},
        {"&cobrand=x", "0,0,6"},                                     // no criteria, no matches
    };
    for (const auto& c : cases) EXPECT_EQ(Count("datasearchcount", c.query), c.counts) << c.query;
    EXPECT_EQ(Count("datasearchcount", "&birthyear=18x0"), "Error");
}

// The tree search reads the public trees alone, and a replaced file anew.
TEST_F(SearchCountTest, TreeSearchCountsOnlyPublicTrees) {
    EXPECT_EQ(Count("treesearchcount", "&surname=Ashdown"), "4,1,5");
    auto ticket = Login("demo", "demo-pass");
    const std::string lone = "0 HEAD\r\n0 @A@ INDI\r\n1 NAME Mary /Ashdown/\r\n0 TRLR\r\n";
    ASSERT_EQ(Result(Upload("op=oftcreate&siteid=4102&oftname=Private&forvwt=N", ticket, lone)), "ok");
    EXPECT_EQ(Count("treesearchcount", "&surname=Ashdown"), "4,1,5");
    ASSERT_EQ(Result(Upload("op=oftcreate&siteid=4102&oftname=Shared&forvwt=Y", ticket, lone)), "ok");
    EXPECT_EQ(Count("treesearchcount", "&surname=Ashdown"), "5,2,6");
    ASSERT_EQ(Result(Upload("op=oftreplace&collectionid=77001", ticket, "0 HEAD\r\n0 TRLR\r\n")), "ok");
    EXPECT_EQ(Count("treesearchcount", "&surname=Ashdown"), "1,1,1");
    EXPECT_EQ(Count("datasearchcount", "&surname=Ashdown"), "0,0,0");
}

// A file whose index would pass the limit per file is not searched; indexes past the total
// are not kept, and are built again at the next search.
TEST(SearchIndexTest, IndexesStayWithinTheirLimits) {
    TempDir dir;
    std::string larger = kSmallFamily;
    larger.insert(larger.rfind("0 TRLR"), "0 @P6@ INDI\r\n1 NAME Ann Elizabeth /Ashdown/\r\n1 FAMC @F1@\r\n");
    auto one = GedcomIndex::Build(kSmallFamily, SIZE_MAX)->Bytes();
    std::vector<fs::path> files;
    for (const char* name : {"1.ged", "2.ged", "3.ged", "larger.ged"}) {
        files.push_back(dir.path / name);
        WriteFile(files.back(), files.size() < 4 ? kSmallFamily : larger);
    }
    Collection collection([&] { return files; }, IndexLimits{one, 2 * one});
    SearchQuery query;
    query.surname = "ashdown";
    for (int search = 0; search < 2; ++search) {
        auto counts = collection.Count(query);
        EXPECT_EQ(std::vector<long long>({counts.matches, counts.filesMatched, counts.searched}),
                  std::vector<long long>({12, 3, 15}));
        EXPECT_EQ(collection.KeptIndexBytes(), 2 * one);
    }
}

}  // namespace
}  // namespace tarnix::service::test
