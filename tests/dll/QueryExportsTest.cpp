// Sign-in, site list and online tree list through tarnix.dll, against the local service: what
// goes on the wire and the rows and statuses the host reads back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using tarnix::test::HttpAnswer;
using tarnix::test::ProxySetting;
using tarnix::test::TestService;
using tarnix::test::ReleaseLast;
using tarnix::test::WaitForRequest;

constexpr char kServiceHost[] = TARNIX_EXPECTED_SERVICE_HOST;  // the host the DLL was built for

HttpAnswer Xml(const std::string& body) { return HttpAnswer{200, "OK", {{"Content-Type", "text/xml"}}, body}; }

// The methods a C host calls by slot: 4 GetValue, 5 GetValueLength, 6 GetRowCount.
void* Slot(IQueryRequest* request, int slot) { return (*reinterpret_cast<void***>(request))[slot]; }

ULONG Rows(IQueryRequest* request) {
    return reinterpret_cast<ULONG(STDMETHODCALLTYPE*)(IQueryRequest*)>(Slot(request, 6))(request);
}

// A value of the results, read as a C host reads it: its length first, then the value into a
// buffer of exactly that much room; "<hr>" if the length cannot be had.
std::string Value(IQueryRequest* request, ULONG row, const char* name) {
    using GetValueLength = HRESULT(STDMETHODCALLTYPE*)(IQueryRequest*, ULONG, const char*, ULONG*);
    using GetValue = HRESULT(STDMETHODCALLTYPE*)(IQueryRequest*, ULONG, const char*, char*, ULONG);
    ULONG length = 0;
    HRESULT hr = reinterpret_cast<GetValueLength>(Slot(request, 5))(request, row, name, &length);
    if (FAILED(hr)) return "<" + std::to_string(static_cast<unsigned long>(hr)) + ">";
    std::string value(length + 1, '\xCD');
    EXPECT_EQ(S_OK, reinterpret_cast<GetValue>(Slot(request, 4))(request, row, name, &value[0], length + 1));
    EXPECT_EQ('\0', value[length]);
    value.resize(length);
    return value;
}

class QueryExportsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, TARNIXInitialize(0)); }
    void TearDown() override { TARNIXTerminate(); }

    // The one request that reached the service: its path, after checking its host.
    std::string OnlyPath() {
        EXPECT_EQ(1u, service.RequestCount());
        if (service.RequestCount() == 0) return "";
        auto sent = service.Requests()[0];
        EXPECT_EQ(kServiceHost, sent.Host());
        EXPECT_EQ("GET", sent.method);
        return sent.Path();
    }

    TestService service;
    ProxySetting proxy{service.Port()};
};

TEST_F(QueryExportsTest, LoginSendsBothValuesEscapedAndYieldsTheTicket) {
    service.On("op=apilogin", Xml("<r><ok/><user><ATT>T1 &amp; \xE9</ATT></user><ATT>second</ATT></r>"));
    IQueryRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixLogin("Ann O'Brien&x=1", "p\xE9+%?", &request));
    ASSERT_NE(nullptr, request);
    ASSERT_EQ(S_OK, WaitForRequest(request));

    EXPECT_EQ("/vft/gatekeeper.ashx?op=apilogin&username=Ann%20O%27Brien%26x%3d1&password=p%e9%2b%25%3f", OnlyPath());
    EXPECT_EQ(1u, Rows(request));
    EXPECT_EQ("T1 & \xE9", Value(request, 0, "att")) << "the first ATT element, in ANSI bytes";
    EXPECT_EQ("T1 & \xE9", Value(request, 0, "ATT"));
    EXPECT_EQ(0u, ReleaseLast(request));
}

TEST_F(QueryExportsTest, ResultsReadBeforeTheAnswerHasArrivedArePending) {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer held = Xml("<r><ok/><ATT>late</ATT></r>");
    held.hold = release;
    service.On("op=apilogin", held);

    IQueryRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixLogin("u", "p", &request));
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    LONG state = -1;
    EXPECT_EQ(S_OK, request->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state);
    char buffer[16] = "untouched";
    EXPECT_EQ(E_PENDING, request->GetValue(0, "att", buffer, sizeof buffer));
    EXPECT_STREQ("untouched", buffer);

    SetEvent(release);
    ASSERT_EQ(S_OK, WaitForRequest(request));
    EXPECT_EQ("late", Value(request, 0, "att"));
    request->Release();
    CloseHandle(release);
}

TEST_F(QueryExportsTest, SiteListSendsTheTicketUnchangedAndGivesEveryRowFourNames) {
    service.On("op=apilistusersites", Xml("<r><ok/><sites>"
                                          "<Site><SiteID>11</SiteID><SiteName>North</SiteName>"
                                          "<SiteRights>rw</SiteRights><Rights>7</Rights></Site>"
                                          "<Site><SiteID>12</SiteID><SiteName>South</SiteName><Rights>1</Rights></Site>"
                                          "</sites></r>"));
    const char ticket[] = "Tk+%41&=~/";
    IQueryRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixListUserSites(ticket, &request));
    ASSERT_EQ(S_OK, WaitForRequest(request));

    EXPECT_EQ(std::string("/vft/gatekeeper.ashx?op=apilistusersites&att=") + ticket, OnlyPath());
    ASSERT_EQ(2u, Rows(request));
    EXPECT_EQ("11", Value(request, 0, "siteid"));
    EXPECT_EQ("North", Value(request, 0, "SiteName"));
    EXPECT_EQ("rw", Value(request, 0, "SiteRights"));
    EXPECT_EQ("7", Value(request, 0, "Rights"));
    EXPECT_EQ("12", Value(request, 1, "SiteID"));
    EXPECT_EQ("", Value(request, 1, "SiteRights")) << "a missing child is an empty value";
    EXPECT_EQ("1", Value(request, 1, "rights"));
    request->Release();
}

TEST_F(QueryExportsTest, TreeListGivesOneRowPerOftInDocumentOrder) {
    service.On("op=oftlist", Xml("<r><ok/>"
                                 "<oft><SiteID>1</SiteID><SiteName>S</SiteName><CollectionID>c-1</CollectionID>"
                                 "<OFTName>Smith tree</OFTName><Permission>3</Permission>"
                                 "<DownloadStatus>ready</DownloadStatus></oft>"
                                 "<group><deeper><oft><SiteID>2</SiteID><CollectionID>c-2</CollectionID>"
                                 "<OFTName>Jones</OFTName><DownloadStatus>none</DownloadStatus></oft></deeper></group>"
                                 "</r>"));
    IQueryRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixListOnlineFamilyTrees("t&k=1", "co&b", &request));
    ASSERT_EQ(S_OK, WaitForRequest(request));

    EXPECT_EQ("/vft/gatekeeper.ashx?op=oftlist&att=t&k=1&cobrand=co&b", OnlyPath()) << "sent as given";
    ASSERT_EQ(2u, Rows(request));
    const char* names[] = {"SiteID", "SiteName", "CollectionID", "OFTName", "Permission", "DownloadStatus"};
    const char* rows[2][6] = {{"1", "S", "c-1", "Smith tree", "3", "ready"}, {"2", "", "c-2", "Jones", "", "none"}};
    for (ULONG row = 0; row < 2; ++row)
        for (int i = 0; i < 6; ++i) {
            SCOPED_TRACE(std::to_string(row) + " " + names[i]);
            EXPECT_EQ(rows[row][i], Value(request, row, names[i]));
        }
    request->Release();
}

// Null texts go as empty values; a sign-in answer without a ticket gives one row with an empty
// one, a tree list without trees no row.
TEST_F(QueryExportsTest, NullTextsGoEmptyAndAnswersWithoutRowsFinish) {
    service.SetDefault(Xml("<r><ok/></r>"));
    IQueryRequest *login = nullptr, *trees = nullptr;
    ASSERT_EQ(S_OK, TarnixLogin(nullptr, nullptr, &login));
    ASSERT_EQ(S_OK, WaitForRequest(login));
    ASSERT_EQ(S_OK, TarnixListOnlineFamilyTrees(nullptr, nullptr, &trees));
    ASSERT_EQ(S_OK, WaitForRequest(trees));
    ASSERT_EQ(2u, service.RequestCount());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=apilogin&username=&password=", service.Requests()[0].Path());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=oftlist&att=&cobrand=", service.Requests()[1].Path());
    EXPECT_EQ(1u, Rows(login));
    EXPECT_EQ("", Value(login, 0, "att"));
    EXPECT_EQ(0u, Rows(trees));
    login->Release();
    trees->Release();
}

// TARNIX_SERVICE, read by the outermost initialize, sends gatekeeper requests straight to another
// place, past a system proxy that could not reach it (here one where nothing listens); a value
// that is not "host[:port]" is ignored; browser addresses always name the built-in host.
TEST(ServiceOverride, SendsGatekeeperRequestsElsewhereButNotBrowserAddresses) {
    TestService service;
    service.SetDefault(Xml("<r><ok/><ATT>t</ATT></r>"));
    const std::string local = "127.0.0.1:" + std::to_string(service.Port());
    const struct { std::string value; bool direct; } cases[] = {
        {local, true}, {"127.0.0.1:99999", false}, {"http://127.0.0.1/", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ProxySetting proxy(c.direct ? 1 : service.Port());
        ASSERT_TRUE(SetEnvironmentVariableA("TARNIX_SERVICE", c.value.c_str()));
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        SetEnvironmentVariableA("TARNIX_SERVICE", nullptr);  // read once, at the initialize
        IQueryRequest* request = nullptr;
        ASSERT_EQ(S_OK, TarnixLogin("u", "p", &request));
        EXPECT_EQ(S_OK, WaitForRequest(request));
        request->Release();
        char address[256];
        ASSERT_EQ(S_OK, TarnixGetLoginURL(address, sizeof address, "c"));
        TARNIXTerminate();
        EXPECT_EQ(std::string("http://") + kServiceHost + "/vft/gatekeeper.ashx?op=login&cobrand=c", address);

        auto sent = service.Requests().back();
        if (c.direct) {
            EXPECT_EQ("GET /vft/gatekeeper.ashx?op=apilogin&username=u&password=p HTTP/1.0", sent.requestLine);
            EXPECT_EQ(local, sent.Header("Host"));
        } else {
            EXPECT_EQ(kServiceHost, sent.Host()) << "an unusable value must be ignored";
        }
    }
}

TEST(QueryExportsUninitialized, StartNothingAndHandOutNothing) {
    EXPECT_EQ(E_POINTER, TarnixLogin("u", "p", nullptr));
    IQueryRequest* request = reinterpret_cast<IQueryRequest*>(0x1);
    EXPECT_EQ(E_FAIL, TarnixLogin("u", "p", &request));
    EXPECT_EQ(E_FAIL, TarnixListUserSites("t", &request));
    EXPECT_EQ(E_FAIL, TarnixListOnlineFamilyTrees("t", "c", &request));
    EXPECT_EQ(reinterpret_cast<IQueryRequest*>(0x1), request);
    ISearchCountRequest* count = reinterpret_cast<ISearchCountRequest*>(0x1);
    EXPECT_EQ(E_FAIL, TarnixSearchTree("s", 0, 0, 0, 0, 0, 0, 0, 0, 0, &count)) << "the search pool runs";
    EXPECT_EQ(reinterpret_cast<ISearchCountRequest*>(0x1), count);

    // After a full initialize/terminate cycle the pools are gone again.
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    TARNIXTerminate();
    EXPECT_EQ(E_FAIL, TarnixLogin("u", "p", &request));
}

}  // namespace
