// The pools and the requests they run, from the inside.
#include "requests/Thread.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "requests/QueryRequest.h"
#include "support/Handles.h"
#include "support/Result.h"

namespace tarnix {
namespace {

// A stand-in job: counts its references, notes its worker and start order, waits until opened, then acts (may throw).
class JobProbe final : public IRequestJob {
public:
    explicit JobProbe(bool held = false) : gate(CreateEventA(nullptr, TRUE, !held, nullptr)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    void STDMETHODCALLTYPE Run() override {
        static volatile LONG s_starts = 0;
        thread = GetCurrentThreadId();
        order = InterlockedIncrement(&s_starts);
        SetEvent(started.get());
        WaitForSingleObject(gate.get(), INFINITE);
        if (action) action();
    }
    UniqueKernelHandle gate, started{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    void (*action)() = nullptr;
    volatile LONG refs = 1, order = 0;
    DWORD thread = 0;
};

// What OutputDebugStringA hands a debugger, caught as the exception that carries it.
std::vector<std::pair<DWORD, std::string>> g_debugLines;
LONG CALLBACK CatchDebugLine(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_C && record.NumberParameters >= 2)
        g_debugLines.emplace_back(GetCurrentThreadId(), reinterpret_cast<const char*>(record.ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

// One worker reports each job that throws (an HRESULT, a foreign exception, an integer) and takes the next, in the
// order queued; stuck in a job (as one blocked in the platform would be) it does not hold the stop, and releases it later.
TEST(ThreadPoolTest, WorkerReportsEachThrowingJobTakesTheNextAndIsGivenUpOnWhenStuck) {
    std::deque<JobProbe> probes;
    for (void (*raise)() : {+[] { ThrowHr(E_UNEXPECTED); }, +[] { throw std::runtime_error("job failed"); }, +[] { throw 7; }})
        probes.emplace_back().action = raise;
    probes.emplace_back();
    JobProbe& stuck = probes.emplace_back(true);
    auto* pool = new CThreadPool;
    pool->AddRef();
    pool->Start(1, 10);
    PVOID catcher = AddVectoredExceptionHandler(1, &CatchDebugLine);
    for (JobProbe& probe : probes) pool->QueueJob(&probe);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stuck.started.get(), 10000));
    RemoveVectoredExceptionHandler(catcher);
    const ULONGLONG start = GetTickCount64();
    pool->Release();
    EXPECT_LT(GetTickCount64() - start, 10000u) << "the stop waited for the stuck worker";
    SetEvent(stuck.gate.get());
    for (int i = 0; i < 2000 && stuck.refs != 1; ++i) Sleep(5);
    // Each ran once, in turn, on the one worker, and every reference the pool took came back.
    for (size_t i = 0; i < probes.size(); ++i)
        EXPECT_TRUE(probes[i].refs == 1 && probes[i].thread == probes[0].thread && probes[i].order == probes[0].order + LONG(i)) << i;
    const decltype(g_debugLines) expected(3, {stuck.thread, "Thread.cpp(35): Caught unhandled exception in CThreadPool::ThreadProc\r\n"});
    EXPECT_EQ(g_debugLines, expected);
}

struct IdleRequest : CQueryRequest {
    void Process() override {}
};

// Two holders letting go at the same moment, from three references to one: however they interleave,
// the host has let go and the flag must end cleared.
TEST(RequestRelease, TwoReleasesAtOnceClearTheWantedFlag) {
    constexpr LONG kRounds = 100000;
    IdleRequest* current = nullptr;
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
        auto* request = new IdleRequest;
        request->Configure("svc.tarnix.example", "/p");
        for (int i = 0; i < 3; ++i) request->AddRef();
        current = request;
        InterlockedExchange(&round, r);
        for (volatile LONG delay = 0; delay < r % 97; delay = delay + 1) continue;  // sweeps this release across the other's
        request->Release();
        spinUntil(done, r);
        stillWanted += request->Wanted();
        request->Release();
    }
    other.join();
    EXPECT_EQ(0, stillWanted);
    EXPECT_EQ(0, LiveRequestCount()) << "not destroyed";
}

}  // namespace
}  // namespace tarnix
