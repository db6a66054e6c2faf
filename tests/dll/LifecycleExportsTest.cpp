// The lifecycle exports through tarnix.dll, as the host calls them.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>

#include "tarnix.h"

namespace {

// Threads of this process that were not in `before`.
std::set<DWORD> NewThreads(const std::set<DWORD>& before = {}) {
    std::set<DWORD> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof entry};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId() && !before.count(entry.th32ThreadID))
            threads.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return threads;
}

// The outermost TARNIXInitialize starts the pools' seven workers and nested calls start none; only
// the last TARNIXTerminate ends them, and it returns once they have ended. A terminate without an
// initialize changes nothing: the next initialize is the outermost again.
TEST(LifecycleExports, WorkersLiveFromTheFirstInitializeToTheLastTerminate) {
    // GoogleTest starts a watcher thread the first time a thread uses its per-thread state (as
    // SCOPED_TRACE does): let it start before the threads are counted.
    SCOPED_TRACE("through tarnix.dll");
    const std::set<DWORD> before = NewThreads();
    TARNIXTerminate();
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_EQ(TARNIXInitialize(0), S_OK);
        const std::set<DWORD> workers = NewThreads(before);
        EXPECT_EQ(workers.size(), 7u);
        EXPECT_EQ(TARNIXInitialize(0xFFFFFFFF), S_OK);  // the reserved value is accepted, unused
        EXPECT_EQ(NewThreads(before), workers) << "a nested initialize changed the workers";
        TARNIXTerminate();
        EXPECT_EQ(NewThreads(before), workers) << "an inner terminate changed the workers";
        TARNIXTerminate();
        EXPECT_EQ(NewThreads(before).size(), 0u) << "workers outlived the last terminate";
        TARNIXTerminate();
    }
}

}  // namespace
