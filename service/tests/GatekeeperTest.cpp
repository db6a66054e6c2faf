// The gatekeeper's contract as the library sees it: absolute and plain targets, answers with
// ok or error/hresult at HTTP 200, tickets, ownership, uploads formed like the library's; and
// the search counts, "matching individuals,files with a match,individuals searched" over the
// public trees (treesearchcount) or the record sets (datasearchcount), or the word Error.
#include <algorithm>

#include "TestSupport.h"

namespace tarnix::service::test {
namespace {

using GatekeeperTest = ServiceTest;

// A sign-in's ticket opens what the library's tree browser and update check read (sites and
// trees with the rights it accepts, the configured versions) for its lifetime to the second;
// sign-ins and tickets that do not hold each get the hresult that tells them apart.
TEST_F(GatekeeperTest, SignInOpensSitesTreesAndVersionsForTheTicketsLifetime) {
    auto ticket = Login("DEMO", "demo-pass");  // names compare without case
    EXPECT_EQ(ticket.size(), 64u);
    auto sites = Body(Plain("op=apilistusersites&att=" + ticket));
    EXPECT_NE(sites.find("<ok/><sites><Site><SiteID>4101</SiteID><SiteName>The Haverfield family</SiteName>"
                         "<SiteRights>PRIV</SiteRights><Rights>ADMN</Rights></Site>"
                         "<Site><SiteID>4102</SiteID><SiteName>Cousins in Ohio</SiteName>"),
              std::string::npos) << sites;
    auto trees = Get(Absolute("op=oftlist&att=" + ticket + "&cobrand=x"));
    ASSERT_TRUE(trees);
    EXPECT_NE(trees->body.find("<oft><SiteID>4101</SiteID><SiteName>The Haverfield family</SiteName>"
                               "<CollectionID>77001</CollectionID><OFTName>Haverfield family tree</OFTName>"
                               "<Permission>ADMN</Permission><DownloadStatus>0</DownloadStatus></oft>"),
              std::string::npos) << trees->body;
    EXPECT_EQ(trees->get_header_value("Content-Type"), "text/xml");
    auto versions = Body(Absolute("op=versioncompare&exe=7.2.15&webctl=3.1.0&tarnix=1.0.0&cobrand=a&b"));
    EXPECT_NE(versions.find("<ok/><xapi><exe>7.2.16</exe><webctl>1.0.0</webctl><tarnix>1.4.2</tarnix></xapi>"),
              std::string::npos) << versions;

    struct Case { std::string query, hresult; } cases[] = {
        {"op=apilogin&username=demo&password=Demo-pass", "8007052E"},
        {"op=apilogin&username=nobody&password=demo-pass", "8007052E"},
        {"op=apilogin&password=demo-pass", "80070057"},
        {"op=oftlist&cobrand=x", "800704DC"},
        {"op=oftlist&att=&cobrand=x", "800704DC"},
        {"op=oftlist&att=" + std::string(64, 'a') + "&cobrand=x", "800704DC"},
        {"op=nosuchop&att=" + ticket, "80004001"},
        {"att=" + ticket, "80070057"},
    };
    for (const auto& c : cases) EXPECT_EQ(Ask(c.query), c.hresult) << c.query;
    now_ += 8 * 3600 - 1;
    EXPECT_EQ(Ask("op=oftlist&att=" + ticket), "ok");
    now_ += 1;
    EXPECT_EQ(Ask("op=oftlist&att=" + ticket), "80090317");
}

// Another user's site or tree is answered as a missing one, in the same words, so that numbers
// cannot be probed.
TEST_F(GatekeeperTest, AnotherUsersSitesAndTreesAreAnsweredAsMissing) {
    service_->gatekeeper().EnsureUser("ruth", "ruth's secret");
    auto ruth = Login("ruth", "ruth%27s%20secret"), demo = Login("demo", "demo-pass");
    EXPECT_EQ(Body(Absolute("op=oftlist&att=" + ruth)).find("<oft>"), std::string::npos);
    auto sites = Body(Absolute("op=apilistusersites&att=" + ruth));
    EXPECT_EQ(ElementText(sites, "SiteName"), "ruth&apos;s trees");
    for (const std::string op : {"oftexport&collectionid=77001", "oftdownload&collectionid=77001", "oftexport&collectionid=99999"})
        EXPECT_EQ(Ask("op=" + op + "&att=" + ruth), "80070490") << op;
    EXPECT_EQ(Ask("op=oftexport&collectionid=77x&att=" + ruth), "80070057");
    auto answerFor = [&](const std::string& tree) {
        auto body = Body(Absolute("op=oftexport&att=" + ruth + "&collectionid=" + tree));
        return body.replace(body.find(tree), tree.size(), "N");
    };
    EXPECT_EQ(answerFor("77001"), answerFor("99999"));
    EXPECT_EQ(Result(Upload("op=oftreplace&collectionid=77001", ruth, "0 HEAD\r\n")), "80070490");
    EXPECT_EQ(Result(Upload("op=oftcreate&siteid=4101&oftname=Mine", ruth, "0 HEAD\r\n")), "80070490");
    EXPECT_EQ(Result(Upload("op=oftcreate&oftname=Mine&siteid=" + ElementText(sites, "SiteID"), demo, "0 HEAD\r\n")),
              "80070490");
}

// Five failures for a name, or twenty from a client, and each further attempt must wait, twice
// as long after each failure; a wait never holds the other names back.
TEST_F(GatekeeperTest, RepeatedFailedSignInsSlowDown) {
    service_->gatekeeper().EnsureUser("ruth", "ruth-pass");
    // A sign-in `later` seconds after the one before.
    auto signIn = [&](const std::string& user, const std::string& password, int later = 0) {
        now_ += later;
        return Result(Get(Plain("op=apilogin&username=" + user + "&password=" + password)));
    };
    for (int i = 0; i < 5; ++i) EXPECT_EQ(signIn("demo", "guess" + std::to_string(i)), "8007052E");
    EXPECT_EQ(signIn("DEMO", "demo-pass"), "80070775");
    EXPECT_EQ(signIn("ruth", "ruth-pass"), "ok");
    EXPECT_EQ(signIn("demo", "guess5", 1), "8007052E");
    EXPECT_EQ(signIn("demo", "demo-pass", 1), "80070775");
    EXPECT_EQ(signIn("demo", "demo-pass", 1), "ok");
    EXPECT_EQ(signIn("demo", "guess6"), "8007052E");  // a success starts the name's count again
    EXPECT_EQ(signIn("demo", "demo-pass"), "ok");

    for (int i = 0; i < 13; ++i) EXPECT_EQ(signIn("nobody" + std::to_string(i), "x"), "8007052E");
    EXPECT_EQ(signIn("ruth", "ruth-pass"), "80070775");  // twenty from this client
    EXPECT_EQ(signIn("ruth", "ruth-pass", 1), "ok");
}

// An upload comes back byte for byte, through the proxy, once its export is ready; a new export
// or a replacement of the file ends the address of the export before.
TEST_F(GatekeeperTest, UploadedTreeComesBackByteForByteOnceExported) {
    Start([](ServiceOptions& options) { options.gatekeeper.exportDelay = 30; });
    auto ticket = Login("demo", "demo-pass");
    // Bytes that a careless multipart reader would mangle: CR LF runs, a line that starts like
    // the boundary, every byte value.
    std::string bytes = "0 HEAD\r\n1 NOTE --" + kBoundary + "x\r\n\r\n\n\r--\r\n";
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    bytes += "\r\n0 TRLR\r\n";
    auto created = Upload("op=oftcreate&siteid=4102&oftname=Ohio%20%26%20Wales&forvwt=Y&cobrand=x", ticket, bytes);
    ASSERT_EQ(Result(created), "ok");
    EXPECT_EQ(ElementText(created->body, "OFTName"), "Ohio &amp; Wales");
    auto tree = ElementText(created->body, "CollectionID");
    EXPECT_EQ(Download(ticket, tree), "8007139F");
    EXPECT_EQ(Export(ticket, tree), "ok");
    EXPECT_EQ(DownloadStatus(ticket, tree), "1");
    EXPECT_EQ(Download(ticket, tree), "80070015");
    now_ += 30;
    EXPECT_EQ(DownloadStatus(ticket, tree), "2");
    auto address = Download(ticket, tree);
    auto file = Get(address);  // through the proxy, as the library fetches it
    EXPECT_EQ(file ? file->get_header_value("Content-Type") + "\n" + file->body : "", "application/x-gedcom\n" + bytes);

    EXPECT_EQ(Export(ticket, tree), "ok");
    EXPECT_EQ(Result(Get(address)), "(status 404)");
    now_ += 30;
    address = Download(ticket, tree);
    EXPECT_EQ(Result(Upload("op=oftreplace&collectionid=" + tree + "&cobrand=x", ticket, "0 HEAD\n0 TRLR\n")), "ok");
    EXPECT_EQ(DownloadStatus(ticket, tree), "0");
    EXPECT_EQ(Result(Get(address)), "(status 404)");
    EXPECT_EQ(Export(ticket, tree), "ok");
    now_ += 30;
    EXPECT_EQ(Body(Download(ticket, tree)), "0 HEAD\n0 TRLR\n");
}

// Uploads that cannot be taken, each with its hresult: bad values, a name taken, a file that is
// not GEDCOM, a body that is not the library's multipart, no file at all.
TEST_F(GatekeeperTest, BadUploadsGetErrorAnswers) {
    auto ticket = Login("demo", "demo-pass");
    const std::string create = "op=oftcreate&siteid=4102&oftname=T&forvwt=N&cobrand=x";
    const std::string replace = "op=oftreplace&collectionid=77001";
    auto gedcom = MultipartBody("0 HEAD\r\n");
    struct Case { std::string query, body, type, hresult; } cases[] = {
        {create, gedcom, kMultipart, "ok"},
        {create, gedcom, kMultipart, "800700B7"},
        {"op=oftcreate&siteid=4102&oftname=%20", gedcom, kMultipart, "80070057"},
        {"op=oftcreate&siteid=4102&oftname=U&forvwt=maybe", gedcom, kMultipart, "80070057"},
        {replace, MultipartBody("\xEF\xBB\xBF" "0 HEAD\r\n0 TRLR\r\n"), kMultipart, "ok"},  // a byte-order mark first
        {replace, gedcom.substr(0, gedcom.size() - 10), kMultipart, "80070057"},         // no closing boundary
        {replace, gedcom, "multipart/form-data", "80070057"},                            // no boundary named
        {replace, Multipart({{"f2", "0 HEAD\r\n"}}), kMultipart, "80070057"},
        {replace, "0 HEAD\r\n", "text/plain", "80070057"},
    };
    for (const auto& c : cases) EXPECT_EQ(Result(Post(c.query, ticket, c.body, c.type)), c.hresult) << c.query << c.body;
    for (const char* notGedcom : {"", "HEAD\r\n", "1 HEAD\r\n", "0 @H@ HEAD\r\n", "<gedcom/>"})
        EXPECT_EQ(Result(Upload(replace, ticket, notGedcom)), "8007000D") << notGedcom;
    EXPECT_EQ(Result(Upload(create, "", "0 HEAD\r\n")), "800704DC");
    EXPECT_EQ(Ask("op=oftcreate&att=" + ticket + "&siteid=4102&oftname=G&forvwt=N"), "80070057");  // a GET has no file
    EXPECT_EQ(Result(Client().Put(Plain("op=oftlist").c_str(), "", "text/plain")), "80004001");
}

// Targets sent byte for byte: the secret in each, and what its one line of the log shows instead.
TEST_F(GatekeeperTest, LogsOneLinePerRequestWithoutSecrets) {
    auto ticket = Login("demo", "demo-pass");
    ASSERT_EQ(Export(ticket, "77001"), "ok");
    auto address = Download(ticket, "77001");
    auto file = address.substr(address.rfind('/') + 1);
    auto get = [](const std::string& target) { return "GET " + target + " HTTP/1.0\r\n\r\n"; };
    struct Case { std::string request, secret, shown; } cases[] = {
        {get(Absolute("op=apilogin&username=Demo&password=demo-pass")), "demo-pass",
         "GET http://trees.tarnix.example:80/vft/gatekeeper.ashx?op=apilogin&username=Demo&password=*** -> 200 ok"},
        {get(Plain("op=apilogin&username=demo&pass%77ord=demo-pass")), "demo-pass", "&pass%77ord=*** -> 200 ok"},
        {get(Plain("op=oftlist&cobrand=x&ATT=" + ticket)), ticket, "GET /vft/gatekeeper.ashx?op=oftlist&cobrand=x&ATT=*** -> 200 ok"},
        {get(Plain("op=oftlist&%61tt=" + ticket)), ticket, "?op=oftlist&%61tt=*** -> 200 ok"},
        {get("/files/" + file), file, " GET /files/*** -> 200"},
        {get("http://trees.tarnix.example:80/%66iles/" + file + "?x=1"), file, " GET http://trees.tarnix.example:80/files/*** -> 200"},
        {get(Plain("op=versioncompare&x=\x1b[2J\rFAKE\x7f")), "\x1b", "&x=%1B[2J%0DFAKE%7F -> 200 ok"},
    };
    for (const auto& c : cases) Exchange(port_, c.request);
    auto lines = LogLines();
    // A line is written once its answer has gone out, so the first three may come late.
    for (int i = 0; i < 500 && lines.size() < 3 + std::size(cases); ++i, lines = LogLines()) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(lines.size(), 3 + std::size(cases));
    for (const auto& c : cases) {
        auto shows = [&](const std::string& line) { return line.find(c.shown) != std::string::npos; };
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), shows), 1) << c.shown;
        for (const auto& line : lines) EXPECT_EQ(line.find(c.secret), std::string::npos) << line;
    }
}

// Every rule of the criteria, over the record sets; a file that is not GEDCOM is not searched, one
// that changed is read anew.
TEST_F(GatekeeperTest, SearchCountsHoldEveryRuleInTheRecordSets) {
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
    for (const auto& c : cases) EXPECT_EQ(Body(Absolute("op=datasearchcount" + c.query)), c.counts) << c.query;
    EXPECT_EQ(Body(Absolute("op=datasearchcount&birthyear=18x0")), "Error");
    WriteFile(data_.path / "records" / "ashdown.ged", "0 HEAD\n0 @A@ INDI\n1 NAME Mary /Ashdown/\n0 TRLR\n");
    EXPECT_EQ(Body(Absolute("op=datasearchcount&surname=Ashdown")), "1,1,2");  // a file changed is read anew
}

// The tree search reads the public trees alone, and a replaced file anew.
TEST_F(GatekeeperTest, TreeSearchCountsOnlyPublicTrees) {
    auto answer = Get(Absolute("op=treesearchcount&surname=Ashdown"));
    EXPECT_EQ(answer ? answer->get_header_value("Content-Type") + " " + answer->body : "", "text/plain 4,1,5");
    auto ticket = Login("demo", "demo-pass");
    auto ashdowns = [&] { return Body(Absolute("op=treesearchcount&surname=Ashdown")); };
    const std::string lone = "0 HEAD\r\n0 @A@ INDI\r\n1 NAME Mary /Ashdown/\r\n0 TRLR\r\n";
    ASSERT_EQ(Result(Upload("op=oftcreate&siteid=4102&oftname=Private&forvwt=N", ticket, lone)), "ok");
    EXPECT_EQ(ashdowns(), "4,1,5");
    ASSERT_EQ(Result(Upload("op=oftcreate&siteid=4102&oftname=Shared&forvwt=Y", ticket, lone)), "ok");
    EXPECT_EQ(ashdowns(), "5,2,6");
    ASSERT_EQ(Result(Upload("op=oftreplace&collectionid=77001", ticket, "0 HEAD\r\n0 TRLR\r\n")), "ok");
    EXPECT_EQ(ashdowns(), "1,1,1");
    EXPECT_EQ(Body(Absolute("op=datasearchcount&surname=Ashdown")), "0,0,0");
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
    auto query = SearchQuery::FromQuery({{"surname", "Ashdown"}});
    for (int search = 0; search < 2; ++search) {
        auto counts = collection.Count(query);
        EXPECT_EQ(std::tuple(counts.matches, counts.filesMatched, counts.searched), std::tuple(12LL, 3LL, 15LL));
        EXPECT_EQ(collection.KeptIndexBytes(), 2 * one);
    }
}

}  // namespace
}  // namespace tarnix::service::test
