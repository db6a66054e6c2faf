// One HTTP exchange: the body read into a stream, the platform's cache left alone, and every WinINet
// handle closed, children first. (The request's bytes are the exports' tests, a name that does not
// resolve the transfer dialogs'; statuses, bad answers, stalls and hosts letting go are the fault suite's.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "frame/Library.h"
#include "requests/QueryRequest.h"
#include "transport/FetchToStream.h"
#include "transport/Inet.h"

namespace tarnix {
namespace {

using test::HttpAnswer;
using test::ProxySetting;
using test::TestService;
using test::WaitForRequest;

constexpr char kHost[] = "svc.tarnix.example", kPath[] = "/vft/gatekeeper.ashx?op=probe";

class FetchProbe : public CQueryRequest {
public:
    std::string body;

protected:
    void Process() override {
        ComPtr<IStream> stream = FetchToStream(*this, Host(), Path(), "GET", nullptr, 0, nullptr, 0);
        char block[1024];
        for (ULONG read = 0; SUCCEEDED(stream->Read(block, sizeof block, &read)) && read > 0;) body.append(block, read);
        SetFinished();
    }
};

// Every WinINet handle the chains open and close, in order.
struct HandleEvent { bool opened; HINTERNET handle; };
CriticalSection g_logGuard;
std::vector<HandleEvent> g_log;

void Log(bool opened, HINTERNET handle) {
    Lock lock(g_logGuard);
    g_log.push_back({opened, handle});
}

std::vector<HandleEvent> TakeLog() {
    Lock lock(g_logGuard);
    return std::exchange(g_log, {});
}

// Every handle opened was closed once, children before their parents.
void ExpectAllClosedChildFirst(const std::vector<HandleEvent>& events) {
    EXPECT_FALSE(events.empty());
    std::vector<HINTERNET> open;
    for (const HandleEvent& e : events) {
        if (e.opened) {
            open.push_back(e.handle);
        } else {
            ASSERT_FALSE(open.empty()) << "a handle closed twice";
            EXPECT_EQ(open.back(), e.handle) << "request, then connection, then session";
            open.pop_back();
        }
    }
    EXPECT_TRUE(open.empty()) << "a handle left open";
}

class FetchToStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        TakeLog();
        InetHandleObservers() = {[](InetLevel, HINTERNET h) { Log(true, h); }, [](InetLevel, HINTERNET h) { Log(false, h); }};
    }
    void TearDown() override {
        TARNIXTerminate();
        InetHandleObservers() = {nullptr, nullptr};
    }

    // Runs a probe as an export would; the body it read, or "<failed>".
    static std::string Fetch() {
        auto* probe = new FetchProbe;
        probe->AddRef();
        probe->Configure(kHost, kPath);
        QueueOnGeneralPool(probe->Job());
        const std::string body = WaitForRequest(static_cast<IQueryRequest*>(probe)) == S_OK ? probe->body : "<failed>";
        probe->Release();
        return body;
    }

    TestService service;
    ProxySetting proxy{service.Port()};
};

// Two fetches of an answer that invites caching: nothing is written to the platform's cache (the
// sign-in address carries a password) and nothing is served from it, so each goes out the same.
TEST_F(FetchToStreamTest, EachFetchGoesPastThePlatformsCacheAndClosesEveryHandleChildFirst) {
    service.On("op=probe", HttpAnswer{200, "OK", {{"Cache-Control", "public, max-age=86400"},
                                                  {"Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT"}}, "<ok/>"});
    // An entry left in the prefix by a run of faulty code would otherwise fail every later run.
    DeleteUrlCacheEntryA((std::string("http://") + kHost + kPath).c_str());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ("<ok/>", Fetch());
        ExpectAllClosedChildFirst(TakeLog());
    }
    ASSERT_EQ(2u, service.RequestCount()) << "the second answer came from the cache";
    EXPECT_EQ(service.Requests()[0].raw, service.Requests()[1].raw);

    std::vector<char> entry(16384);
    DWORD size = static_cast<DWORD>(entry.size());
    auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(entry.data());
    HANDLE find = FindFirstUrlCacheEntryA(nullptr, info, &size);
    for (BOOL more = find != nullptr; more; more = FindNextUrlCacheEntryA(find, info, &size)) {
        EXPECT_EQ(nullptr, std::strstr(info->lpszSourceUrlName, "op=probe")) << info->lpszSourceUrlName;
        size = static_cast<DWORD>(entry.size());
    }
    if (find) FindCloseUrlCache(find);
}

// A platform call that fails without saying why is still a failure: a read that ended the body
// as if whole, or a header query that left its buffer unset, would pass for success.
TEST(InetChain, CallsThatFailWithoutALastErrorStillFail) {
    SetLastError(ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT), InetCallResult(FALSE));
    SetLastError(0);
    EXPECT_EQ(E_FAIL, InetCallResult(FALSE));
    EXPECT_EQ(S_OK, InetCallResult(TRUE));
}

}  // namespace
}  // namespace tarnix
