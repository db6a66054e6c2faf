// The lifecycle exports through tarnix.dll, as the host calls them, and what every request export
// does outside them.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "RequestWait.h"
#include "TestFiles.h"
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

template <class T>
T** As(IRequest** out) { return reinterpret_cast<T**>(out); }

const std::string kLocalFile = tarnix::test::TempPath("tarnix-lifecycle-test.ged");

// Every export that starts a request, with arguments that would make one, named by its call.
#define START(call) {#call, [](IRequest** r) { return call; }}
const struct {
    const char* call;
    HRESULT (*start)(IRequest**);
} kRequestExports[] = {
    START(TarnixLogin("u", "p", As<IQueryRequest>(r))),
    START(TarnixListUserSites("t", As<IQueryRequest>(r))),
    START(TarnixListOnlineFamilyTrees("t", "c", As<IQueryRequest>(r))),
    START(TarnixCheckVelmoraFamilyTreeVersion("1", "1", "1", "", As<IQueryRequest>(r))),
    START(TarnixSearchTree("s", 0, 0, 0, 0, 0, 0, 0, 0, 0, As<ISearchCountRequest>(r))),
    START(TarnixSearchData("s", 0, 0, 0, 0, 0, 0, 0, 0, 0, As<ISearchCountRequest>(r))),
    START(TarnixGetInternetFile("127.0.0.1:1", "/f", As<IDownloadRequest>(r))),
    START(TarnixDownloadOnlineFamilyTree("t", "c", nullptr, "b", As<IDownloadRequest>(r))),
    START(TarnixCreateOnlineFamilyTree("t", kLocalFile.c_str(), "1", "n", 0, "c", r)),
    START(TarnixUpdateOnlineFamilyTree("t", kLocalFile.c_str(), "7", "c", r)),
    START(TarnixExportOnlineFamilyTree("t", "7", "c", r)),
};
#undef START

// Before the first initialize and after the last terminate there are no pools: no request starts
// and nothing is handed out. A null out-parameter is refused either way and queues nothing: a
// request started after all of them is the only one the service receives.
TEST(LifecycleExports, RequestsStartOnlyWhileInitializedAndOnlyIntoAnOutParameter) {
    tarnix::test::TestService service;
    tarnix::test::ReachDirectly(service);
    std::ofstream(kLocalFile) << "0 HEAD\r\n0 TRLR\r\n";
    for (bool initialized : {false, true, false}) {
        if (initialized) ASSERT_EQ(S_OK, TARNIXInitialize(0));
        for (const auto& e : kRequestExports) {
            SCOPED_TRACE(std::string(e.call) + (initialized ? ", initialized" : ", not initialized"));
            EXPECT_EQ(E_POINTER, e.start(nullptr));
            IRequest* request = reinterpret_cast<IRequest*>(0x1);
            if (!initialized) EXPECT_EQ(E_FAIL, e.start(&request));
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
    DeleteFileA(kLocalFile.c_str());
}

}  // namespace
