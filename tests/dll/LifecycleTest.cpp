// The library's life in a host's process, through tarnix.dll: the workers between the first
// initialize and the last terminate, the requests that may start only between them, and the
// unloading of a private copy while the platform still works for given-up exchanges.
#include <winsock2.h>  // before windows.h, which the others include
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BlackHole.h"
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

using tarnix::test::As;

// A request export of each kind (they start requests through one routine).
HRESULT (*const kRequestExports[])(IRequest**) = {
    [](IRequest** r) { return TarnixLogin("u", "p", As<IQueryRequest>(r)); },
    [](IRequest** r) { return TarnixSearchTree("s", 0, 0, 0, 0, 0, 0, 0, 0, 0, As<ISearchCountRequest>(r)); },
    [](IRequest** r) { return TarnixDownloadOnlineFamilyTree("t", "c", nullptr, "b", As<IDownloadRequest>(r)); },
    [](IRequest** r) { return TarnixExportOnlineFamilyTree("t", "7", "c", r); },
};

// Before the first initialize and after the last terminate there are no pools: no request starts
// and nothing is handed out. A null out-parameter is refused either way and queues nothing: a
// request started after all of them is the only one the service receives.
TEST(LifecycleExports, RequestsStartOnlyWhileInitializedAndOnlyIntoAnOutParameter) {
    tarnix::test::TestService service;
    tarnix::test::ReachDirectly(service);
    for (bool initialized : {false, true, false}) {
        if (initialized) ASSERT_EQ(S_OK, TARNIXInitialize(0));
        for (auto start : kRequestExports) {
            EXPECT_EQ(E_POINTER, start(nullptr));
            IRequest* request = reinterpret_cast<IRequest*>(0x1);
            if (!initialized) EXPECT_EQ(E_FAIL, start(&request));
            EXPECT_EQ(reinterpret_cast<IRequest*>(0x1), request);
        }
        if (!initialized) continue;
        IRequest* request = nullptr;
        ASSERT_EQ(S_OK, TarnixExportOnlineFamilyTree("t", "7", "c", &request));
        EXPECT_NE(E_PENDING, tarnix::test::WaitForRequest(request));
        request->Release();
        Sleep(100);
        TARNIXTerminate();
    }
    EXPECT_EQ(1u, service.RequestCount());
}


template <class Fn>
Fn Proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
#define PROC(dll, name) Proc<decltype(&name)>(dll, #name)

bool Loaded() { return GetModuleHandleA("tarnix_unload_probe.dll") != nullptr; }

// A copy under its own name, so that this test's loads are the only references to it. The workers
// run the library's code until the last terminate, so an unload before it leaves the library
// loaded; a silent check's timer, run from the host's message loop, dies with the last terminate
// even from another thread, and then the library goes. Then the host's part: every request
// released and every initialize matched before FreeLibrary, here with work at every step (a connect
// that never completes, answers held before the head and mid-body, requests queued) and requests
// still held at the terminate. The platform finishes its given-up operations after the unload and
// reports each handle closing to the library: it must still be mapped then, or the process dies.
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
        // The version request fails at once (404); its exchange must be over, or the platform's
        // callback still due pins the library (as below): the connection closed, and then a
        // moment for the closing report, which a busy machine may be slow to deliver.
        ASSERT_TRUE(service.WaitForRequests(1, 20000));
        ASSERT_TRUE(service.WaitUntilIdle());
        Sleep(500);
        FreeLibrary(dll);
        ASSERT_TRUE(Loaded()) << "worker threads still run its code";

        // The host takes it up again and finishes properly; then it can go.
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
    {
        // Not the development service: reached as the system's setting says, with no proxy.
        tarnix::test::BlackHole hole;
        ASSERT_EQ(S_OK, PROC(dll, TarnixGetInternetFile)(hole.Address().c_str(), "/f", &download));
        held.push_back(download);
        Sleep(300);  // connecting, for as long as the hole lasts
    }
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

    // The platform ends what the library gave up: the held answers go out, the connect fails.
    SetEvent(gate);
    Sleep(1500);
    CloseHandle(gate);
    DeleteFileA(copy.c_str());
    // Still here: the process outlived the platform's last calls into the library.
}

}  // namespace
