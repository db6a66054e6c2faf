// The lifecycle and connectivity exports through tarnix.dll, as the host calls them.
#include <windows.h>
#include <tlhelp32.h>
#include <wininet.h>

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
// the last TARNIXTerminate ends them, and it returns once they have ended. An unmatched terminate
// changes nothing.
TEST(LifecycleExports, WorkersLiveFromTheFirstInitializeToTheLastTerminate) {
    // GoogleTest starts a watcher thread the first time a thread uses its per-thread state (as
    // SCOPED_TRACE does): let it start before the threads are counted.
    SCOPED_TRACE("through tarnix.dll");
    const std::set<DWORD> before = NewThreads();
    ASSERT_FALSE(before.empty());
    TARNIXTerminate();
    EXPECT_EQ(NewThreads(before).size(), 0u);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        ASSERT_EQ(TARNIXInitialize(0), S_OK);
        const std::set<DWORD> workers = NewThreads(before);
        EXPECT_EQ(workers.size(), 7u);
        EXPECT_EQ(TARNIXInitialize(0xFFFFFFFF), S_OK);
        EXPECT_EQ(NewThreads(before), workers) << "a nested initialize changed the workers";
        TARNIXTerminate();
        EXPECT_EQ(NewThreads(before), workers) << "an inner terminate changed the workers";
        TARNIXTerminate();
        EXPECT_EQ(NewThreads(before).size(), 0u) << "workers outlived the last terminate";
    }
}

int g_windowsCreated;
LRESULT CALLBACK BlockWindows(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) return ++g_windowsCreated, 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Wine reports a LAN connection here: the library agrees and connects without showing anything
// (a window would be blocked and counted, not left waiting for a click).
TEST(ConnectivityExports, OnlineMachineConnectsWithoutAskingTheUser) {
    DWORD flags = 0xdeadbeef;
    ASSERT_TRUE(InternetGetConnectedState(&flags, 0)) << "this machine is expected to report a connection";
    EXPECT_NE(TarnixGetConnectedState(), 0);
    EXPECT_EQ(TarnixCanConnect(), (flags & INTERNET_CONNECTION_MODEM) ? 1 : 0);

    HWND owner =
        CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    g_windowsCreated = 0;
    HHOOK hook = SetWindowsHookExA(WH_CBT, &BlockWindows, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(TarnixConnect(owner, "Tarnix test"), 1);
    EXPECT_EQ(TarnixConnect(nullptr, nullptr), 1);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(g_windowsCreated, 0) << "a window was shown";
    DestroyWindow(owner);
}

}  // namespace
