// Search counts through tarnix.dll against the local service: the path on the wire, the three
// values read from the plain-text answer through the interface's slots, and the search pool
// working apart from the general pool.
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
using tarnix::test::WaitForRequest;

HttpAnswer Text(const std::string& body) { return HttpAnswer{200, "OK", {{"Content-Type", "text/plain"}}, body}; }

// The getters by slot, as a C host calls them: 4 GetSecondValue, 5 GetLastValue, 6 GetFirstValue.
HRESULT CallSlot(ISearchCountRequest* request, int slot, LONG* value) {
    using Getter = HRESULT(STDMETHODCALLTYPE*)(ISearchCountRequest*, LONG*);
    return reinterpret_cast<Getter>((*reinterpret_cast<void***>(request))[slot])(request, value);
}

// "first second+1 last" read by slot, or the getters' common failure.
std::string Values(ISearchCountRequest* request) {
    std::string result;
    for (int slot : {6, 4, 5}) {
        LONG value = 0x5eed;
        HRESULT hr = CallSlot(request, slot, &value);
        result += FAILED(hr) ? "<" + std::to_string(static_cast<unsigned long>(hr)) + ">" : std::to_string(value);
        if (FAILED(hr) && value != 0x5eed) result += "<written>";
        if (slot != 5) result += " ";
    }
    return result;
}

ISearchCountRequest* StartTreeCount(const char* surname) {
    ISearchCountRequest* request = nullptr;
    EXPECT_EQ(S_OK, TarnixSearchTree(surname, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                     &request));
    return request;
}

class SearchCountExportsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, TARNIXInitialize(0)); }
    void TearDown() override { TARNIXTerminate(); }

    TestService service;
    ProxySetting proxy{service.Port()};
};

TEST_F(SearchCountExportsTest, TheAnswerGivesTheFirstTheSecondPlusOneAndTheLast) {
    const std::string efail = "<" + std::to_string(static_cast<unsigned long>(E_FAIL)) + ">";
    const std::string refused = efail + " " + efail + " " + efail;
    struct Case {
        const char* answer;
        std::string values;  // first, second + 1, last
    } cases[] = {
        {"57,3,12", "57 4 12"},   {"57,3", "57 4 3"},         {"57,3,8,12", "57 4 12"},
        {"0,3,12", "0 1 0"},      {"-2,3,12", "0 1 0"},       {"", "0 1 0"},
        {"ERROR", refused},       {"error", refused},         {"Error", refused},
        {"Error\r\n", refused},   {"Error\r\n,7,9", "0 1 0"},  // not the refusal: numbers, count 0
        {"12", refused},          {" 12, 4, 9", "12 5 9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("answer '") + c.answer + "'");
        service.SetDefault(Text(c.answer));
        ISearchCountRequest* request = StartTreeCount("Smith");
        ASSERT_NE(nullptr, request);
        HRESULT status = WaitForRequest(request);
        LONG state = 0x5eed;
        EXPECT_EQ(status, request->GetStatus(&state));
        EXPECT_EQ(SUCCEEDED(status) ? REQUEST_STATE_DONE : 0x5eed, state);
        EXPECT_EQ(c.values, Values(request));
        EXPECT_EQ(0u, request->Release());
    }
}

TEST_F(SearchCountExportsTest, EachCountSendsItsOperationAndTheSearchQuery) {
    service.SetDefault(Text("1,1,1"));
    ISearchCountRequest* tree = StartTreeCount(nullptr);
    ASSERT_EQ(S_OK, WaitForRequest(tree));
    tree->Release();
    ISearchCountRequest* data = nullptr;
    ASSERT_EQ(S_OK, TarnixSearchData("O Brien", "Mary Ann", "Cork", 850, "", -1, "Pat", nullptr, "", "c&b", &data));
    ASSERT_EQ(S_OK, WaitForRequest(data));
    data->Release();

    auto sent = service.Requests();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(TARNIX_EXPECTED_SERVICE_HOST, sent[0].Host());
    EXPECT_EQ("GET", sent[0].method);
    EXPECT_EQ("/vft/gatekeeper.ashx?op=treesearchcount", sent[0].Path());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=datasearchcount&cobrand=c%26b&surname=O%20Brien&givennames=Mary%20Ann"
              "&birthplace=Cork&birthyear=0850&father=Pat",
              sent[1].Path());
}

TEST_F(SearchCountExportsTest, ValuesReadBeforeTheAnswerArePendingAndLeaveTheOutValueAlone) {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer held = Text("7,2,30");
    held.hold = release;
    held.holdBeforeHead = true;
    service.SetDefault(held);
    ISearchCountRequest* request = StartTreeCount("Smith");
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    LONG state = -1;
    EXPECT_EQ(S_OK, request->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state);
    const std::string pending = "<" + std::to_string(static_cast<unsigned long>(E_PENDING)) + ">";
    EXPECT_EQ(pending + " " + pending + " " + pending, Values(request));

    SetEvent(release);
    ASSERT_EQ(S_OK, WaitForRequest(request));
    EXPECT_EQ("7 3 30", Values(request));
    request->Release();
    CloseHandle(release);
}

// Both general workers wait on a silent service; five counts still reach the service at once,
// each on a search worker of its own, and finish together when the service answers them.
TEST_F(SearchCountExportsTest, FiveSlowCountsFinishTogetherWhileTheGeneralPoolIsBusy) {
    HANDLE general = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE counts = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer login{200, "OK", {}, "<r><ok/><ATT>t</ATT></r>"};
    login.hold = general;
    login.holdBeforeHead = true;
    service.On("op=apilogin", login);
    HttpAnswer count = Text("5,1,40");
    count.hold = counts;
    count.holdBeforeHead = true;
    service.On("op=treesearchcount", count);

    std::vector<IQueryRequest*> logins(2);
    for (IQueryRequest*& request : logins) ASSERT_EQ(S_OK, TarnixLogin("u", "p", &request));
    ASSERT_TRUE(service.WaitForRequests(2, 20000));
    std::vector<ISearchCountRequest*> searches;
    for (int i = 0; i < 5; ++i) searches.push_back(StartTreeCount("Smith"));
    EXPECT_TRUE(service.WaitForRequests(7, 20000)) << "the counts waited for the general pool or for each other";

    SetEvent(counts);
    for (ISearchCountRequest* request : searches) {
        EXPECT_EQ(S_OK, WaitForRequest(request));
        EXPECT_EQ("5 2 40", Values(request));
        request->Release();
    }
    LONG state = -1;
    EXPECT_EQ(S_OK, logins[0]->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state) << "the general pool is still held";
    SetEvent(general);
    for (IQueryRequest* request : logins) {
        EXPECT_EQ(S_OK, WaitForRequest(request));
        request->Release();
    }
    CloseHandle(general);
    CloseHandle(counts);
}

TEST(SearchCountExportsUninitialized, StartNothingAndHandOutNothing) {
    EXPECT_EQ(E_POINTER, TarnixSearchTree("a", 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr));
    ISearchCountRequest* request = reinterpret_cast<ISearchCountRequest*>(0x1);
    EXPECT_EQ(E_FAIL, TarnixSearchTree("a", 0, 0, 0, 0, 0, 0, 0, 0, 0, &request));
    EXPECT_EQ(E_FAIL, TarnixSearchData("a", 0, 0, 0, 0, 0, 0, 0, 0, 0, &request));
    EXPECT_EQ(reinterpret_cast<ISearchCountRequest*>(0x1), request);
}

}  // namespace
