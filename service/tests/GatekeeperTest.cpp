// The gatekeeper's contract as the library sees it: absolute and plain targets, answers with
// ok or error/hresult at HTTP 200, tickets, ownership, uploads formed like the library's.
#include <algorithm>
#include <chrono>
#include <thread>

#include "TestSupport.h"

namespace tarnix::service::test {
namespace {

// Bytes that a careless multipart reader would mangle: CR LF runs, a line that starts like the
// boundary, every byte value.
std::string AwkwardGedcom() {
    std::string bytes = "0 HEAD\r\n1 NOTE --" + std::string(kBoundary) + "x\r\n\r\n\n\r--\r\n";
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes + "\r\n0 TRLR\r\n";
}

struct Tree {
    std::string id, downloadStatus;
};

class GatekeeperTest : public ServiceTest {
protected:
    std::vector<Tree> Trees(const std::string& ticket) {
        auto answer = Get(Absolute("op=oftlist&att=" + ticket + "&cobrand=x%20y"));
        EXPECT_EQ(Result(answer), "ok");
        std::vector<Tree> trees;
        for (auto at = answer->body.find("<oft>"); at != std::string::npos; at = answer->body.find("<oft>", at + 1)) {
            auto row = answer->body.substr(at, answer->body.find("</oft>", at) - at);
            trees.push_back({ElementText(row, "CollectionID"), ElementText(row, "DownloadStatus")});
        }
        return trees;
    }
};

TEST_F(GatekeeperTest, SignInListsTheUsersSitesAndTrees) {
    auto ticket = Login("demo", "demo-pass");
    EXPECT_EQ(ticket.size(), 64u);
    auto sites = Get(Plain("op=apilistusersites&att=" + ticket));
    ASSERT_EQ(Result(sites), "ok");
    EXPECT_NE(sites->body.find("<Site><SiteID>4101</SiteID><SiteName>The Haverfield family</SiteName>"
                               "<SiteRights>PRIV</SiteRights><Rights>ADMN</Rights></Site>"
                               "<Site><SiteID>4102</SiteID><SiteName>Cousins in Ohio</SiteName>"),
              std::string::npos) << sites->body;
    auto trees = Get(Absolute("op=oftlist&att=" + ticket + "&cobrand=x"));
    EXPECT_NE(trees->body.find("<oft><SiteID>4101</SiteID><SiteName>The Haverfield family</SiteName>"
                               "<CollectionID>77001</CollectionID><OFTName>Haverfield family tree</OFTName>"
                               "<Permission>ADMN</Permission><DownloadStatus>0</DownloadStatus></oft>"),
              std::string::npos) << trees->body;
    EXPECT_EQ(trees->get_header_value("Content-Type"), "text/xml");
}

TEST_F(GatekeeperTest, RefusesSignInAndTicketsThatDoNotHold) {
    auto ticket = Login("DEMO", "demo-pass");  // names compare without case
    struct Case {
        std::string query, hresult;
    } cases[] = {
        {"op=apilogin&username=demo&password=Demo-pass", "8007052E"},
        {"op=apilogin&username=nobody&password=demo-pass", "8007052E"},
        {"op=apilogin&password=demo-pass", "80070057"},
        {"op=oftlist&cobrand=x", "800704DC"},
        {"op=oftlist&att=&cobrand=x", "800704DC"},
        {"op=oftlist&att=" + std::string(64, 'a') + "&cobrand=x", "800704DC"},
        {"op=apilistusersites&att=" + ticket, "ok"},
        {"op=nosuchop&att=" + ticket, "80004001"},
        {"att=" + ticket, "80070057"},
    };
    for (const auto& c : cases) EXPECT_EQ(Result(Get(Absolute(c.query))), c.hresult) << c.query;

    now_ += 599;
    EXPECT_EQ(Result(Get(Absolute("op=oftlist&att=" + ticket))), "ok");
    now_ += 1;
    auto expired = Get(Absolute("op=oftlist&att=" + ticket));
    EXPECT_EQ(Result(expired), "80090317");
    EXPECT_NE(expired->body.find("<message>the ticket has expired"), std::string::npos);
    EXPECT_EQ(Result(Get(Absolute("op=oftlist&att=" + Login("demo", "demo-pass")))), "ok");
}

// Another user's site or tree is answered as a missing one, so that numbers cannot be probed.
TEST_F(GatekeeperTest, AnotherUsersSitesAndTreesAreAnsweredAsMissing) {
    service_->gatekeeper().EnsureUser("ruth", "ruth's secret");
    auto ruth = Login("ruth", "ruth%27s%20secret");
    auto demo = Login("demo", "demo-pass");
    ASSERT_EQ(Trees(ruth).size(), 0u);
    auto sites = Get(Absolute("op=apilistusersites&att=" + ruth));
    EXPECT_EQ(ElementText(sites->body, "SiteName"), "ruth&apos;s trees");
    auto ruthSite = ElementText(sites->body, "SiteID");

    struct Case {
        std::string op, hresult;
    } cases[] = {
        {"oftexport&collectionid=77001", "80070490"},
        {"oftdownload&collectionid=77001", "80070490"},
        {"oftexport&collectionid=99999", "80070490"},
        {"oftexport&collectionid=77x", "80070057"},
    };
    for (const auto& c : cases) EXPECT_EQ(Result(Get(Absolute("op=" + c.op + "&att=" + ruth))), c.hresult) << c.op;
    auto answerFor = [&](const std::string& tree) {
        auto body = Get(Absolute("op=oftexport&att=" + ruth + "&collectionid=" + tree))->body;
        return body.replace(body.find(tree), tree.size(), "N");
    };
    EXPECT_EQ(answerFor("77001"), answerFor("99999"));
    EXPECT_EQ(Result(Upload("op=oftreplace&collectionid=77001&cobrand=x", ruth, "0 HEAD\r\n")), "80070490");
    EXPECT_EQ(Result(Upload("op=oftcreate&siteid=4101&oftname=Mine&forvwt=N&cobrand=x", ruth, "0 HEAD\r\n")),
              "80070490");
    EXPECT_EQ(Result(Upload("op=oftcreate&siteid=" + ruthSite + "&oftname=Mine&forvwt=N&cobrand=x", demo, "0 HEAD\r\n")),
              "80070490");
    EXPECT_EQ(Trees(demo).size(), 1u);
}

// Five failures for a name, or twenty from a client, and each further attempt must wait, twice
// as long after each failure; a wait never holds the other names back.
TEST_F(GatekeeperTest, RepeatedFailedSignInsSlowDown) {
    service_->gatekeeper().EnsureUser("ruth", "ruth-pass");
    auto signIn = [&](const std::string& user, const std::string& password) {
        return Result(Get(Plain("op=apilogin&username=" + user + "&password=" + password)));
    };
    for (int i = 0; i < 5; ++i) EXPECT_EQ(signIn("demo", "guess" + std::to_string(i)), "8007052E");
    EXPECT_EQ(signIn("DEMO", "demo-pass"), "80070775");
    EXPECT_EQ(signIn("ruth", "ruth-pass"), "ok");
    now_ += 1;
    EXPECT_EQ(signIn("demo", "guess5"), "8007052E");
    now_ += 1;
    EXPECT_EQ(signIn("demo", "demo-pass"), "80070775");
    now_ += 1;
    EXPECT_EQ(signIn("demo", "demo-pass"), "ok");
    EXPECT_EQ(signIn("demo", "guess6"), "8007052E");  // a success starts the name's count again

    for (int i = 0; i < 13; ++i) EXPECT_EQ(signIn("nobody" + std::to_string(i), "x"), "8007052E");
    EXPECT_EQ(signIn("ruth", "ruth-pass"), "80070775");  // twenty from this client
    now_ += 1;
    EXPECT_EQ(signIn("ruth", "ruth-pass"), "ok");
}

TEST_F(GatekeeperTest, UploadedTreeComesBackByteForByte) {
    auto ticket = Login("demo", "demo-pass");
    auto bytes = AwkwardGedcom();
    auto created = Upload("op=oftcreate&siteid=4102&oftname=Ohio%20%26%20Wales&forvwt=Y&cobrand=x", ticket, bytes);
    ASSERT_EQ(Result(created), "ok") << created->body;
    EXPECT_EQ(ElementText(created->body, "OFTName"), "Ohio &amp; Wales");
    auto tree = ElementText(created->body, "CollectionID");
    EXPECT_EQ(Download(ticket, tree), "8007139F");

    EXPECT_EQ(Export(ticket, tree), "ok");
    EXPECT_EQ(Trees(ticket).back().downloadStatus, "2");
    auto address = Download(ticket, tree);
    ASSERT_EQ(address.rfind("http://trees.tarnix.example:80/files/", 0), 0u) << address;
    auto file = Get(address);  // through the proxy, as the library fetches it
    ASSERT_TRUE(file && file->status == 200);
    EXPECT_EQ(file->body, bytes);
    EXPECT_EQ(file->get_header_value("Content-Length"), std::to_string(bytes.size()));
    EXPECT_EQ(file->get_header_value("Content-Type"), "application/x-gedcom");

    // Directly, the address names the host the request came to.
    auto direct = Get(Plain("op=oftdownload&att=" + ticket + "&collectionid=" + tree));
    auto directAddress = ElementText(direct->body, "GEDCOMFile");
    EXPECT_EQ(directAddress.rfind("http://127.0.0.1:" + std::to_string(port_) + "/files/", 0), 0u) << directAddress;

    // A replacement drops the export; the next export has the new bytes.
    EXPECT_EQ(Result(Upload("op=oftreplace&collectionid=" + tree + "&cobrand=x", ticket, "0 HEAD\n0 TRLR\n")), "ok");
    EXPECT_EQ(Trees(ticket).back().downloadStatus, "0");
    EXPECT_EQ(Get(address)->status, 404);
    EXPECT_EQ(Export(ticket, tree), "ok");
    EXPECT_EQ(Get(Download(ticket, tree))->body, "0 HEAD\n0 TRLR\n");
}

TEST_F(GatekeeperTest, BadUploadsGetErrorAnswers) {
    auto ticket = Login("demo", "demo-pass");
    const std::string create = "op=oftcreate&siteid=4102&oftname=T&forvwt=N&cobrand=x";
    EXPECT_EQ(Result(Upload(create, ticket, "0 HEAD\r\n")), "ok");
    EXPECT_EQ(Result(Upload(create, ticket, "0 HEAD\r\n")), "800700B7");
    EXPECT_EQ(Result(Upload("op=oftcreate&siteid=4102&oftname=%20&cobrand=x", ticket, "0 HEAD\r\n")), "80070057");
    EXPECT_EQ(Result(Upload("op=oftcreate&siteid=4102&oftname=U&forvwt=maybe", ticket, "0 HEAD\r\n")), "80070057");
    EXPECT_EQ(Result(Upload("op=oftcreate&siteid=4102&oftname=U&forvwt=N", "", "0 HEAD\r\n")), "800704DC");
    for (const char* notGedcom : {"", "HEAD\r\n", "1 HEAD\r\n", "0 @H@ HEAD\r\n", "<gedcom/>"})
        EXPECT_EQ(Result(Upload("op=oftreplace&collectionid=77001", ticket, notGedcom)), "8007000D") << notGedcom;

    auto getCreate = Get(Absolute("op=oftcreate&att=" + ticket + "&siteid=4102&oftname=G&forvwt=N&cobrand=x"));
    EXPECT_EQ(Result(getCreate), "80070057");
    EXPECT_NE(getCreate->body.find("multipart/form-data POST"), std::string::npos);

    httplib::Client client("127.0.0.1", port_);
    client.set_url_encode(false);
    httplib::Headers cookie{{"Cookie", "ATT=" + ticket + ";"}};
    const std::string type = std::string("multipart/form-data; boundary=") + kBoundary;
    auto body = MultipartBody("a.ged", "0 HEAD\r\n");
    auto otherPart = body;
    otherPart.replace(otherPart.find("name=\"f1\""), 9, "name=\"f2\"");
    struct Case {
        std::string body, contentType, hresult;
    } cases[] = {
        {body.substr(0, body.size() - 10), type, "80070057"},  // no closing boundary
        {"garbage", type, "80070057"},
        {body, "multipart/form-data", "80070057"},             // no boundary parameter
        {otherPart, type, "80070057"},
        {"0 HEAD\r\n", "text/plain", "80070057"},
        {MultipartBody("a.ged", std::string(1 << 20, 'x')), type, "800700DF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Result(client.Post(Absolute("op=oftreplace&collectionid=77001").c_str(), cookie, c.body, c.contentType.c_str())),
                  c.hresult) << c.body.substr(0, 60);
    EXPECT_EQ(Result(client.Put(Plain("op=oftlist").c_str(), "", "text/plain")), "80004001");
}

TEST_F(GatekeeperTest, ExportIsDownloadableOnceReady) {
    Start([](ServiceOptions& options) { options.gatekeeper.exportDelay = 30; });
    auto ticket = Login("demo", "demo-pass");
    EXPECT_EQ(Export(ticket, "77001"), "ok");
    EXPECT_EQ(Trees(ticket)[0].downloadStatus, "1");
    EXPECT_EQ(Download(ticket, "77001"), "80070015");
    now_ += 30;
    EXPECT_EQ(Trees(ticket)[0].downloadStatus, "2");
    EXPECT_EQ(Get(Download(ticket, "77001"))->body, kSmallFamily);
}

TEST_F(GatekeeperTest, VersionCompareAnswersTheConfiguredVersions) {
    auto answer = Get(Absolute("op=versioncompare&exe=7.2.15&webctl=3.1.0&tarnix=1.0.0&cobrand=a&b"));
    EXPECT_EQ(Result(answer), "ok");
    EXPECT_NE(answer->body.find("<xapi><exe>7.2.16</exe><webctl>3.1.0</webctl><tarnix>1.4.2</tarnix></xapi>"),
              std::string::npos) << answer->body;
}

// Targets sent byte for byte: the secret in each, and what its one line of the log shows instead.
TEST_F(GatekeeperTest, LogsOneLinePerRequestWithoutSecrets) {
    auto ticket = Login("demo", "demo-pass");
    ASSERT_EQ(Export(ticket, "77001"), "ok");
    auto address = Download(ticket, "77001");
    auto file = address.substr(address.rfind('/') + 1);
    auto get = [](const std::string& target) { return "GET " + target + " HTTP/1.0\r\n\r\n"; };
    struct Case {
        std::string request, secret, shown;
    } cases[] = {
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
    for (int i = 0; i < 500 && lines.size() < 3 + std::size(cases); ++i, lines = LogLines())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(lines.size(), 3 + std::size(cases));
    for (const auto& c : cases) {
        auto shows = [&](const std::string& line) { return line.find(c.shown) != std::string::npos; };
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), shows), 1) << c.shown;
        for (const auto& line : lines) EXPECT_EQ(line.find(c.secret), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace tarnix::service::test
