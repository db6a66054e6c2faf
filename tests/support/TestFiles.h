// The temporary folder, a file's bytes, the library's temporary files, and contents of every byte value.
#pragma once

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tarnix::test {

inline std::string TempPath(const char* name = "") {
    char directory[MAX_PATH + 1];
    GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + name;
}

// A file's bytes; "<none>" when it cannot be opened: missing, or held open by a request.
inline std::string FileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
}

// The names of the files (not folders) in `folder` (ending in a backslash) that match `pattern`.
inline std::vector<std::string> FilesIn(const std::string& folder, const char* pattern = "*") {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((folder + pattern).c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return names;
}

// The library's temporary files (TAR*.tmp) in the temporary folder.
inline size_t TempFileCount() { return FilesIn(TempPath(), "TAR*.tmp").size(); }

inline std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

}  // namespace tarnix::test
