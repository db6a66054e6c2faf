// TARNIXInitialize / TARNIXTerminate and the two pools they start, seen from inside the library.
#include "frame/Library.h"

#include <gtest/gtest.h>

#include <set>

#include "JobProbe.h"
#include "support/Result.h"
#include "tarnix.h"

namespace tarnix {
namespace {

using test::JobProbe;

struct PoolCase {
    const char* name;
    void (*queue)(IRequestJob*);
    ULONG workers;
};
const PoolCase kGeneral = {"general pool", &QueueOnGeneralPool, kGeneralPoolThreads};
const PoolCase kSearch = {"search pool", &QueueOnSearchPool, kSearchPoolThreads};

// The HRESULT that queueing raised, S_OK if none.
HRESULT Queue(const PoolCase& pool, IRequestJob* job) {
    try {
        pool.queue(job);
    } catch (const HResultError& e) {
        return e.Code();
    }
    return S_OK;
}

// Every test starts and ends with the library not initialized; the probes are let go before the
// last TARNIXTerminate, so that a failed assertion never leaves the stop waiting on a worker.
class LifecycleTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InitializationCount(), 0); }
    void TearDown() override {
        probes.OpenAll();
        while (InitializationCount() > 0) TARNIXTerminate();
    }
    static void ExpectPools(bool running) {
        EXPECT_EQ(GeneralPoolRunning(), running);
        EXPECT_EQ(SearchPoolRunning(), running);
    }

    // Holds every worker of `pool` with jobs queued behind them, ends the held workers and makes
    // the last TARNIXTerminate: the waiting jobs must be released once each and never run.
    void ExpectTerminateDropsWaitingJobs(const PoolCase& pool) {
        constexpr size_t kWaiting = 8;
        ASSERT_EQ(TARNIXInitialize(0), S_OK);
        for (ULONG i = 0; i < pool.workers; ++i) ASSERT_EQ(Queue(pool, &probes.Add(JobProbe::kClosed)), S_OK);
        ASSERT_TRUE(probes.log.WaitForStarts(pool.workers));
        for (size_t i = 0; i < kWaiting; ++i) ASSERT_EQ(Queue(pool, &probes.Add()), S_OK);
        ASSERT_TRUE(test::EndHeldWorkers(probes.log));

        TARNIXTerminate();
        ExpectPools(false);
        EXPECT_EQ(probes.log.Starts().size(), pool.workers) << "a waiting job ran";
        EXPECT_EQ(probes.Unsettled(pool.workers, probes.size(), 0), 0u);
    }

    test::ProbeSet probes;
};

TEST_F(LifecycleTest, NestedCallsKeepThePoolsUntilTheLastTerminate) {
    LONG depth = 0;
    for (DWORD reserved : {0u, 1u, 0xFFFFFFFFu}) {  // accepted and not used
        EXPECT_EQ(TARNIXInitialize(reserved), S_OK);
        EXPECT_EQ(InitializationCount(), ++depth);
        ExpectPools(true);
    }
    while (depth > 0) {
        SCOPED_TRACE(testing::Message() << "terminate at " << depth);
        TARNIXTerminate();
        EXPECT_EQ(InitializationCount(), --depth);
        ExpectPools(depth > 0);
    }
}

TEST_F(LifecycleTest, UnmatchedTerminateKeepsTheCountAtZero) {
    for (int pairsFirst : {0, 1}) {
        SCOPED_TRACE(pairsFirst ? "after a completed pair" : "before any initialize");
        if (pairsFirst) {
            ASSERT_EQ(TARNIXInitialize(0), S_OK);
            TARNIXTerminate();
        }
        TARNIXTerminate();
        TARNIXTerminate();
        EXPECT_EQ(InitializationCount(), 0);
        ExpectPools(false);

        ASSERT_EQ(TARNIXInitialize(0), S_OK);
        EXPECT_EQ(InitializationCount(), 1);
        ExpectPools(true);
        for (const PoolCase* pool : {&kGeneral, &kSearch}) EXPECT_EQ(Queue(*pool, &probes.Add()), S_OK) << pool->name;
        EXPECT_TRUE(probes.log.WaitForFinishes(probes.size())) << "the pools do not run jobs";
        TARNIXTerminate();
        EXPECT_EQ(InitializationCount(), 0);
    }
}

TEST_F(LifecycleTest, QueueingFailsWhileNotInitialized) {
    for (bool startedBefore : {false, true}) {
        if (startedBefore) {
            ASSERT_EQ(TARNIXInitialize(0), S_OK);
            TARNIXTerminate();
        }
        for (const PoolCase* pool : {&kGeneral, &kSearch}) {
            SCOPED_TRACE(testing::Message() << pool->name << (startedBefore ? " after terminate" : " never started"));
            JobProbe& probe = probes.Add();
            EXPECT_EQ(Queue(*pool, &probe), E_FAIL);
            EXPECT_EQ(probe.HeldReferences(), 0);
        }
    }
}

// With every worker of both pools held at once, each job's thread belongs to its pool; one more
// job per pool can then only start on a thread of that pool, once one comes free.
TEST_F(LifecycleTest, EachPoolRunsItsJobsOnItsOwnWorkers) {
    ASSERT_EQ(TARNIXInitialize(0), S_OK);
    const PoolCase* pools[] = {&kGeneral, &kSearch};
    std::set<DWORD> threads[2], all;
    for (const PoolCase* pool : pools)
        for (ULONG i = 0; i < pool->workers; ++i) ASSERT_EQ(Queue(*pool, &probes.Add(JobProbe::kClosed)), S_OK);
    const size_t held = probes.size();
    ASSERT_TRUE(probes.log.WaitForStarts(held));
    for (size_t i = 0; i < held; ++i) {
        threads[i < kGeneral.workers ? 0 : 1].insert(probes[i].RunThread());
        all.insert(probes[i].RunThread());
    }
    EXPECT_EQ(all.size(), held) << "the pools share threads";

    JobProbe* extra[2] = {&probes.Add(), &probes.Add()};
    for (int p = 0; p < 2; ++p) ASSERT_EQ(Queue(*pools[p], extra[p]), S_OK);
    probes.OpenAll();
    ASSERT_TRUE(probes.log.WaitForFinishes(held + 2));
    for (int p = 0; p < 2; ++p)
        EXPECT_EQ(threads[p].count(extra[p]->RunThread()), 1u) << pools[p]->name << ": ran outside the pool";
}

TEST_F(LifecycleTest, LastTerminateDropsJobsWaitingOnTheGeneralPool) { ExpectTerminateDropsWaitingJobs(kGeneral); }

TEST_F(LifecycleTest, LastTerminateDropsJobsWaitingOnTheSearchPool) { ExpectTerminateDropsWaitingJobs(kSearch); }

TEST_F(LifecycleTest, ConcurrentPairsLeaveTheLibraryStopped) {
    std::vector<UniqueKernelHandle> threads;
    for (int t = 0; t < 4; ++t) {
        threads.push_back(test::RunOnThread([] {
            for (int i = 0; i < 10; ++i) {
                EXPECT_EQ(TARNIXInitialize(0), S_OK);
                // This thread's own call keeps both pools up until its terminate.
                EXPECT_TRUE(GeneralPoolRunning() && SearchPoolRunning());
                TARNIXTerminate();
            }
        }));
        ASSERT_TRUE(threads.back());
    }
    for (auto& thread : threads) ASSERT_EQ(WaitForSingleObject(thread.get(), test::kGenerousWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(InitializationCount(), 0);
    ExpectPools(false);
}

}  // namespace
}  // namespace tarnix
