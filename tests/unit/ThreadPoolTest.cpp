// CThreadPool: a stuck worker, and a worker that survives a throwing job and keeps the queue's
// order. (The queue limit and the jobs dropped at the stop are the load test's, COM on the workers
// is every query's, the workers' end at the last terminate is the lifecycle exports' test.)
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

// A started pool of one worker fed from `probes`. Declared after them, it stops first, and opens
// every gate on the way so that a failed assertion never leaves the stop waiting on a held worker.
class StartedPool {
public:
    explicit StartedPool(std::deque<JobProbe>& probes) : m_probes(probes) {
        m_pool->AddRef();
        m_pool->Start(1, 10);
    }
    ~StartedPool() { Stop(); }
    HRESULT Queue(JobProbe& job) { return GuardHr([&] { return m_pool->QueueJob(&job), S_OK; }); }
    // Gives up the only reference: the stop waits for every worker to end.
    void Stop() {
        for (JobProbe& probe : m_probes) probe.Open();
        if (m_pool) std::exchange(m_pool, nullptr)->Release();
    }

private:
    std::deque<JobProbe>& m_probes;
    CThreadPool* m_pool = new CThreadPool;
};

// A worker stuck inside its job (as one blocked in the platform would be) does not hold the stop:
// the stop gives up on it after its short wait, and the worker finishes its job later on its own.
TEST(ThreadPoolTest, AStopGivesUpOnAWorkerStuckInItsJob) {
    std::deque<JobProbe> probes;
    StartedPool pool(probes);
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
// the one worker reports each throw and takes the next job, in the order queued.
TEST(ThreadPoolTest, WorkerReportsEachThrowingJobAndTakesTheNext) {
    std::deque<JobProbe> probes;
    StartedPool pool(probes);
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
    for (size_t i = 0; i < probes.size(); ++i) {
        EXPECT_TRUE(probes[i].Settled(1));
        EXPECT_EQ(probes[i].thread, next.thread) << "a job ran on another worker";
        EXPECT_EQ(probes[i].order, probes[0].order + LONG(i)) << "out of the order queued";
    }
    const decltype(g_debugLines) expected(
        3, {next.thread, "Thread.cpp(35): Caught unhandled exception in CThreadPool::ThreadProc\r\n"});
    EXPECT_EQ(g_debugLines, expected);
}

}  // namespace
}  // namespace tarnix
