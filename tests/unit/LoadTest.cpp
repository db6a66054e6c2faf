// The library under load: thousands of requests leave no object, handle or memory behind; a full
// queue refuses the next request and loses none of the queued ones; the last TARNIXTerminate with
// work in flight and requests still held by the host neither hangs nor breaks those requests.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <deque>
#include <vector>

#include "Families.h"
#include "RequestWait.h"

namespace tarnix {
namespace test {
// The C++ heap of this program (the library's own objects among it), counted by its replaced
// operator new and delete (HeapCount.cpp), so that a leak of them shows apart from the platform's.
int64_t LiveHeapBlocks() noexcept;
}  // namespace test
namespace {

using test::Family;

// The process's commit charge (under Wine, where PrivateUsage stays 0, what stands for private
// bytes) and the test program's C++ heap blocks.
struct ProcessUse {
    long long privateBytes = 0, heapBlocks = test::LiveHeapBlocks();
    ProcessUse() {
        PROCESS_MEMORY_COUNTERS counters = {sizeof counters};
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        privateBytes = counters.PagefileUsage;
    }
};

class LoadTest : public test::FamiliesTest {
protected:
    using Started = std::deque<std::pair<Family, IRequest*>>;
    // Takes the oldest request started to its end: it must succeed with the good results.
    void FinishOldest(Started& started) {
        const auto [family, request] = started.front();
        started.pop_front();
        EXPECT_EQ(S_OK, test::WaitForRequest(request)) << test::FamilyService::Name(family);
        EXPECT_EQ(families.Expected(family, families.Good(family)), test::FamilyService::Results(family, request));
        request->Release();
    }
    // Runs `total` requests of the families in turn, at most `inFlight` at a time; every
    // `abandonEvery`-th one the host lets go of as soon as it has started.
    void Run(size_t total, size_t inFlight, size_t abandonEvery) {
        Started running;
        for (size_t i = 0; i < total; ++i) {
            const Family family = Family(i % test::kFamilyCount);
            IRequest* request = nullptr;
            ASSERT_EQ(S_OK, families.Start(family, &request));
            if (abandonEvery && i % abandonEvery == abandonEvery - 1) request->Release();
            else running.emplace_back(family, request);
            if (running.size() >= inFlight) FinishOldest(running);
        }
        while (!running.empty()) FinishOldest(running);
    }
};

TEST_F(LoadTest, TwoThousandRequestsLeaveNothingBehind) {
    families.service.KeepRequests(false);
    Run(500, 12, 7);  // the platform's first-use allocations, and the heaps' growth to their working size
    ASSERT_TRUE(test::HoldsNothing());
    ASSERT_TRUE(families.service.WaitUntilIdle());
    const ProcessUse before;
    const DWORD start = GetTickCount();
    Run(2000, 12, 7);
    ASSERT_TRUE(test::HoldsNothing());
    ASSERT_TRUE(families.service.WaitUntilIdle());
    const ProcessUse after;
    std::printf("[ figures  ] 2000 requests in %lu ms: commit %lld KiB -> %lld KiB, C++ heap blocks %lld -> %lld\n",
                static_cast<unsigned long>(GetTickCount() - start), before.privateBytes / 1024,
                after.privateBytes / 1024, before.heapBlocks, after.heapBlocks);
    // The library's own objects exactly as before (the local service idle both times). Wine's own
    // heaps grow by some 300 bytes a request here (its WinINet alone by some 160): a leak of one
    // exchange's block each would be 500 MiB.
    EXPECT_LE(after.heapBlocks, before.heapBlocks + 2);
    EXPECT_LE(after.privateBytes, before.privateBytes + 6 * 1024 * 1024);
}

// A queue of 1000 waiting requests refuses the next one with E_FAIL, handing out nothing; once the
// workers are free, every queued request runs to its good end. The pools queue apart.
TEST_F(LoadTest, AFullQueueRefusesOneMoreAndLosesNone) {
    families.service.KeepRequests(false);
    const struct { ULONG workers; std::vector<Family> queued; } pools[] = {
        {kGeneralPoolThreads, {test::kQuery, test::kDownload}}, {kSearchPoolThreads, {test::kCount}}};
    for (const auto& pool : pools) {
        SCOPED_TRACE(pool.workers);
        ResetEvent(gate);
        families.SetFault(pool.queued[0], test::HeldAnswer(families, pool.queued[0], gate));
        const size_t served = families.service.RequestCount();
        Started started;
        for (ULONG i = 0; i < pool.workers + kPoolQueueLimit; ++i) {
            const Family family = pool.queued[i < pool.workers ? 0 : i % pool.queued.size()];
            IRequest* request = nullptr;
            ASSERT_EQ(S_OK, families.Start(family, &request)) << i;
            started.emplace_back(family, request);
            if (i + 1 == pool.workers) ASSERT_TRUE(families.service.WaitForRequests(served + pool.workers));
        }
        IRequest* extra = reinterpret_cast<IRequest*>(0x5eed);
        EXPECT_EQ(E_FAIL, families.Start(pool.queued.back(), &extra));
        EXPECT_EQ(nullptr, extra) << "nothing handed out";
        EXPECT_EQ(static_cast<LONG>(started.size()), LiveRequestCount()) << "the refused request is gone";
        SetEvent(gate);
        while (!started.empty()) FinishOldest(started);
        families.ClearFaults();
        ASSERT_TRUE(test::HoldsNothing());
    }
}

// TARNIXTerminate while requests of every family are on the wire or queued, some of them still
// held by the host: it returns within the pools' stop wait; what the host holds reports E_ABORT
// (given up on the wire) or stays pending (dropped from the queue), and goes when released.
TEST_F(LoadTest, TheLastTerminateWithWorkInFlightAndRequestsStillHeld) {
    for (int f = 0; f < test::kFamilyCount; ++f) families.SetFault(Family(f), test::HeldAnswer(families, Family(f), gate, true));
    std::vector<IRequest*> held;
    for (int round = 0; round < 3; ++round) {
        for (int f = 0; f < test::kFamilyCount; ++f) {
            IRequest* request = nullptr;
            ASSERT_EQ(S_OK, families.Start(Family(f), &request));
            if (round == 1) request->Release();  // let go of before the terminate
            else held.push_back(request);
        }
    }
    ASSERT_TRUE(families.service.WaitForRequests(kGeneralPoolThreads + 2));  // both general workers, two search workers
    Sleep(100);
    const DWORD start = GetTickCount();
    TARNIXTerminate();
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_LT(elapsed, CThreadPool::kStopWaitMs + 2000) << "the stop waited on the network";
    size_t aborted = 0, dropped = 0;
    for (IRequest* request : held) {
        LONG state = -1;
        const HRESULT hr = request->GetStatus(&state);
        aborted += hr == E_ABORT;
        dropped += hr == S_OK && state == REQUEST_STATE_PENDING;
    }
    EXPECT_EQ(held.size(), aborted + dropped) << "each held request is either given up or never ran";
    EXPECT_GE(aborted, 3u);
    EXPECT_GE(dropped, 1u);
    IRequest* late = nullptr;
    EXPECT_EQ(E_FAIL, families.Start(test::kQuery, &late)) << "a request after the last terminate";
    for (IRequest* request : held) request->Release();
    SetEvent(gate);
    EXPECT_TRUE(test::HoldsNothing());
    // The library starts again as new.
    families.ClearFaults();
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    Run(test::kFamilyCount, test::kFamilyCount, 0);
}

}  // namespace
}  // namespace tarnix
