// The library under load: thousands of requests leave nothing behind; a full queue refuses the next request
// and loses none; the last TARNIXTerminate with work in flight and requests still held neither hangs nor breaks them.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <deque>
#include <vector>

#include "Families.h"
#include "RequestWait.h"

namespace tarnix {
namespace test { int64_t LiveHeapBlocks() noexcept; }  // the test program's C++ heap blocks (HeapCount.cpp)
namespace {

using test::Family;

class LoadTest : public test::FamiliesTest {
protected:
    LoadTest() { families.service.KeepRequests(false); }  // thousands of requests: the service counts them only
    using Started = std::deque<std::pair<Family, IRequest*>>;
    // Takes the oldest request started to its end: it must succeed with the good results.
    void FinishOldest(Started& started) {
        const auto [family, request] = started.front();
        started.pop_front();
        EXPECT_EQ(S_OK, test::WaitForRequest(request)) << test::FamilyService::Name(family);
        EXPECT_EQ(families.Expected(family, families.Good(family)), test::FamilyService::Results(family, request));
        request->Release();
    }
    // Starts a request of `family`, which the host lets go of at once or keeps in `started`.
    void Start(Started& started, Family family, bool letGo = false) {
        IRequest* request = nullptr;
        ASSERT_EQ(S_OK, families.Start(family, &request)) << started.size();
        if (letGo) request->Release();
        else started.emplace_back(family, request);
    }
    // `total` requests of the families in turn, at most 12 at a time; the host lets go of every 7th at once.
    void Run(size_t total) {
        Started running;
        for (size_t i = 0; i < total; ++i) {
            Start(running, Family(i % test::kFamilyCount), i % 7 == 6);
            if (running.size() >= 12) FinishOldest(running);
        }
        while (!running.empty()) FinishOldest(running);
    }
    // Once nothing is held and the service is idle: C++ heap blocks, and the commit charge (Wine leaves PrivateUsage 0).
    std::pair<long long, long long> IdleUse() {
        EXPECT_TRUE(test::HoldsNothing());
        EXPECT_TRUE(families.service.WaitUntilIdle());
        PROCESS_MEMORY_COUNTERS counters = {sizeof counters};
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        return {test::LiveHeapBlocks(), counters.PagefileUsage};
    }
};

TEST_F(LoadTest, TwoThousandRequestsLeaveNothingBehind) {
    Run(500);  // the platform's first-use allocations, and the heaps' growth to their working size
    const auto [blocks, commit] = IdleUse();
    const DWORD start = GetTickCount();
    Run(2000);
    const DWORD took = GetTickCount() - start;
    const auto [blocksAfter, commitAfter] = IdleUse();
    std::printf("[ figures  ] 2000 requests in %lu ms: commit %lld KiB -> %lld KiB, C++ heap blocks %lld -> %lld\n",
                static_cast<unsigned long>(took), commit / 1024, commitAfter / 1024, blocks, blocksAfter);
    // The library's own objects exactly as before. Wine's own heaps grow by some 300 bytes a request here (its
    // WinINet alone by some 160): a leak of one exchange's block each would be 500 MiB.
    EXPECT_LE(blocksAfter, blocks + 2);
    EXPECT_LE(commitAfter, commit + 6 * 1024 * 1024);
}

// Each pool's workers held, then its queue of 1000 filled (the general one's with two families): one more is refused
// with E_FAIL on either pool, handing out nothing; once the workers are free, every queued request runs to its good end.
TEST_F(LoadTest, AFullQueueRefusesOneMoreAndLosesNone) {
    const struct { ULONG workers; std::vector<Family> queued; } pools[] = {
        {kGeneralPoolThreads, {test::kQuery, test::kDownload}}, {kSearchPoolThreads, {test::kCount}}};
    Started started;
    for (const auto& pool : pools) {
        families.SetFault(pool.queued[0], test::HeldAnswer(families, pool.queued[0], gate));
        for (ULONG i = 0; i < pool.workers; ++i) Start(started, pool.queued[0]);
    }
    ASSERT_TRUE(families.service.WaitForRequests(kGeneralPoolThreads + kSearchPoolThreads));
    for (const auto& pool : pools) {
        for (ULONG i = 0; i < kPoolQueueLimit; ++i) Start(started, pool.queued[i % pool.queued.size()]);
        IRequest* extra = reinterpret_cast<IRequest*>(0x5eed);
        EXPECT_EQ(E_FAIL, families.Start(pool.queued.back(), &extra)) << pool.workers << " workers";
        EXPECT_EQ(nullptr, extra) << "nothing handed out";
    }
    EXPECT_EQ(static_cast<LONG>(started.size()), LiveRequestCount()) << "a refused request is left";
    SetEvent(gate);
    while (!started.empty()) FinishOldest(started);
}

// TARNIXTerminate with 3 requests of each family on the wire or queued (the middle ones let go of) returns within the
// stop wait; held ones report E_ABORT (given up on the wire) or stay pending (dropped from the queue); then a fresh start.
TEST_F(LoadTest, TheLastTerminateWithWorkInFlightAndRequestsStillHeld) {
    for (int f = 0; f < test::kFamilyCount; ++f) families.SetFault(Family(f), test::HeldAnswer(families, Family(f), gate, true));
    Started held;
    for (int i = 0; i < 3 * test::kFamilyCount; ++i) Start(held, Family(i % test::kFamilyCount), i / test::kFamilyCount == 1);
    ASSERT_TRUE(families.service.WaitForRequests(kGeneralPoolThreads + 2));  // both general workers, two search workers
    Sleep(100);
    const DWORD start = GetTickCount();
    TARNIXTerminate();
    EXPECT_LT(GetTickCount() - start, CThreadPool::kStopWaitMs + 2000) << "the stop waited on the network";
    size_t aborted = 0, dropped = 0;
    for (const auto& [family, request] : held) {
        LONG state = -1;
        const HRESULT hr = request->GetStatus(&state);
        aborted += hr == E_ABORT;
        dropped += hr == S_OK && state == REQUEST_STATE_PENDING;
        request->Release();
    }
    EXPECT_TRUE(aborted + dropped == held.size() && aborted >= 3 && dropped >= 1) << aborted << " aborted, " << dropped << " dropped";
    SetEvent(gate);
    families.ClearFaults();
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    Run(test::kFamilyCount);
}

}  // namespace
}  // namespace tarnix
