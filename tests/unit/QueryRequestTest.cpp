// The query request as a host sees it (status, rows of named values, identity) and as a pool runs
// it, through a request whose Process the test scripts.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "RequestWait.h"
#include "frame/Library.h"
#include "requests/QueryRequest.h"

namespace tarnix {
namespace {

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
IQueryRequest* Start(ScriptedRequest::Script script) {
    auto* request = new ScriptedRequest(std::move(script));
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

// What Process raises is the status, which the getters return too; a host that let go ends the
// request without one.
TEST_F(QueryRequestTest, WhatProcessRaisesBecomesTheStatus) {
    const struct { const char* what; void (*raise)(); HRESULT status; } cases[] = {
        {"an HRESULT", [] { ThrowHr(0x80070005); }, static_cast<HRESULT>(0x80070005)},
        {"a foreign exception", [] { throw std::runtime_error("boom"); }, E_FAIL},
        {"lack of memory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {"the host gone", [] { throw RequestAbandoned(); }, S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE ran = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        IQueryRequest* request = Start([&](ScriptedRequest& r) {
            r.SetValue(0, "name", "partial");
            SetEvent(ran);
            c.raise();
        });
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ran, 10000));
        CloseHandle(ran);
        // Given up, it stays pending without a status: nobody is left to read one.
        EXPECT_EQ(FAILED(c.status) ? c.status : E_PENDING, test::WaitForRequest(request, FAILED(c.status) ? 10000 : 200));
        char buffer[16];
        EXPECT_EQ(FAILED(c.status) ? c.status : E_PENDING, request->GetValue(0, "name", buffer, sizeof buffer));
        request->Release();
    }
}

// A finished request as a host reads it: rows up to the highest written, names without case, the
// later of two writes, and a value handed out only into room for it and its terminator.
TEST_F(QueryRequestTest, AFinishedRequestHandsOutTheRowsItsScriptWrote) {
    IQueryRequest* request = Start([](ScriptedRequest& r) {
        r.SetValue(2, "Name", "third");
        r.SetValue(0, "Name", "first");
        r.SetValue(0, "NAME", "abcdef");
        r.SetValue(0, nullptr, nullptr);
        r.SetFinished();
    });
    ASSERT_EQ(S_OK, test::WaitForRequest(request));
    EXPECT_EQ(3u, request->GetRowCount());
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(E_INVALIDARG, request->GetValue(1, "name", buffer, sizeof buffer)) << "no such value";
    EXPECT_EQ(E_INVALIDARG, request->GetValue(0, "name", buffer, 6));
    EXPECT_EQ(0, std::memcmp(buffer, "xxxxxxxx", 8)) << "a refused buffer stays untouched";
    EXPECT_EQ(S_OK, request->GetValue(0, "name", buffer, 7));
    EXPECT_EQ(0, std::memcmp(buffer, "abcdef\0x", 8)) << "the value and its terminator, nothing more";
    ULONG length = 0;
    EXPECT_EQ(S_OK, request->GetValueLength(2, "nAmE", &length));
    EXPECT_EQ(5u, length);
    EXPECT_EQ(S_OK, request->GetValue(0, "", buffer, sizeof buffer)) << "a null name and value are stored as empty";
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(E_POINTER, request->GetValueLength(0, "name", nullptr));
    EXPECT_EQ(E_POINTER, request->GetValue(0, "name", nullptr, 7));
    EXPECT_EQ(E_POINTER, request->GetStatus(nullptr));
    request->Release();
}

// Both interfaces answer IUnknown with the main one and count into one reference count; nothing
// else is answered, and the object goes with its last reference.
TEST_F(QueryRequestTest, QueryInterfaceAnswersIUnknownAsTheMainInterface) {
    auto* object = new ScriptedRequest([](ScriptedRequest&) {});
    object->AddRef();
    IQueryRequest* main = object;
    void* unknown = nullptr;
    void* fromJob = nullptr;
    ASSERT_EQ(S_OK, main->QueryInterface(IID_IUnknown, &unknown));
    ASSERT_EQ(S_OK, object->Job()->QueryInterface(IID_IUnknown, &fromJob));
    EXPECT_EQ(static_cast<void*>(main), unknown);
    EXPECT_EQ(unknown, fromJob);
    void* other = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(E_NOINTERFACE, main->QueryInterface(IID_IStream, &other));
    EXPECT_EQ(reinterpret_cast<void*>(0xdeadbeef), other);
    EXPECT_EQ(4u, object->Job()->AddRef());
    for (int i = 0; i < 3; ++i) main->Release();
    EXPECT_EQ(1, LiveRequestCount());
    EXPECT_EQ(0u, main->Release());
    EXPECT_EQ(0, LiveRequestCount()) << "not destroyed";
}

// Two holders letting go at the same moment, from three references to one: however the two
// interleave, the host has let go and the flag must end cleared. Both threads meet on every round.
TEST(QueryRequestRelease, TwoReleasesAtOnceClearTheWantedFlag) {
    constexpr LONG kRounds = 100000;
    ScriptedRequest* current = nullptr;
    volatile LONG round = 0, done = 0;
    auto spinUntil = [](volatile LONG& value, LONG wanted) {
        for (int spins = 0; value != wanted; ++spins)
            if (spins % 4096 == 4095) SwitchToThread();  // a busy machine must not stall the test
    };
    std::thread other([&] {
        for (LONG r = 1; r <= kRounds; ++r) {
            spinUntil(round, r);
            current->Release();
            InterlockedExchange(&done, r);
        }
    });
    int stillWanted = 0;
    for (LONG r = 1; r <= kRounds; ++r) {
        auto* request = new ScriptedRequest([](ScriptedRequest&) {});
        request->Configure("svc.tarnix.example", "/p");
        for (int i = 0; i < 3; ++i) request->AddRef();
        current = request;
        InterlockedExchange(&round, r);
        for (volatile LONG delay = 0; delay < r % 97; delay = delay + 1) {
        }  // sweeps the moment of this release across the other's
        request->Release();
        spinUntil(done, r);
        stillWanted += request->Wanted();
        request->Release();
    }
    other.join();
    EXPECT_EQ(0, stillWanted);
}

}  // namespace
}  // namespace tarnix
