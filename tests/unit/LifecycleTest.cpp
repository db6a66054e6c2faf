// TARNIXInitialize / TARNIXTerminate and the two pools they start, seen from inside the library.
#include "frame/Library.h"

#include <gtest/gtest.h>

#include <deque>

#include "JobProbe.h"
#include "support/Result.h"
#include "tarnix.h"

namespace tarnix {
namespace {

using test::JobProbe;

const struct { const char* name; void (*queue)(IRequestJob*); } kPools[] = {
    {"general pool", &QueueOnGeneralPool}, {"search pool", &QueueOnSearchPool}};

// Every test starts and ends with the library not initialized; the probes are let go before the
// last TARNIXTerminate, so that a failed assertion never leaves the stop waiting on a worker.
class LifecycleTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InitializationCount(), 0); }
    void TearDown() override {
        for (JobProbe& probe : probes) probe.Open();
        while (InitializationCount() > 0) TARNIXTerminate();
    }
    // Queues a new probe on each pool: a job taken must run, a refused one stay untouched.
    void ExpectEachPoolRunsJobs(bool running) {
        for (const auto& pool : kPools) {
            SCOPED_TRACE(pool.name);
            JobProbe& probe = probes.emplace_back();
            const HRESULT hr = GuardHr([&] { return pool.queue(&probe), S_OK; });
            EXPECT_EQ(hr, running ? S_OK : E_FAIL);
            if (hr == S_OK)
                EXPECT_TRUE(probe.WaitFinished()) << "the job did not run";
            else
                EXPECT_TRUE(probe.Settled(0)) << "a refused job ran or kept a reference";
        }
    }

    std::deque<JobProbe> probes;
};

// Calls nest; only the last terminate stops the pools. Unmatched terminates leave the count at 0,
// so that the next initialize starts both pools again.
TEST_F(LifecycleTest, NestedCallsKeepThePoolsUntilTheLastTerminate) {
    ExpectEachPoolRunsJobs(false);
    TARNIXTerminate();
    EXPECT_EQ(InitializationCount(), 0);
    for (DWORD reserved : {0u, 1u, 0xFFFFFFFFu}) EXPECT_EQ(TARNIXInitialize(reserved), S_OK);  // accepted, unused
    for (LONG depth = 3; depth > 0; --depth) {
        SCOPED_TRACE(testing::Message() << "depth " << depth);
        EXPECT_EQ(InitializationCount(), depth);
        ExpectEachPoolRunsJobs(true);
        TARNIXTerminate();
    }
    EXPECT_EQ(InitializationCount(), 0);
    ExpectEachPoolRunsJobs(false);
    TARNIXTerminate();
    EXPECT_EQ(InitializationCount(), 0);
    ASSERT_EQ(TARNIXInitialize(0), S_OK);
    ExpectEachPoolRunsJobs(true);
    TARNIXTerminate();
}

}  // namespace
}  // namespace tarnix
