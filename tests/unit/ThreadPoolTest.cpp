// The pools and the requests they run, from the inside: a stuck worker does not hold a stop, a
// worker survives throwing jobs, and the wanted flag survives holders letting go at once.
#include "requests/Thread.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "requests/QueryRequest.h"
#include "support/Handles.h"
#include "support/Result.h"

namespace tarnix {
namespace {

// A stand-in job: counts its references and runs, notes its worker and the order it started in,
// holds its worker until opened, then does its action (which may throw).
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
        InterlockedIncrement(&runs);
        SetEvent(started.get());
        WaitForSingleObject(gate.get(), INFINITE);
        SetEvent(finished.get());
        if (action) action();
    }
    // Ran once and every reference a pool took came back: the test's own one is all that is left.
    bool Settled() const { return runs == 1 && refs == 1; }

    UniqueKernelHandle gate, started{CreateEventA(nullptr, TRUE, FALSE, nullptr)},
        finished{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    void (*action)() = nullptr;
    volatile LONG refs = 1, runs = 0, order = 0;
    DWORD thread = 0;
};

// One worker; the stop opens every probe's gate first, so that a failed check never leaves it
// waiting on a held worker.
struct StartedPool {
    explicit StartedPool(std::deque<JobProbe>& probes) : probes(probes) {
        pool->AddRef();
        pool->Start(1, 10);
    }
    ~StartedPool() { Stop(); }
    void Stop() {
        for (JobProbe& probe : probes) SetEvent(probe.gate.get());
        if (pool) std::exchange(pool, nullptr)->Release();
    }
    std::deque<JobProbe>& probes;
    CThreadPool* pool = new CThreadPool;
};

// A worker stuck inside its job (as one blocked in the platform would be) does not hold the stop:
// it gives up on it after its short wait, and the worker finishes and releases its job later.
TEST(ThreadPoolTest, AStopGivesUpOnAWorkerStuckInItsJob) {
    std::deque<JobProbe> probes;
    StartedPool pool(probes);
    JobProbe stuck(true);  // not among `probes`: the stop does not open it
    pool.pool->QueueJob(&stuck);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stuck.started.get(), 10000));
    const ULONGLONG start = GetTickCount64();
    pool.Stop();
    EXPECT_LT(GetTickCount64() - start, 10000u) << "the stop waited for the stuck worker";
    SetEvent(stuck.gate.get());
    for (int i = 0; i < 2000 && !stuck.Settled(); ++i) Sleep(5);
    EXPECT_TRUE(stuck.Settled()) << "the late worker did not release its job";
}

// The text OutputDebugStringA hands to a debugger, caught as the exception that carries it.
std::vector<std::pair<DWORD, std::string>> g_debugLines;
LONG CALLBACK CatchDebugLine(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_C && record.NumberParameters >= 2)
        g_debugLines.emplace_back(GetCurrentThreadId(), reinterpret_cast<const char*>(record.ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

// Jobs throwing in turn (an HRESULT, a foreign exception, an integer), then one that does not: the
// one worker reports each throw and takes the next job, in the order queued.
TEST(ThreadPoolTest, WorkerReportsEachThrowingJobAndTakesTheNext) {
    std::deque<JobProbe> probes;
    StartedPool pool(probes);
    for (void (*raise)() : {+[] { ThrowHr(E_UNEXPECTED); }, +[] { throw std::runtime_error("job failed"); }, +[] { throw 7; }})
        probes.emplace_back().action = raise;
    JobProbe& next = probes.emplace_back();
    g_debugLines.clear();
    PVOID catcher = AddVectoredExceptionHandler(1, &CatchDebugLine);
    for (JobProbe& probe : probes) pool.pool->QueueJob(&probe);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(next.finished.get(), 10000));
    pool.Stop();
    RemoveVectoredExceptionHandler(catcher);
    for (size_t i = 0; i < probes.size(); ++i) {
        EXPECT_TRUE(probes[i].Settled());
        EXPECT_EQ(probes[i].thread, next.thread) << "a job ran on another worker";
        EXPECT_EQ(probes[i].order, probes[0].order + LONG(i)) << "out of the order queued";
    }
    const decltype(g_debugLines) expected(3, {next.thread, "Thread.cpp(35): Caught unhandled exception in CThreadPool::ThreadProc\r\n"});
    EXPECT_EQ(g_debugLines, expected);
}

class IdleRequest : public CQueryRequest {
public:
    using CRequestCore::Wanted;

protected:
    void Process() override {}
};

// Two holders letting go at the same moment, from three references to one: however the two
// interleave, the host has let go and the flag must end cleared. Both threads meet on every round.
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
        for (volatile LONG delay = 0; delay < r % 97; delay = delay + 1) {
        }  // sweeps the moment of this release across the other's
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
