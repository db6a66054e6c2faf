// One HTTP exchange: the body read into a stream, and the platform's cache left alone. (The
// request's bytes are the exports' tests, a name that does not resolve the transfer dialogs';
// statuses, bad answers, stalls and hosts letting go are the fault suite's.)
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <string>
#include <vector>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "frame/Library.h"
#include "requests/QueryRequest.h"
#include "transport/FetchToStream.h"

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
        ComPtr<IStream> stream = FetchToStream(*this, Host(), Path());
        char block[1024];
        for (ULONG read = 0; SUCCEEDED(stream->Read(block, sizeof block, &read)) && read > 0;) body.append(block, read);
        SetFinished();
    }
};

class FetchToStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, TARNIXInitialize(0)); }
    void TearDown() override { TARNIXTerminate(); }

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
TEST_F(FetchToStreamTest, EachFetchGoesPastThePlatformsCache) {
    service.On("op=probe", HttpAnswer{200, "OK", {{"Cache-Control", "public, max-age=86400"},
                                                  {"Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT"}}, "<ok/>"});
    // An entry left in the prefix by a run of faulty code would otherwise fail every later run.
    DeleteUrlCacheEntryA((std::string("http://") + kHost + kPath).c_str());
    for (int i = 0; i < 2; ++i) EXPECT_EQ("<ok/>", Fetch());
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

}  // namespace
}  // namespace tarnix
