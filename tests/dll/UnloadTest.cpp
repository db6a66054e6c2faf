// Loading and unloading a private copy of tarnix.dll, as a host that reloads the library does.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "HostWindow.h"
#include "ProxySetting.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

// A copy under its own name, so that this test's loads are the only references to it.
class UnloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        char self[MAX_PATH];
        ASSERT_NE(0u, GetModuleFileNameA(GetModuleHandleA("tarnix.dll"), self, MAX_PATH));
        std::string dir(self);
        dir.resize(dir.find_last_of("\\/") + 1);
        m_copy = dir + "tarnix_unload_probe.dll";
        ASSERT_TRUE(CopyFileA(self, m_copy.c_str(), FALSE));
    }
    void TearDown() override { DeleteFileA(m_copy.c_str()); }

    template <class Fn>
    static Fn Proc(HMODULE module, const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    static bool Loaded() { return GetModuleHandleA("tarnix_unload_probe.dll") != nullptr; }

    std::string m_copy;
};

TEST_F(UnloadTest, UnloadingWhilePoolsRunLeavesTheLibraryLoaded) {
    HMODULE dll = LoadLibraryA(m_copy.c_str());
    ASSERT_NE(nullptr, dll);
    ASSERT_EQ(S_OK, Proc<decltype(&TARNIXInitialize)>(dll, "TARNIXInitialize")(0));
    FreeLibrary(dll);
    ASSERT_TRUE(Loaded()) << "worker threads still run its code";

    // The host takes it up again and finishes properly; then it can go.
    HMODULE again = LoadLibraryA(m_copy.c_str());
    ASSERT_EQ(dll, again);
    Proc<decltype(&TARNIXTerminate)>(again, "TARNIXTerminate")();
    EXPECT_TRUE(Loaded());
    FreeLibrary(again);
    EXPECT_FALSE(Loaded());
}

// A request given up while the platform still waits on its server: the platform calls the library
// back when it finally lets go of the handle, which may be after the host has terminated and
// unloaded the library. The library must still be there to take the call.
TEST_F(UnloadTest, ALateCallbackOfThePlatformFindsTheLibraryLoaded) {
    tarnix::test::TestService service;
    tarnix::test::ProxySetting proxy(service.Port());
    HANDLE answer = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    tarnix::test::HttpAnswer late{200, "OK", {}, "<r><ok/><ATT>t</ATT></r>"};
    late.hold = answer;
    late.holdBeforeHead = true;
    service.SetDefault(late);

    HMODULE dll = LoadLibraryA(m_copy.c_str());
    ASSERT_NE(nullptr, dll);
    ASSERT_EQ(S_OK, Proc<decltype(&TARNIXInitialize)>(dll, "TARNIXInitialize")(0));
    IQueryRequest* request = nullptr;
    ASSERT_EQ(S_OK, Proc<decltype(&TarnixLogin)>(dll, "TarnixLogin")("u", "p", &request));
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    request->Release();
    Proc<decltype(&TARNIXTerminate)>(dll, "TARNIXTerminate")();
    FreeLibrary(dll);
    EXPECT_TRUE(Loaded()) << "unloaded while the platform still had a call to make into it";

    // The server answers at last: the platform ends the exchange and reports the handle closing.
    // Had the library gone, that call would end this process.
    SetEvent(answer);
    Sleep(1000);
    CloseHandle(answer);
}

// A silent check's timer runs the library's code from the host's message loop. The last
// terminate kills it, even from a thread other than the window's: the library then really goes,
// and no timer is left to call into it.
TEST_F(UnloadTest, TheLastTerminateEndsASilentCheckSoThatTheLibraryCanGo) {
    tarnix::test::TestService service;
    tarnix::test::ProxySetting proxy(service.Port());
    tarnix::test::HostWindow window;
    HMODULE dll = LoadLibraryA(m_copy.c_str());
    ASSERT_NE(nullptr, dll);
    ASSERT_EQ(S_OK, Proc<decltype(&TARNIXInitialize)>(dll, "TARNIXInitialize")(0));
    auto silentCheck = Proc<decltype(&TarnixUpdateVelmoraFamilyTreeSilentCheck)>(dll, "TarnixUpdateVelmoraFamilyTreeSilentCheck");
    ASSERT_EQ(305u, silentCheck(window.get(), "TarnixUnloadTestCo", "P", "1.0.0", "1.0.0", "1.0.0", ""));
    // The version request fails at once (404); its exchange must be over, or the platform's
    // callback still due pins the library (see above).
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    Sleep(500);
    std::thread(Proc<decltype(&TARNIXTerminate)>(dll, "TARNIXTerminate")).join();
    FreeLibrary(dll);
    EXPECT_FALSE(Loaded());
    EXPECT_FALSE(KillTimer(window.get(), 305)) << "a timer into the unloaded library was left set";
}

}  // namespace
