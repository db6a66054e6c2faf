// The gatekeeper queries through tarnix.dll against the local service: what goes on the wire, and
// what the host reads back through the interfaces' slots; and the routes the requests take.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using namespace tarnix::test;

constexpr char kServiceHost[] = TARNIX_EXPECTED_SERVICE_HOST;  // the host the DLL was built for
const std::string kGatekeeper = "/vft/gatekeeper.ashx?op=";

void* Slot(void* request, int slot) { return (*reinterpret_cast<void***>(request))[slot]; }

// A value read as a host reads it: its length, then the value into exactly that much room; "<hr>"
// if the length cannot be had.
std::string Value(IQueryRequest* request, ULONG row, const char* name) {
    ULONG length = 0;
    const HRESULT hr = request->GetValueLength(row, name, &length);
    if (FAILED(hr)) return "<" + std::to_string(static_cast<unsigned long>(hr)) + ">";
    std::string value(length + 1, '\xCD');
    EXPECT_EQ(S_OK, request->GetValue(row, name, &value[0], length + 1));
    EXPECT_EQ('\0', value[length]);
    return value.substr(0, length);
}

// A count's first, second + 1 and last by slot (6, 4, 5): a failing getter shows its HRESULT's
// low word, "!" if it wrote the value anyway, "?" if a null out-parameter gave anything but E_POINTER.
std::string Values(ISearchCountRequest* request) {
    using Getter = HRESULT(STDMETHODCALLTYPE*)(ISearchCountRequest*, LONG*);
    std::string result;
    for (int slot : {6, 4, 5}) {
        const Getter get = reinterpret_cast<Getter>(Slot(request, slot));
        LONG value = 0x5eed;
        HRESULT hr = get(request, &value);
        result += (result.empty() ? "" : " ") + (SUCCEEDED(hr) ? std::to_string(value) : std::to_string(hr & 0xFFFF));
        if (FAILED(hr) && value != 0x5eed) result += "!";
        if (get(request, nullptr) != E_POINTER) result += "?";
    }
    return result;
}

class QueryExportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReachDirectly(service);
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
    }
    void TearDown() override { TARNIXTerminate(); }

    TestService service;
};

// Each query's path and its rows (the count by slot), read by name: '|' between values, names in any
// case, a missing child an empty value; a sign-in always has its one row. The answers invite caching,
// yet on the second pass every request still reaches the service (a sign-in address carries the password).
TEST_F(QueryExportsTest, EachQuerySendsItsTextsAndGivesItsRows) {
    const std::string none = "<exe>1.0.0</exe>";  // an exe outside any xapi is no version row
    const struct {
        HRESULT (*start)(IQueryRequest**);
        std::string answer, path, names;
        std::vector<std::string> rows;
    } cases[] = {
        {[](IQueryRequest** r) { return TarnixLogin("Ann O'Brien&x=1", "p\xE9+%?", r); },
         "<user><ATT>T1 &amp; \xE9</ATT></user><ATT>second</ATT>",
         "apilogin&username=Ann%20O%27Brien%26x%3d1&password=p%e9%2b%25%3f", "ATT|att", {"T1 & \xE9|T1 & \xE9"}},
        {[](IQueryRequest** r) { return TarnixListUserSites("Tk+%41&=~/", r); },
         "<sites><Site><SiteID>11</SiteID><SiteName>North</SiteName><SiteRights>rw</SiteRights><Rights>7</Rights></Site>"
         "<Site><SiteID>12</SiteID><SiteName>South</SiteName><Rights>1</Rights><Rights>2</Rights></Site></sites>",
         "apilistusersites&att=Tk+%41&=~/", "siteid|SiteName|SiteRights|rights", {"11|North|rw|7", "12|South||1"}},
        {[](IQueryRequest** r) { return TarnixListOnlineFamilyTrees("t&k=1", "co&b", r); },
         "<oft><SiteID>1</SiteID><SiteName>S</SiteName><CollectionID>c-1</CollectionID><OFTName>Smith tree</OFTName>"
         "<Permission>3</Permission><DownloadStatus>ready</DownloadStatus></oft><group><deeper><oft><SiteID>2</SiteID>"
         "<CollectionID>c-2</CollectionID><OFTName>Jones</OFTName><DownloadStatus>none</DownloadStatus></oft></deeper></group>",
         "oftlist&att=t&k=1&cobrand=co&b", "SiteID|SiteName|CollectionID|OFTName|Permission|DownloadStatus",
         {"1|S|c-1|Smith tree|3|ready", "2||c-2|Jones||none"}},
        {[](IQueryRequest** r) { return TarnixCheckVelmoraFamilyTreeVersion("7.2.15", "3.1+b%41", "1.0.0", "co&x=1", r); },
         none + "<a><xapi><exe>7.2.16</exe><webctl>3.1.0</webctl></xapi></a><xapi><exe>9.9.9</exe><tarnix>9.9.9</tarnix></xapi>",
         "versioncompare&exe=7.2.15&webctl=3.1+b%41&tarnix=1.0.0&cobrand=co&x=1", "EXE|webctl|TARNIX", {"7.2.16|3.1.0|"}},
        {[](IQueryRequest** r) { return TarnixLogin(nullptr, nullptr, r); }, none, "apilogin&username=&password=", "att", {""}},
        {[](IQueryRequest** r) { return TarnixCheckVelmoraFamilyTreeVersion(nullptr, nullptr, nullptr, nullptr, r); }, none,
         "versioncompare&exe=&webctl=&tarnix=&cobrand=", "", {}},
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.path);
            service.SetDefault(HttpAnswer{200, "OK", {{"Cache-Control", "max-age=86400"}}, "<r><ok/>" + c.answer + "</r>"});
            const size_t before = service.RequestCount();
            IQueryRequest* request = nullptr;
            ASSERT_EQ(S_OK, c.start(&request));
            ASSERT_EQ(S_OK, WaitForRequest(request));
            ASSERT_EQ(before + 1, service.RequestCount()) << "answered from the cache";
            EXPECT_EQ("GET " + kGatekeeper + c.path + " HTTP/1.0", service.Requests().back().requestLine);
            std::vector<std::string> rows(reinterpret_cast<ULONG(STDMETHODCALLTYPE*)(IQueryRequest*)>(Slot(request, 6))(request));
            for (ULONG row = 0; row < rows.size(); ++row)
                for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
                    end = c.names.find('|', at);
                    rows[row] += (at ? "|" : "") + Value(request, row, c.names.substr(at, end - at).c_str());
                }
            EXPECT_EQ(c.rows, rows);
            if (!rows.empty()) {  // no room for the terminator: refused, the buffer untouched
                const std::string name = c.names.substr(0, c.names.find('|'));
                std::string buffer(Value(request, 0, name.c_str()).size() + 2, 'x');
                EXPECT_EQ(E_INVALIDARG, request->GetValue(0, name.c_str(), &buffer[0], static_cast<ULONG>(buffer.size() - 2)));
                EXPECT_EQ(std::string(buffer.size(), 'x'), buffer);
            }
            // IUnknown is the request itself; nothing else is answered, and the out-parameter is left.
            void *unknown = nullptr, *other = reinterpret_cast<void*>(0xdeadbeef);
            EXPECT_EQ(S_OK, request->QueryInterface(IID_IUnknown, &unknown));
            EXPECT_EQ(static_cast<void*>(request), unknown);
            EXPECT_EQ(E_NOINTERFACE, request->QueryInterface(IID_IStream, &other));
            EXPECT_EQ(reinterpret_cast<void*>(0xdeadbeef), other);
            static_cast<IUnknown*>(unknown)->Release();
            EXPECT_EQ(0u, ReleaseLast(request));
        }
    }
}

// The host reads the first count, the second plus one and the last; an answer that is no count
// fails every getter, which write nothing. Until its answer has come, a count is pending, and so
// is a sign-in whose head is in but not its body.
TEST_F(QueryExportsTest, ACountGivesTheFirstTheSecondPlusOneAndTheLast) {
    const char* refused = "16389 16389 16389";  // E_FAIL from every getter
    const char* cases[][2] = {
        {"57,3", "57 4 3"}, {"57,3,8,12", "57 4 12"}, {"0,3,12", "0 1 0"}, {"-2,3,12", refused}, {"error", refused},
        {"Error\r\n,7,9", "0 1 0"}, {"12", refused}, {" 12, 4, 9", "12 5 9"},
        {"5,2147483646,9", "5 2147483647 9"}, {"5,2147483647,9", refused}};  // the second plus one must fit
    for (auto& c : cases) {
        SCOPED_TRACE(std::string("answer '") + c[0] + "'");
        service.SetDefault(HttpAnswer{200, "OK", {}, c[0]});
        ISearchCountRequest* request = nullptr;
        ASSERT_EQ(S_OK, TarnixSearchTree(nullptr, "", nullptr, 0, nullptr, -3, nullptr, nullptr, nullptr, nullptr, &request));
        const HRESULT status = WaitForRequest(request);
        EXPECT_EQ(kGatekeeper + "treesearchcount", service.Requests().back().Path()) << "null or empty texts and years below 1 left out";
        LONG state = 0x5eed;  // a failed request leaves the state as the caller set it
        EXPECT_TRUE(request->GetStatus(&state) == status && state == (SUCCEEDED(status) ? REQUEST_STATE_DONE : 0x5eed));
        EXPECT_EQ(c[1], Values(request));
        EXPECT_EQ(0u, ReleaseLast(request));
    }

    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    service.On("op=apilogin", HttpAnswer{200, "OK", {}, "<r><ok/><ATT>T1</ATT></r>", true, "", {SendBody(0), Hold(release)}});
    service.SetDefault(HttpAnswer{200, "OK", {}, "5,1,40", true, "", {Hold(release)}});
    IQueryRequest* login = nullptr;
    ISearchCountRequest* count = nullptr;
    const size_t before = service.RequestCount();
    ASSERT_EQ(S_OK, TarnixLogin("u", "p", &login));
    ASSERT_TRUE(service.WaitForRequests(before + 1));
    ASSERT_EQ(S_OK, TarnixSearchData("O Brien", "Mary Ann", "Cork", 850, "", -1, "Pat", nullptr, "", "c&b", &count));
    ASSERT_TRUE(service.WaitForRequests(before + 2));
    EXPECT_EQ(kGatekeeper + "datasearchcount&cobrand=c%26b&surname=O%20Brien&givennames=Mary%20Ann&birthplace=Cork"
                            "&birthyear=0850&father=Pat", service.Requests().back().Path());
    char buffer[16] = "untouched";
    EXPECT_EQ(E_PENDING, login->GetValue(0, "att", buffer, sizeof buffer));
    EXPECT_STREQ("untouched", buffer);
    EXPECT_EQ("10 10 10", Values(count)) << "E_PENDING, out values untouched";
    SetEvent(release);
    ASSERT_EQ(S_OK, WaitForRequest(login));
    EXPECT_EQ("T1", Value(login, 0, "att"));
    ASSERT_EQ(S_OK, WaitForRequest(count));
    EXPECT_EQ("5 2 40", Values(count));
    login->Release();
    count->Release();
    CloseHandle(release);
}

// Without TARNIX_SERVICE the gatekeeper is reached through the system's proxy at the built-in
// host. TARNIX_SERVICE, read by the outermost initialize, sends requests straight to another place,
// past a proxy where nothing listens, unless it is no "host[:port]". Browser addresses always name
// the built-in host.
TEST(ProxyRoutes, GatekeeperRequestsGoToTheBuiltInHostUnlessADevelopmentServiceIsNamed) {
    TestService service;
    service.SetDefault(HttpAnswer{200, "OK", {}, "<r><ok/><ATT>t</ATT></r>"});
    const struct { std::string value; bool direct; } cases[] = {
        {"", false}, {service.Address(), true}, {"127.0.0.1:99999", false}, {"http://127.0.0.1/", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ProxySetting proxy(c.direct ? 1 : service.Port());
        ASSERT_TRUE(SetEnvironmentVariableA("TARNIX_SERVICE", c.value.empty() ? nullptr : c.value.c_str()) || c.value.empty());
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
        const ReceivedRequest sent = service.Requests().back();
        EXPECT_EQ("GET " + (c.direct ? "" : "http://" + std::string(kServiceHost) + ":80") + kGatekeeper +
                      "apilogin&username=u&password=p HTTP/1.0", sent.requestLine);
        EXPECT_EQ(c.direct ? service.Address() : kServiceHost, sent.Header("Host"));
    }
}

}  // namespace
