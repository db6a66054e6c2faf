// The version resource that installers and support staff read from tarnix.dll.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

TEST(VersionInfo, NamesTheLibraryAndItsVersion) {
    char path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(GetModuleHandleA("tarnix.dll"), path, MAX_PATH));
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_NE(0u, size) << "tarnix.dll carries no version resource";
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(TARNIX_EXPECTED_VERSION, version);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

    for (auto [key, expected] : {std::pair<const char*, const char*>{"OriginalFilename", "tarnix.dll"},
                                 {"FileVersion", TARNIX_EXPECTED_VERSION}}) {
        char* text = nullptr;
        std::string query = std::string("\\StringFileInfo\\040904b0\\") + key;
        ASSERT_TRUE(VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) << key;
        EXPECT_STREQ(expected, text) << key;
    }
}
