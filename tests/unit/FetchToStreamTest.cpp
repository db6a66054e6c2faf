// One HTTP exchange: the request line through the proxy, the body read into a stream, the
// platform's cache left alone, and every WinINet handle closed, children first. (The whole
// request's bytes are the exports' tests; statuses, bad answers, stalls and hosts letting go are
// the fault suite's.)
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

constexpr char kHost[] = "svc.tarnix.example";
constexpr char kPath[] = "/vft/gatekeeper.ashx?op=probe&att=a%20b&x=1";

// What one fetch read: the stream's position as handed over, and the body.
struct FetchOutcome {
    ULONGLONG position = ~0ull;
    std::string body;
};

class FetchProbe : public CQueryRequest {
public:
    explicit FetchProbe(FetchOutcome& outcome) : m_outcome(outcome) {}

protected:
    void Process() override {
        ComPtr<IStream> stream = FetchToStream(*this, Host(), Path(), "GET", nullptr, 0, nullptr, 0);
        LARGE_INTEGER zero = {};
        ULARGE_INTEGER position = {};
        stream->Seek(zero, STREAM_SEEK_CUR, &position);
        m_outcome.position = position.QuadPart;
        char block[1024];
        for (ULONG read = 0; SUCCEEDED(stream->Read(block, sizeof block, &read)) && read > 0;)
            m_outcome.body.append(block, read);
        SetFinished();
    }

private:
    FetchOutcome& m_outcome;
};

// Records every WinINet handle the chains open and close, in order.
struct HandleLog {
    struct Event {
        bool opened;
        InetLevel level;
        HINTERNET handle;
    };
    static inline CriticalSection guard;
    static inline std::vector<Event> events;

    static void Record(bool opened, InetLevel level, HINTERNET h) {
        Lock lock(guard);
        events.push_back({opened, level, h});
    }
    static void Opened(InetLevel level, HINTERNET h) { Record(true, level, h); }
    static void Closing(InetLevel level, HINTERNET h) { Record(false, level, h); }
    static std::vector<Event> Take() {
        Lock lock(guard);
        return std::exchange(events, {});
    }
};

class FetchToStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        HandleLog::Take();
        InetHandleObservers() = {&HandleLog::Opened, &HandleLog::Closing};
    }
    void TearDown() override {
        TARNIXTerminate();
        InetHandleObservers() = {nullptr, nullptr};
    }

    // Runs a probe as an export would; its final status.
    static HRESULT Fetch(FetchOutcome& outcome, const char* host = kHost) {
        auto* probe = new FetchProbe(outcome);
        probe->AddRef();
        probe->Configure(host, kPath);
        QueueOnGeneralPool(probe->Job());
        const HRESULT hr = WaitForRequest(static_cast<IQueryRequest*>(probe));
        probe->Release();
        return hr;
    }

    // Every handle opened was closed once, children before their parents.
    static void ExpectAllClosedChildFirst(const std::vector<HandleLog::Event>& events) {
        std::vector<InetLevel> opened, closed;
        for (const auto& e : events) (e.opened ? opened : closed).push_back(e.level);
        ASSERT_FALSE(opened.empty());
        EXPECT_EQ(opened.size(), closed.size()) << "every handle opened is closed";
        std::vector<InetLevel> expectedClosing(opened.rbegin(), opened.rend());
        EXPECT_EQ(expectedClosing, closed) << "request, then connection, then session";
        for (const auto& e : events) {
            if (!e.opened) continue;
            int closes = 0;
            for (const auto& c : events) closes += !c.opened && c.handle == e.handle;
            EXPECT_EQ(1, closes);
        }
    }

    TestService service;
    ProxySetting proxy{service.Port()};
};

TEST_F(FetchToStreamTest, SendsAnHttp10GetAndClosesEveryHandleChildFirst) {
    service.On("op=probe", HttpAnswer{200, "OK", {}, "<ok/>"});
    FetchOutcome outcome;
    ASSERT_EQ(S_OK, Fetch(outcome));
    EXPECT_EQ("<ok/>", outcome.body);
    EXPECT_EQ(0u, outcome.position) << "the stream is given back rewound";

    ASSERT_EQ(1u, service.RequestCount());
    // Through a proxy the request line carries the absolute address, default port included.
    EXPECT_EQ(std::string("GET http://") + kHost + ":80" + kPath + " HTTP/1.0", service.Requests()[0].requestLine);
    ExpectAllClosedChildFirst(HandleLog::Take());
}

TEST_F(FetchToStreamTest, AnUnresolvableNameFailsWithTheWinInetError) {
    ProxySetting direct = ProxySetting::Off();
    FetchOutcome outcome;
    EXPECT_EQ(static_cast<HRESULT>(0x80072EE7), Fetch(outcome, "no-such-host.invalid"));
    EXPECT_EQ("", outcome.body);
    std::vector<HandleLog::Event> events = HandleLog::Take();
    ExpectAllClosedChildFirst(events);
    int requests = 0;
    for (const auto& e : events) requests += e.opened && e.level == InetLevel::Request;
    EXPECT_EQ(1, requests) << "the name is resolved at the send, after the request was opened";
}

// Nothing is written to the platform's cache (the sign-in address carries a password) and nothing
// is served from it: an answer that invites caching is fetched again, with the same request.
TEST_F(FetchToStreamTest, ThePlatformsCacheIsNeitherWrittenNorRead) {
    HttpAnswer cacheable{200, "OK", {{"Cache-Control", "public, max-age=86400"}, {"Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT"}}, "<ok/>"};
    service.On("op=probe", cacheable);
    FetchOutcome first, second;
    ASSERT_EQ(S_OK, Fetch(first));
    ASSERT_EQ(S_OK, Fetch(second));
    EXPECT_EQ("<ok/>", second.body);
    ASSERT_EQ(2u, service.RequestCount()) << "the second answer came from the cache";
    auto sent = service.Requests();
    EXPECT_EQ(sent[0].raw, sent[1].raw);

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
