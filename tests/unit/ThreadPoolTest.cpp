// CThreadPool: the queue limit, start order, jobs dropped at the stop, workers that survive a
// throwing job, the stop's wait for its workers, and COM on the workers.
#include "requests/Thread.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "JobProbe.h"
#include "support/Result.h"

namespace tarnix {
namespace {

using test::JobProbe;
using test::kGenerousWaitMs;
using test::ProbeSet;

// A started pool fed from `probes`. Declared after them, it goes first, and opens every gate on
// the way so that a failed assertion never leaves the stop waiting on a held worker.
class StartedPool {
public:
    StartedPool(ProbeSet& probes, ULONG threads, ULONG queueLimit) : m_probes(probes), m_pool(new CThreadPool) {
        m_pool->AddRef();
        m_pool->Start(threads, queueLimit);
    }
    ~StartedPool() {
        m_probes.OpenAll();
        Stop();
    }
    // The HRESULT that QueueJob raised, S_OK if none.
    HRESULT Queue(IRequestJob* job) {
        try {
            m_pool->QueueJob(job);
        } catch (const HResultError& e) {
            return e.Code();
        }
        return S_OK;
    }
    ULONG Queued() const { return m_pool->QueuedCount(); }
    // Gives up the test's reference: the stop waits for every worker to end.
    void Stop() {
        if (CThreadPool* pool = std::exchange(m_pool, nullptr)) pool->Release();
    }
    UniqueKernelHandle StopOnAnotherThread() {
        return test::RunOnThread([pool = std::exchange(m_pool, nullptr)] { pool->Release(); });
    }

private:
    ProbeSet& m_probes;
    CThreadPool* m_pool;
};

TEST(ThreadPoolTest, FullQueueRefusesJobsUntilAWorkerTakesOne) {
    constexpr ULONG kLimit = 1000;
    ProbeSet probes;
    StartedPool pool(probes, 1, kLimit);
    JobProbe& first = probes.Add(JobProbe::kClosed);
    ASSERT_EQ(pool.Queue(&first), S_OK);
    ASSERT_TRUE(probes.log.WaitForStarts(1));

    // The worker is held in `first`; the queue fills behind it, led by a probe that holds it again.
    JobProbe& second = probes.Add(JobProbe::kClosed);
    for (ULONG i = 0; i < kLimit; ++i) ASSERT_EQ(pool.Queue(i == 0 ? &second : &probes.Add()), S_OK) << i;
    JobProbe refused(&probes.log, JobProbe::kOpen);
    EXPECT_EQ(pool.Queue(&refused), E_FAIL);
    EXPECT_EQ(refused.HeldReferences(), 0) << "a refused job keeps no reference";
    EXPECT_EQ(pool.Queued(), kLimit);

    first.Open();
    ASSERT_TRUE(probes.log.WaitForStarts(2));
    EXPECT_EQ(pool.Queued(), kLimit - 1);
    EXPECT_EQ(pool.Queue(&probes.Add()), S_OK);
    EXPECT_EQ(pool.Queue(&refused), E_FAIL) << "full again";

    second.Open();
    ASSERT_TRUE(probes.log.WaitForFinishes(probes.size()));
    pool.Stop();
    EXPECT_EQ(probes.Unsettled(0, probes.size(), 1), 0u);
    EXPECT_EQ(refused.Runs(), 0);
    std::vector<test::JobLog::Start> starts = probes.log.Starts();
    size_t outOfOrder = 0;
    for (size_t i = 0; i < starts.size(); ++i)
        if (starts[i].probe != &probes[i] || starts[i].thread != starts[0].thread) ++outOfOrder;
    EXPECT_EQ(outOfOrder, 0u) << "one worker starts jobs in the order they were queued";
}

// With several workers, whichever worker comes free takes the oldest waiting job: after every
// release the jobs started are exactly the oldest ones.
TEST(ThreadPoolTest, SeveralWorkersStartJobsInQueueOrder) {
    constexpr ULONG kWorkers = 3;
    constexpr size_t kJobs = 10;
    ProbeSet probes;
    StartedPool pool(probes, kWorkers, kJobs);
    for (size_t i = 0; i < kJobs; ++i) ASSERT_EQ(pool.Queue(&probes.Add(JobProbe::kClosed)), S_OK);

    std::vector<JobProbe*> held;
    for (size_t started = kWorkers; started <= kJobs; ++started) {
        SCOPED_TRACE(testing::Message() << started << " started");
        ASSERT_TRUE(probes.log.WaitForStarts(started));
        std::vector<JobProbe*> order = probes.log.StartOrder();
        ASSERT_EQ(order.size(), started) << "a job started while every worker was held";
        std::set<JobProbe*> expected, actual(order.begin(), order.end());
        for (size_t i = 0; i < started; ++i) expected.insert(&probes[i]);
        EXPECT_EQ(actual, expected);
        if (started == kWorkers)
            held = order;
        else
            held.push_back(order.back());
        // Let the held jobs go from the middle, so that the worker that comes free varies.
        auto next = held.begin() + static_cast<std::ptrdiff_t>(held.size() / 2);
        (*next)->Open();
        held.erase(next);
    }
}

TEST(ThreadPoolTest, StopReleasesWaitingJobsOnceWithoutRunningThem) {
    constexpr size_t kWaiting = 12;
    for (ULONG threads : {1u, 3u}) {
        SCOPED_TRACE(testing::Message() << threads << " workers");
        ProbeSet probes;
        StartedPool pool(probes, threads, 100);
        for (ULONG i = 0; i < threads; ++i) ASSERT_EQ(pool.Queue(&probes.Add(JobProbe::kClosed)), S_OK);
        ASSERT_TRUE(probes.log.WaitForStarts(threads));
        for (size_t i = 0; i < kWaiting; ++i) ASSERT_EQ(pool.Queue(&probes.Add()), S_OK);
        ASSERT_TRUE(test::EndHeldWorkers(probes.log));
        ASSERT_EQ(pool.Queued(), kWaiting);

        pool.Stop();
        EXPECT_EQ(probes.log.Starts().size(), threads) << "a waiting job ran";
        EXPECT_EQ(probes.Unsettled(threads, probes.size(), 0), 0u);
    }
}

// A stop that begins while a job runs waits for it; the worker releases the job before the stop
// returns. (However long the stop is watched, a correct one cannot return while the job is held.)
TEST(ThreadPoolTest, StopWaitsForTheJobInHand) {
    ProbeSet probes;
    StartedPool pool(probes, 1, 10);
    JobProbe& running = probes.Add(JobProbe::kClosed);
    ASSERT_EQ(pool.Queue(&running), S_OK);
    ASSERT_TRUE(probes.log.WaitForStarts(1));

    UniqueKernelHandle stopper = pool.StopOnAnotherThread();
    ASSERT_TRUE(stopper);
    EXPECT_EQ(WaitForSingleObject(stopper.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT)) << "the stop did not wait";
    running.Open();
    ASSERT_EQ(WaitForSingleObject(stopper.get(), kGenerousWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(probes.Unsettled(0, 1, 1), 0u);
}

TEST(ThreadPoolTest, StoppingAnIdlePoolEndsEveryWorker) {
    constexpr ULONG kWorkers = 3;
    ProbeSet probes;
    StartedPool pool(probes, kWorkers, 10);
    // Holding every worker at once shows each one's thread.
    for (ULONG i = 0; i < kWorkers; ++i) ASSERT_EQ(pool.Queue(&probes.Add(JobProbe::kClosed)), S_OK);
    ASSERT_TRUE(probes.log.WaitForStarts(kWorkers));
    std::vector<UniqueKernelHandle> workers;
    for (const test::JobLog::Start& start : probes.log.Starts())
        workers.emplace_back(OpenThread(SYNCHRONIZE, FALSE, start.thread));
    probes.OpenAll();
    ASSERT_TRUE(probes.log.WaitForFinishes(kWorkers));

    UniqueKernelHandle stopper = pool.StopOnAnotherThread();
    ASSERT_TRUE(stopper);
    ASSERT_EQ(WaitForSingleObject(stopper.get(), kGenerousWaitMs), WAIT_OBJECT_0) << "the stop did not return";
    for (size_t i = 0; i < workers.size(); ++i)
        EXPECT_EQ(WaitForSingleObject(workers[i].get(), 0), WAIT_OBJECT_0) << "worker " << i << " still runs";
}

// The text OutputDebugStringA hands to a debugger, caught as the exception that carries it.
std::vector<std::pair<DWORD, std::string>> g_debugLines;
LONG CALLBACK CatchDebugLine(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_C && record.NumberParameters >= 2)
        g_debugLines.emplace_back(GetCurrentThreadId(),
                                  reinterpret_cast<const char*>(record.ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(ThreadPoolTest, WorkerReportsAThrowingJobAndGoesOn) {
    const std::pair<const char*, void (*)()> throwers[] = {
        {"HResultError", [] { ThrowHr(E_UNEXPECTED); }},
        {"std::runtime_error", [] { throw std::runtime_error("job failed"); }},
        {"int", [] { throw 7; }},
    };
    for (const auto& [name, raise] : throwers) {
        SCOPED_TRACE(name);
        ProbeSet probes;
        StartedPool pool(probes, 1, 10);
        g_debugLines.clear();
        PVOID catcher = AddVectoredExceptionHandler(1, &CatchDebugLine);
        JobProbe& throwing = probes.Add();
        throwing.SetAction(raise);
        JobProbe& next = probes.Add();
        ASSERT_EQ(pool.Queue(&throwing), S_OK);
        ASSERT_EQ(pool.Queue(&next), S_OK);
        ASSERT_TRUE(probes.log.WaitForFinishes(2));
        pool.Stop();
        RemoveVectoredExceptionHandler(catcher);

        EXPECT_EQ(probes.Unsettled(0, 2, 1), 0u);
        EXPECT_EQ(next.RunThread(), throwing.RunThread()) << "the next job ran on another worker";
        ASSERT_EQ(g_debugLines.size(), 1u);
        EXPECT_EQ(g_debugLines[0].first, throwing.RunThread());
        EXPECT_EQ(g_debugLines[0].second, "Thread.cpp(35): Caught unhandled exception in CThreadPool::ThreadProc\r\n");
    }
}

TEST(ThreadPoolTest, JobsRunInsideTheWorkersSingleThreadedApartment) {
    ProbeSet probes;
    StartedPool pool(probes, 2, 10);
    struct Seen {
        HRESULT coInitialize = E_UNEXPECTED;
        APTTYPE apartment = APTTYPE_CURRENT;
    } seen[2];
    for (Seen& s : seen) {
        JobProbe& probe = probes.Add(JobProbe::kClosed);
        probe.SetAction([&s] {
            APTTYPEQUALIFIER qualifier;
            CoGetApartmentType(&s.apartment, &qualifier);
            s.coInitialize = CoInitialize(nullptr);
            if (SUCCEEDED(s.coInitialize)) CoUninitialize();
        });
        ASSERT_EQ(pool.Queue(&probe), S_OK);
    }
    ASSERT_TRUE(probes.log.WaitForStarts(2));  // both held at once: one on each worker
    probes.OpenAll();
    ASSERT_TRUE(probes.log.WaitForFinishes(2));
    for (const Seen& s : seen) {
        EXPECT_EQ(s.coInitialize, S_FALSE) << "COM was not initialized on the worker";
        EXPECT_TRUE(s.apartment == APTTYPE_STA || s.apartment == APTTYPE_MAINSTA) << s.apartment;
    }
}

}  // namespace
}  // namespace tarnix
