// CThreadPool: the queue limit and order, jobs dropped at the stop, a stuck worker, and a worker
// that survives a throwing job. (COM on the workers is every query's; the workers' end at the
// last terminate is the lifecycle exports' test.)
#include "requests/Thread.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "JobProbe.h"
#include "support/Result.h"

namespace tarnix {
namespace {

using test::JobProbe;

// A started pool fed from `probes`. Declared after them, it stops first, and opens every gate on
// the way so that a failed assertion never leaves the stop waiting on a held worker.
class StartedPool {
public:
    StartedPool(std::deque<JobProbe>& probes, ULONG threads, ULONG queueLimit) : m_probes(probes) {
        m_pool->AddRef();
        m_pool->Start(threads, queueLimit);
    }
    ~StartedPool() { Stop(); }
    HRESULT Queue(JobProbe& job) { return GuardHr([&] { return m_pool->QueueJob(&job), S_OK; }); }
    ULONG Queued() const { return m_pool->QueuedCount(); }
    // Gives up the only reference: the stop waits for every worker to end.
    void Stop() {
        for (JobProbe& probe : m_probes) probe.Open();
        if (m_pool) std::exchange(m_pool, nullptr)->Release();
    }

private:
    std::deque<JobProbe>& m_probes;
    CThreadPool* m_pool = new CThreadPool;
};

TEST(ThreadPoolTest, FullQueueRefusesJobsUntilAWorkerTakesOne) {
    constexpr ULONG kLimit = 1000;
    JobProbe refused;
    std::deque<JobProbe> probes;
    StartedPool pool(probes, 1, kLimit);
    ASSERT_EQ(pool.Queue(probes.emplace_back(true)), S_OK);
    ASSERT_TRUE(probes[0].WaitStarted());
    // The worker is held in the first probe; the queue fills behind it, led by one that holds it again.
    for (ULONG i = 0; i < kLimit; ++i) ASSERT_EQ(pool.Queue(probes.emplace_back(i == 0)), S_OK) << i;
    EXPECT_EQ(pool.Queue(refused), E_FAIL);
    EXPECT_EQ(pool.Queued(), kLimit);

    probes[0].Open();
    ASSERT_TRUE(probes[1].WaitStarted());
    EXPECT_EQ(pool.Queued(), kLimit - 1);
    EXPECT_EQ(pool.Queue(probes.emplace_back()), S_OK);
    EXPECT_EQ(pool.Queue(refused), E_FAIL) << "full again";

    probes[1].Open();
    ASSERT_TRUE(probes.back().WaitFinished());
    pool.Stop();
    EXPECT_TRUE(refused.Settled(0)) << "a refused job keeps no reference";
    size_t wrong = 0;
    for (size_t i = 0; i < probes.size(); ++i)
        wrong += !probes[i].Settled(1) || probes[i].order != probes[0].order + LONG(i) || probes[i].thread != probes[0].thread;
    EXPECT_EQ(wrong, 0u) << "jobs that did not run once, in the order queued, on the one worker";
}

// The held workers are ended as though they had died in their jobs, so the stop finds the waiting
// jobs still queued with no worker to take one. (Workers let go instead might take a job before
// the stop begins, and nothing outside shows that moment.)
TEST(ThreadPoolTest, StopReleasesWaitingJobsOnceWithoutRunningThem) {
    constexpr ULONG kWorkers = 2, kWaiting = 12;
    std::deque<JobProbe> probes;
    StartedPool pool(probes, kWorkers, 100);
    for (ULONG i = 0; i < kWorkers; ++i) ASSERT_EQ(pool.Queue(probes.emplace_back(true)), S_OK);
    for (JobProbe& held : probes) {
        ASSERT_TRUE(held.WaitStarted());
        UniqueKernelHandle worker(OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, held.thread));
        ASSERT_TRUE(worker && TerminateThread(worker.get(), 0xDEAD));
        ASSERT_EQ(WaitForSingleObject(worker.get(), test::kGenerousWaitMs), WAIT_OBJECT_0);
    }
    for (ULONG i = 0; i < kWaiting; ++i) ASSERT_EQ(pool.Queue(probes.emplace_back()), S_OK);
    ASSERT_EQ(pool.Queued(), kWaiting);
    pool.Stop();
    size_t wrong = 0;
    for (size_t i = kWorkers; i < probes.size(); ++i) wrong += !probes[i].Settled(0);
    EXPECT_EQ(wrong, 0u) << "waiting jobs that ran or were not released exactly once";
}

// A worker stuck inside its job (as one blocked in the platform would be) does not hold the stop:
// the stop gives up on it after its short wait, and the worker finishes its job later on its own.
TEST(ThreadPoolTest, AStopGivesUpOnAWorkerStuckInItsJob) {
    std::deque<JobProbe> probes;
    StartedPool pool(probes, 1, 10);
    JobProbe stuck(true);  // not among `probes`: the stop does not open it
    ASSERT_EQ(pool.Queue(stuck), S_OK);
    ASSERT_TRUE(stuck.WaitStarted());
    const ULONGLONG start = GetTickCount64();
    pool.Stop();
    EXPECT_LT(GetTickCount64() - start, 10000u) << "the stop waited for the stuck worker";
    stuck.Open();
    ASSERT_TRUE(stuck.WaitFinished());
    for (int i = 0; i < 2000 && !stuck.Settled(1); ++i) Sleep(5);
    EXPECT_TRUE(stuck.Settled(1)) << "the late worker did not release its job";
}

// The text OutputDebugStringA hands to a debugger, caught as the exception that carries it.
std::vector<std::pair<DWORD, std::string>> g_debugLines;
LONG CALLBACK CatchDebugLine(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_C && record.NumberParameters >= 2)
        g_debugLines.emplace_back(GetCurrentThreadId(), reinterpret_cast<const char*>(record.ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

// Three jobs throwing in turn (an HRESULT, a foreign exception, an integer), then one that does not:
// the one worker reports each throw and takes the next job.
TEST(ThreadPoolTest, WorkerReportsEachThrowingJobAndTakesTheNext) {
    std::deque<JobProbe> probes;
    StartedPool pool(probes, 1, 10);
    for (void (*raise)() :
         {+[] { ThrowHr(E_UNEXPECTED); }, +[] { throw std::runtime_error("job failed"); }, +[] { throw 7; }})
        probes.emplace_back().action = raise;
    const JobProbe& next = probes.emplace_back();
    g_debugLines.clear();
    PVOID catcher = AddVectoredExceptionHandler(1, &CatchDebugLine);
    for (JobProbe& probe : probes) EXPECT_EQ(pool.Queue(probe), S_OK);
    EXPECT_TRUE(next.WaitFinished());
    pool.Stop();
    RemoveVectoredExceptionHandler(catcher);
    for (const JobProbe& probe : probes) {
        EXPECT_TRUE(probe.Settled(1));
        EXPECT_EQ(probe.thread, next.thread) << "a job ran on another worker";
    }
    const decltype(g_debugLines) expected(
        3, {next.thread, "Thread.cpp(35): Caught unhandled exception in CThreadPool::ThreadProc\r\n"});
    EXPECT_EQ(g_debugLines, expected);
}

}  // namespace
}  // namespace tarnix
