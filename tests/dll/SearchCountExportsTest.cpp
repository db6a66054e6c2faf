// Search counts through tarnix.dll against the local service: the path on the wire, and the values
// read from the plain-text answer through the interface's slots.
#include <gtest/gtest.h>

#include <string>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using tarnix::test::HttpAnswer;
using tarnix::test::ReleaseLast;
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
        EXPECT_EQ(0u, ReleaseLast(request));
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

// A count waiting for its answer reads as pending, its values untouched, then as its answer. (That
// the counts have workers of their own, five, is the fault suite's: it holds every worker at once.)
TEST_F(SearchCountExportsTest, ACountReadsAsPendingUntilItsAnswerArrives) {
    HANDLE answer = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    service.SetDefault(Text("5,1,40", answer));
    ISearchCountRequest* search = StartTreeCount();
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    LONG state = -1;
    EXPECT_EQ(S_OK, search->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state);
    EXPECT_EQ("10 10 10", Values(search)) << "E_PENDING, out values untouched";
    SetEvent(answer);
    EXPECT_EQ(S_OK, WaitForRequest(search));
    EXPECT_EQ("5 2 40", Values(search));
    search->Release();
    CloseHandle(answer);
}

}  // namespace
