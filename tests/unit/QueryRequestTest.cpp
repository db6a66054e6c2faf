// The query request as a host sees it (status, state, rows of named values) and as a pool
// runs it, through a request whose Process the test scripts.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <stdexcept>
#include <string>

#include "RequestWait.h"
#include "frame/Library.h"
#include "requests/QueryRequest.h"

namespace tarnix {
namespace {

using test::WaitForRequest;

class ScriptedRequest : public CQueryRequest {
public:
    using Script = std::function<void(ScriptedRequest&)>;
    explicit ScriptedRequest(Script script) : m_script(std::move(script)) {}

    using CQueryRequest::SetFinished;
    using CQueryRequest::SetValue;
    using CRequestCore::Wanted;

protected:
    void Process() override { m_script(*this); }

private:
    Script m_script;
};

// A request configured and queued as every export does, handed out with the host's reference.
IQueryRequest* Start(ScriptedRequest* request) {
    request->AddRef();
    request->Configure("svc.tarnix.example", "/vft/gatekeeper.ashx?op=test");
    QueueOnGeneralPool(request->Job());
    return request;
}

class QueryRequestTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, TARNIXInitialize(0)); }
    void TearDown() override { TARNIXTerminate(); }
};

TEST_F(QueryRequestTest, WhatProcessRaisesBecomesTheStatus) {
    const struct { const char* what; void (*raise)(); HRESULT status; } cases[] = {
        {"an HRESULT", [] { ThrowHr(0x80070005); }, static_cast<HRESULT>(0x80070005)},
        {"a foreign exception", [] { throw std::runtime_error("boom"); }, E_FAIL},
        {"an integer", [] { throw 42; }, E_FAIL},
        {"lack of memory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IQueryRequest* request = Start(new ScriptedRequest([&](ScriptedRequest& r) {
            r.SetValue(0, "name", "partial");
            c.raise();
        }));
        EXPECT_EQ(c.status, WaitForRequest(request));
        // The results' getters return it too. (A failed request's state left as it was is the count exports'.)
        char buffer[16];
        ULONG length = 0;
        EXPECT_EQ(c.status, request->GetValue(0, "name", buffer, sizeof buffer));
        EXPECT_EQ(c.status, request->GetValueLength(0, "name", &length));
        request->Release();
    }
}

// A finished request as a host reads it: rows up to the highest written, names without case, the
// later of two writes, and a value handed out only into room for it and its terminator.
TEST_F(QueryRequestTest, AFinishedRequestHandsOutTheRowsItsScriptWrote) {
    IQueryRequest* request = Start(new ScriptedRequest([](ScriptedRequest& r) {
        r.SetValue(0, "Name", "first");
        r.SetValue(2, "Name", "third");
        r.SetValue(0, "NAME", "second write");
        r.SetValue(0, nullptr, nullptr);
        r.SetValue(0, "ticket", "abcdef");
        r.SetFinished();
    }));
    ASSERT_EQ(S_OK, WaitForRequest(request));
    const auto value = [&](ULONG row, const char* name) {
        char buffer[256] = {};
        return SUCCEEDED(request->GetValue(row, name, buffer, sizeof buffer)) ? std::string(buffer) : "<error>";
    };
    EXPECT_EQ(3u, request->GetRowCount());
    EXPECT_EQ("second write", value(0, "name"));
    EXPECT_EQ("third", value(2, "name"));
    EXPECT_EQ("<error>", value(1, "name"));
    EXPECT_EQ("", value(0, "")) << "a null name and value are stored as empty text";
    EXPECT_EQ("", value(0, nullptr));

    ULONG length = 0;
    ASSERT_EQ(S_OK, request->GetValueLength(0, "ticket", &length));
    EXPECT_EQ(6u, length);
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(E_INVALIDARG, request->GetValue(0, "ticket", buffer, 6));
    EXPECT_EQ(0, std::memcmp(buffer, "xxxxxxxx", 8)) << "a refused buffer stays untouched";
    EXPECT_EQ(S_OK, request->GetValue(0, "ticket", buffer, 7));
    EXPECT_EQ(0, std::memcmp(buffer, "abcdef\0x", 8)) << "the value and its terminator, nothing more";

    // Null out-pointers are refused, not written through.
    EXPECT_EQ(E_POINTER, request->GetValueLength(0, "ticket", nullptr));
    EXPECT_EQ(E_POINTER, request->GetValue(0, "ticket", nullptr, 7));
    EXPECT_EQ(E_POINTER, request->GetStatus(nullptr));
    request->Release();
}

TEST_F(QueryRequestTest, QueryInterfaceAnswersIUnknownAsTheMainInterface) {
    auto* object = new ScriptedRequest([](ScriptedRequest&) {});
    object->AddRef();
    IQueryRequest* main = object;
    IRequestJob* job = object->Job();

    void* unknown = nullptr;
    ASSERT_EQ(S_OK, main->QueryInterface(IID_IUnknown, &unknown));
    EXPECT_EQ(static_cast<void*>(main), unknown);
    void* fromJob = nullptr;
    ASSERT_EQ(S_OK, job->QueryInterface(IID_IUnknown, &fromJob));
    EXPECT_EQ(unknown, fromJob) << "both interfaces share one identity";

    void* other = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(E_NOINTERFACE, main->QueryInterface(IID_IStream, &other));
    EXPECT_EQ(reinterpret_cast<void*>(0xdeadbeef), other);
    EXPECT_EQ(E_POINTER, main->QueryInterface(IID_IUnknown, nullptr));

    // Both interfaces count into one reference count: 1 + 2 from QueryInterface.
    EXPECT_EQ(4u, job->AddRef());
    EXPECT_EQ(3u, job->Release());
    static_cast<IUnknown*>(unknown)->Release();
    static_cast<IUnknown*>(fromJob)->Release();
    EXPECT_EQ(1, LiveRequestCount());
    EXPECT_EQ(0u, main->Release());
    EXPECT_EQ(0, LiveRequestCount()) << "not destroyed";
}

// Two holders letting go at the same moment, from three references to one: however the two
// interleave, the host has let go and the flag must end cleared. This thread and one other meet
// on every round, so that the releases really overlap.
void SpinUntil(volatile LONG& value, LONG wanted) {
    for (int spins = 0; value != wanted; ++spins)
        if (spins % 4096 == 4095) SwitchToThread();  // a busy machine must not stall the test
}

TEST(QueryRequestRelease, TwoReleasesAtOnceClearTheWantedFlag) {
    constexpr LONG kRounds = 100000;
    ScriptedRequest* current = nullptr;
    volatile LONG round = 0, done = 0;
    std::thread other([&] {
        for (LONG r = 1; r <= kRounds; ++r) {
            SpinUntil(round, r);
            current->Release();
            InterlockedExchange(&done, r);
        }
    });
    int stillWanted = 0;
    for (LONG r = 1; r <= kRounds; ++r) {
        ScriptedRequest* request = new ScriptedRequest([](ScriptedRequest&) {});
        request->Configure("svc.tarnix.example", "/p");
        for (int i = 0; i < 3; ++i) request->AddRef();
        current = request;
        InterlockedExchange(&round, r);
        for (volatile LONG delay = 0; delay < r % 97; delay = delay + 1) {
        }  // sweeps the moment of this release across the other's
        request->Release();
        SpinUntil(done, r);
        stillWanted += request->Wanted();
        request->Release();
    }
    other.join();
    EXPECT_EQ(0, stillWanted);
}

}  // namespace
}  // namespace tarnix
