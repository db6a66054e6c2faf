// Loading and unloading a private copy of tarnix.dll, as a host that reloads the library does.
#include <gtest/gtest.h>

#include <string>

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

TEST_F(UnloadTest, APairedHostUnloadsTheLibrary) {
    HMODULE dll = LoadLibraryA(m_copy.c_str());
    ASSERT_NE(nullptr, dll);
    ASSERT_EQ(S_OK, Proc<decltype(&TARNIXInitialize)>(dll, "TARNIXInitialize")(0));
    Proc<decltype(&TARNIXTerminate)>(dll, "TARNIXTerminate")();
    FreeLibrary(dll);
    EXPECT_FALSE(Loaded());
}

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

}  // namespace
