// Every test program's main: a temporary folder (TMP, where the library makes its files) of the
// process's own, so that tests running side by side never see each other's files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TestFiles.h"

int main(int argc, char** argv) {
    char base[MAX_PATH + 1];
    const DWORD length = GetTempPathA(MAX_PATH, base);
    const std::string own = std::string(base, length) + "tarnix-test-" + std::to_string(GetCurrentProcessId());
    // A killed process of the same id may have left it: ours now, emptied.
    if (length && length <= MAX_PATH && (CreateDirectoryA(own.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)) {
        for (const std::string& name : tarnix::test::FilesIn(own + "\\")) {
            const std::string leftover = own + "\\" + name;
            SetFileAttributesA(leftover.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(leftover.c_str());
        }
        SetEnvironmentVariableA("TMP", own.c_str());
        SetEnvironmentVariableA("TEMP", own.c_str());
    }
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    RemoveDirectoryA(own.c_str());  // only when the tests left it empty
    return result;
}
