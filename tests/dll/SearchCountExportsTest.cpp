// Search counts through tarnix.dll against the local service: the path on the wire, the values
// read from the plain-text answer through the interface's slots, and the search pool working
// apart from the general pool.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using tarnix::test::HttpAnswer;
using tarnix::test::WaitForRequest;

HttpAnswer Text(const std::string& body, HANDLE hold = nullptr) {
    HttpAnswer answer{200, "OK", {{"Content-Type", "text/plain"}}, body};
    answer.hold = hold;
    answer.holdBeforeHead = hold != nullptr;
    return answer;
}

// First, second + 1 and last, read by slot as a C host does (6 GetFirstValue, 4 GetSecondValue,
// 5 GetLastValue); a failing getter shows its HRESULT, and "!" if it wrote the value anyway; "?"
// marks a getter that took a null out-parameter for anything but E_POINTER.
std::string Values(ISearchCountRequest* request) {
    using Getter = HRESULT(STDMETHODCALLTYPE*)(ISearchCountRequest*, LONG*);
    std::string result;
    for (int slot : {6, 4, 5}) {
        const Getter get = reinterpret_cast<Getter>((*reinterpret_cast<void***>(request))[slot]);
        LONG value = 0x5eed;
        HRESULT hr = get(request, &value);
        result += (result.empty() ? "" : " ") + (SUCCEEDED(hr) ? std::to_string(value) : std::to_string(hr & 0xFFFF));
        if (FAILED(hr) && value != 0x5eed) result += "!";
        if (get(request, nullptr) != E_POINTER) result += "?";
    }
    return result;
}

ISearchCountRequest* StartTreeCount(ISearchCountRequest* request = nullptr) {
    EXPECT_EQ(S_OK, TarnixSearchTree("Smith", nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, &request));
    return request;
}

class SearchCountExportsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, TARNIXInitialize(0)); }
    void TearDown() override { TARNIXTerminate(); }

    tarnix::test::TestService service;
    tarnix::test::ProxySetting proxy{service.Port()};
};

TEST_F(SearchCountExportsTest, TheAnswerGivesTheFirstTheSecondPlusOneAndTheLast) {
    const char* refused = "16389 16389 16389";  // E_FAIL from every getter
    const char* cases[][2] = {
        {"57,3,12", "57 4 12"}, {"57,3", "57 4 3"},   {"57,3,8,12", "57 4 12"}, {"0,3,12", "0 1 0"},
        {"-2,3,12", "0 1 0"},   {"", "0 1 0"},        {"ERROR", refused},       {"error", refused},
        {"Error\r\n", refused}, {"Error\r\n,7,9", "0 1 0"},  // not the refusal: numbers, a count of 0
        {"12", refused},        {" 12, 4, 9", "12 5 9"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string("answer '") + c[0] + "'");
        service.SetDefault(Text(c[0]));
        ISearchCountRequest* request = StartTreeCount();
        HRESULT status = WaitForRequest(request);
        LONG state = 0x5eed;
        EXPECT_EQ(status, request->GetStatus(&state));
        EXPECT_EQ(SUCCEEDED(status) ? REQUEST_STATE_DONE : 0x5eed, state);
        EXPECT_EQ(c[1], Values(request));
        EXPECT_EQ(0u, request->Release());
    }
}

TEST_F(SearchCountExportsTest, EachCountSendsItsOperationAndTheSearchQuery) {
    service.SetDefault(Text("1,1,1"));
    ISearchCountRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixSearchData("O Brien", "Mary Ann", "Cork", 850, "", -1, "Pat", nullptr, "", "c&b", &request));
    EXPECT_EQ(S_OK, WaitForRequest(request));
    request->Release();
    ASSERT_EQ(S_OK, TarnixSearchTree(nullptr, "", nullptr, 0, nullptr, -3, nullptr, nullptr, nullptr, nullptr, &request));
    EXPECT_EQ(S_OK, WaitForRequest(request));
    request->Release();
    ASSERT_EQ(2u, service.RequestCount());
    EXPECT_EQ(TARNIX_EXPECTED_SERVICE_HOST, service.Requests()[0].Host());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=datasearchcount&cobrand=c%26b&surname=O%20Brien&givennames=Mary%20Ann"
              "&birthplace=Cork&birthyear=0850&father=Pat",
              service.Requests()[0].Path());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=treesearchcount", service.Requests()[1].Path());
    EXPECT_EQ(E_POINTER, TarnixSearchData("a", 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr));
}

// Both general workers wait on a silent service; five counts still reach the service at once, on
// search workers of their own, read as pending meanwhile, and finish together once answered.
TEST_F(SearchCountExportsTest, FiveSlowCountsFinishTogetherWhileTheGeneralPoolIsBusy) {
    HANDLE general = CreateEventA(nullptr, TRUE, FALSE, nullptr), counts = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    service.On("op=apilogin", Text("<r><ok/></r>", general));
    service.On("op=treesearchcount", Text("5,1,40", counts));
    std::vector<IQueryRequest*> logins(2);
    for (IQueryRequest*& login : logins) ASSERT_EQ(S_OK, TarnixLogin("u", "p", &login));
    ASSERT_TRUE(service.WaitForRequests(2, 20000));
    std::vector<ISearchCountRequest*> searches;
    for (int i = 0; i < 5; ++i) searches.push_back(StartTreeCount());
    EXPECT_TRUE(service.WaitForRequests(7, 20000)) << "the counts waited for the general pool or for each other";
    LONG state = -1;
    EXPECT_EQ(S_OK, searches[0]->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state);
    EXPECT_EQ("10 10 10", Values(searches[0])) << "E_PENDING, out values untouched";

    SetEvent(counts);
    for (ISearchCountRequest* search : searches) {
        EXPECT_EQ(S_OK, WaitForRequest(search));
        EXPECT_EQ("5 2 40", Values(search));
        search->Release();
    }
    EXPECT_EQ(S_OK, logins[0]->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state) << "the general pool is still held";
    SetEvent(general);
    for (IQueryRequest* login : logins) {
        EXPECT_EQ(S_OK, WaitForRequest(login));
        login->Release();
    }
    CloseHandle(general);
    CloseHandle(counts);
}

}  // namespace
