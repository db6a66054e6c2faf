// Memory of an upload as the host's process sees it: signs in, then for each size writes a GEDCOM
// file of that many MiB, creates an online tree from it through tarnix.dll and reports the
// process's peak working set and peak private bytes after the upload, with the time it took.
// The peaks of a process only rise, so sizes run smallest first: a peak that stays put while the
// file grows sixteen-fold is the constant memory the upload promises.
//
//   tarnix_bench_upload.exe [--dll PATH] USER PASSWORD SITEID [MiB ...]   (default 16 256)
//
// Run it against a service that accepts bodies of that size (the local tarnix-service with
// --max-body), reached through the system's proxy setting.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarnix.h"

namespace {

HMODULE g_dll = nullptr;

template <class Fn>
Fn Export(const char* name) {
    FARPROC proc = GetProcAddress(g_dll, name);
    if (!proc) {
        std::fprintf(stderr, "tarnix.dll has no export %s\n", name);
        ExitProcess(2);
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}
#define TARNIX_EXPORT(name) Export<decltype(&name)>(#name)

HRESULT Wait(IRequest* request) {
    for (;;) {
        LONG state = REQUEST_STATE_PENDING;
        HRESULT hr = request->GetStatus(&state);
        if (FAILED(hr) || state == REQUEST_STATE_DONE) return hr;
        Sleep(20);
    }
}

double MiB(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

void PrintMemory(const char* when) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        std::printf("%-28s memory counters unavailable (%lu)\n", when, GetLastError());
        return;
    }
    std::printf("%-28s peak working set %7.1f MiB, peak private bytes %7.1f MiB (now %6.1f / %6.1f)\n", when,
                MiB(counters.PeakWorkingSetSize), MiB(counters.PeakPagefileUsage), MiB(counters.WorkingSetSize),
                MiB(counters.PagefileUsage));
}

// A GEDCOM file of `mebibytes` MiB, written a block at a time so that making it costs no memory.
std::string WriteGedcom(unsigned mebibytes) {
    char directory[MAX_PATH + 1];
    GetTempPathA(MAX_PATH, directory);
    std::string name = std::string(directory) + "tarnix-bench-" + std::to_string(mebibytes) + ".ged";
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string block = "0 HEAD\r\n1 CHAR ANSI\r\n";
    const std::string line = "1 NOTE benchmark filler line of a fixed length for the upload test\r\n";
    while (block.size() + line.size() <= 1 << 20) block += line;
    block.resize(1 << 20, ' ');
    bool ok = true;
    for (unsigned i = 0; i < mebibytes && ok; ++i) {
        DWORD written = 0;
        ok = WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) && written == block.size();
        if (i == 0) block.replace(0, 21, std::string(19, ' ') + "\r\n");  // one HEAD only
    }
    CloseHandle(file);
    return ok ? name : "";
}

}  // namespace

int main(int argc, char** argv) {
    const char* dllPath = "tarnix.dll";
    std::vector<const char*> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dll") == 0 && i + 1 < argc)
            dllPath = argv[++i];
        else
            args.push_back(argv[i]);
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: tarnix_bench_upload [--dll PATH] USER PASSWORD SITEID [MiB ...]\n");
        return 2;
    }
    std::vector<unsigned> sizes;
    for (size_t i = 3; i < args.size(); ++i) sizes.push_back(static_cast<unsigned>(std::strtoul(args[i], nullptr, 10)));
    if (sizes.empty()) sizes = {16, 256};

    g_dll = LoadLibraryA(dllPath);
    if (!g_dll) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", dllPath, GetLastError());
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (FAILED(TARNIX_EXPORT(TARNIXInitialize)(0))) return 1;

    int status = 0;
    IQueryRequest* login = nullptr;
    std::string ticket;
    if (SUCCEEDED(TARNIX_EXPORT(TarnixLogin)(args[0], args[1], &login))) {
        if (SUCCEEDED(Wait(login))) {
            ULONG length = 0;
            if (SUCCEEDED(login->GetValueLength(0, "att", &length))) {
                std::vector<char> value(length + 1);
                if (SUCCEEDED(login->GetValue(0, "att", value.data(), length + 1))) ticket = value.data();
            }
        }
        login->Release();
    }
    if (ticket.empty()) {
        std::fprintf(stderr, "sign-in failed\n");
        status = 1;
    }
    PrintMemory("signed in");

    for (size_t i = 0; i < sizes.size() && status == 0; ++i) {
        const std::string file = WriteGedcom(sizes[i]);
        if (file.empty()) {
            std::fprintf(stderr, "cannot write a %u MiB file\n", sizes[i]);
            status = 1;
            break;
        }
        const std::string treeName = "Bench " + std::to_string(sizes[i]) + " MiB " + std::to_string(GetTickCount());
        IRequest* upload = nullptr;
        const DWORD start = GetTickCount();
        HRESULT hr = TARNIX_EXPORT(TarnixCreateOnlineFamilyTree)(ticket.c_str(), file.c_str(), args[2],
                                                                treeName.c_str(), FALSE, "bench", &upload);
        if (SUCCEEDED(hr)) {
            hr = Wait(upload);
            upload->Release();
        }
        const DWORD elapsed = GetTickCount() - start;
        std::printf("upload of %4u MiB: 0x%08lX in %lu ms (%.1f MiB/s)\n", sizes[i], static_cast<unsigned long>(hr),
                    elapsed, elapsed ? sizes[i] * 1000.0 / elapsed : 0.0);
        PrintMemory(("after " + std::to_string(sizes[i]) + " MiB").c_str());
        DeleteFileA(file.c_str());
        if (FAILED(hr)) status = 1;
    }

    TARNIX_EXPORT(TARNIXTerminate)();
    FreeLibrary(g_dll);
    return status;
}
