// The library's life in a host's process: workers and requests between the first initialize and the
// last terminate, and an unload while the platform still works for given-up exchanges.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "HostWindow.h"
#include "RequestWait.h"
#include "TestService.h"
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

using tarnix::test::As;

// A request export of each kind (they start requests through one routine).
HRESULT (*const kRequestExports[])(IRequest**) = {
    [](IRequest** r) { return TarnixLogin("u", "p", As<IQueryRequest>(r)); },
    [](IRequest** r) { return TarnixSearchTree("s", 0, 0, 0, 0, 0, 0, 0, 0, 0, As<ISearchCountRequest>(r)); },
    [](IRequest** r) { return TarnixDownloadOnlineFamilyTree("t", "c", nullptr, "b", As<IDownloadRequest>(r)); },
    [](IRequest** r) { return TarnixExportOnlineFamilyTree("t", "7", "c", r); },
};

// The outermost TARNIXInitialize starts the pools' seven workers, nested ones start none, and only
// the last TARNIXTerminate ends them (a stray one changes nothing). Requests start only in between,
// and never without an out-parameter: of all these calls only one request reaches the service.
TEST(LifecycleExports, WorkersAndRequestsLiveFromTheFirstInitializeToTheLastTerminate) {
    tarnix::test::TestService service;
    tarnix::test::ReachDirectly(service);
    SCOPED_TRACE("through tarnix.dll");  // GoogleTest's watcher thread starts before the count
    const std::set<DWORD> before = NewThreads();
    TARNIXTerminate();
    for (int cycle = 0; cycle < 2; ++cycle) {
        for (auto start : kRequestExports) {
            IRequest* request = reinterpret_cast<IRequest*>(0x1);
            EXPECT_TRUE(start(nullptr) == E_POINTER && start(&request) == E_FAIL && request == reinterpret_cast<IRequest*>(0x1));
        }
        ASSERT_EQ(TARNIXInitialize(0), S_OK);
        const std::set<DWORD> workers = NewThreads(before);
        EXPECT_EQ(workers.size(), 7u);
        EXPECT_EQ(TARNIXInitialize(0xFFFFFFFF), S_OK);  // the reserved value is accepted, unused
        for (auto start : kRequestExports) EXPECT_EQ(E_POINTER, start(nullptr));
        TARNIXTerminate();
        EXPECT_EQ(NewThreads(before), workers) << "a nested initialize or an inner terminate changed the workers";
        TARNIXTerminate();
        EXPECT_EQ(NewThreads(before).size(), 0u) << "workers outlived the last terminate";
        TARNIXTerminate();
    }
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    IRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixExportOnlineFamilyTree("t", "7", "c", &request));
    EXPECT_NE(E_PENDING, tarnix::test::WaitForRequest(request));
    request->Release();
    TARNIXTerminate();
    EXPECT_EQ(1u, service.RequestCount()) << "a refused start was sent";
}

template <class Fn>
Fn Proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
#define PROC(dll, name) Proc<decltype(&name)>(dll, #name)

bool Loaded() { return GetModuleHandleA("tarnix_unload_probe.dll") != nullptr; }

// A copy under its own name, so that this test's loads are its only references. The workers run
// its code until the last terminate, which also ends a silent check's timer from another thread.
// Then an unload with work at every step (answers held before the head and mid-body, requests
// queued, some still held at the terminate): the platform reports its given-up handles closing
// after the FreeLibrary, so the library must stay mapped until then, or the process dies.
TEST(UnloadTest, TheLibraryGoesOnlyAfterTheLastTerminateAndOutlivesThePlatformsLateCalls) {
    char self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(GetModuleHandleA("tarnix.dll"), self, MAX_PATH));
    std::string copy(self);
    copy.replace(copy.find_last_of("\\/") + 1, std::string::npos, "tarnix_unload_probe.dll");
    ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE));
    tarnix::test::TestService service;
    tarnix::test::ReachDirectly(service);
    {
        tarnix::test::HostWindow window;
        HMODULE dll = LoadLibraryA(copy.c_str());
        ASSERT_NE(nullptr, dll);
        ASSERT_EQ(S_OK, PROC(dll, TARNIXInitialize)(0));
        ASSERT_EQ(305u, PROC(dll, TarnixUpdateVelmoraFamilyTreeSilentCheck)(window.get(), "TarnixUnloadTestCo", "P",
                                                                          "1.0.0", "1.0.0", "1.0.0", ""));
        // The version request fails at once (404); a closing report still due would pin the library.
        ASSERT_TRUE(service.WaitForRequests(1, 20000));
        ASSERT_TRUE(service.WaitUntilIdle());
        Sleep(500);
        FreeLibrary(dll);
        ASSERT_TRUE(Loaded()) << "worker threads still run its code";

        ASSERT_EQ(dll, LoadLibraryA(copy.c_str()));
        std::thread(PROC(dll, TARNIXTerminate)).join();
        EXPECT_TRUE(Loaded());
        FreeLibrary(dll);
        EXPECT_FALSE(Loaded());
        EXPECT_FALSE(KillTimer(window.get(), 305)) << "a timer into the unloaded library was left set";
    }

    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    using tarnix::test::Hold;
    const tarnix::test::HttpAnswer head{200, "OK", {}, "<r><ok/><ATT>t</ATT></r>", true, "", {Hold(gate)}};
    service.On("op=apilogin", head);
    service.On("/big.bin", tarnix::test::HttpAnswer{200, "OK", {}, std::string(100000, 'b'), true, "",
                                                    {tarnix::test::SendBody(50000), Hold(gate)}});
    service.On("treesearchcount", head);

    HMODULE dll = LoadLibraryA(copy.c_str());
    ASSERT_NE(nullptr, dll);
    ASSERT_EQ(S_OK, PROC(dll, TARNIXInitialize)(0));
    auto login = PROC(dll, TarnixLogin);
    std::vector<IUnknown*> held, released;
    IQueryRequest* query = nullptr;
    IDownloadRequest* download = nullptr;
    ASSERT_EQ(S_OK, PROC(dll, TarnixGetInternetFile)(service.Address().c_str(), "/big.bin", &download));
    held.push_back(download);
    ISearchCountRequest* count = nullptr;
    ASSERT_EQ(S_OK, PROC(dll, TarnixSearchTree)("S", nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, &count));
    released.push_back(count);
    for (int i = 0; i < 4; ++i) {  // queued behind the two general workers
        ASSERT_EQ(S_OK, login("u", "p", &query));
        (i % 2 ? held : released).push_back(query);
    }
    ASSERT_TRUE(service.WaitForRequests(1 + 2, 20000));  // after the check's: the download and the count
    for (IUnknown* request : released) request->Release();

    PROC(dll, TARNIXTerminate)();
    for (IUnknown* request : held) EXPECT_EQ(0u, request->Release());
    FreeLibrary(dll);

    SetEvent(gate);
    Sleep(1500);
    CloseHandle(gate);
    DeleteFileA(copy.c_str());
    // Still here: the process outlived the platform's last calls.
}

}  // namespace
