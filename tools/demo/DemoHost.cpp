// A small host program that uses tarnix.dll the way the genealogy application does: it loads
// the DLL at run time, looks its exports up by name and drives them: connectivity, addresses,
// sign-in, the user's sites and online trees, printing what comes back; then it downloads the
// first online tree whose export is ready, and a web file, showing their progress as it goes.
//
//   tarnix_demo.exe [--dll PATH] [--download SERVER PATH] [USER PASSWORD [COBRAND]]
//
// Requests go to the library's service host through the system's proxy setting. Downloads land
// in the current directory: downloaded-tree.ged and downloaded-file.bin.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
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

// Polls the request as a host's timer would, until it fails or is done.
HRESULT Wait(IQueryRequest* request) {
    for (int i = 0; i < 600; ++i) {
        LONG state = REQUEST_STATE_PENDING;
        HRESULT hr = request->GetStatus(&state);
        if (FAILED(hr) || state == REQUEST_STATE_DONE) return hr;
        Sleep(50);
    }
    return E_PENDING;
}

std::string Value(IQueryRequest* request, ULONG row, const char* name) {
    ULONG length = 0;
    if (FAILED(request->GetValueLength(row, name, &length))) return "<none>";
    std::vector<char> buffer(length + 1);
    if (FAILED(request->GetValue(row, name, buffer.data(), length + 1))) return "<error>";
    return buffer.data();
}

// Runs one query request to its end and prints its rows; false when it failed.
// `request` is read only after `started` is known: the export has filled it in by then.
bool RunQuery(const char* title, HRESULT started, IQueryRequest** requestSlot, const std::vector<const char*>& names) {
    std::printf("\n%s\n", title);
    IQueryRequest* request = *requestSlot;
    if (FAILED(started)) {
        std::printf("  could not start: 0x%08lX\n", static_cast<unsigned long>(started));
        return false;
    }
    HRESULT hr = Wait(request);
    if (FAILED(hr)) {
        std::printf("  failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        request->Release();
        return false;
    }
    ULONG rows = request->GetRowCount();
    std::printf("  %lu row(s)\n", static_cast<unsigned long>(rows));
    for (ULONG row = 0; row < rows; ++row) {
        std::printf("  [%lu]", static_cast<unsigned long>(row));
        for (const char* name : names) std::printf(" %s=\"%s\"", name, Value(request, row, name).c_str());
        std::printf("\n");
    }
    return true;
}


// ---- Downloads ----

// Polls a download as a host's timer would, printing its progress on one line, and checks the
// counters as it goes: received never runs backwards or past the total, and reaches it at the
// end. S_OK only for a download that finished with consistent progress.
HRESULT WaitForDownload(IDownloadRequest* request) {
    ULONG total = 0, received = 0;
    bool consistent = true;
    for (int i = 0; i < 6000; ++i) {
        LONG state = REQUEST_STATE_PENDING;
        HRESULT hr = request->GetStatus(&state);
        if (FAILED(hr)) {
            std::printf("\n  failed: 0x%08lX\n", static_cast<unsigned long>(hr));
            return hr;
        }
        ULONG t = 0, r = 0;
        if (state != REQUEST_STATE_PENDING && SUCCEEDED(request->GetTotalBytes(&t)) &&
            SUCCEEDED(request->GetBytesReceived(&r))) {
            consistent = consistent && r <= t && r >= received && (received == 0 || t == total);
            total = t;
            received = r;
            if (total)
                std::printf("\r  %lu of %lu bytes (%lu%%)   ", static_cast<unsigned long>(received),
                            static_cast<unsigned long>(total),
                            static_cast<unsigned long>(static_cast<ULONGLONG>(received) * 100 / total));
            else
                std::printf("\r  receiving, size not announced   ");
        }
        if (state == REQUEST_STATE_DONE) {
            consistent = consistent && received == total;
            std::printf("\n  done; progress %s\n", consistent ? "consistent" : "INCONSISTENT");
            return consistent ? S_OK : E_FAIL;
        }
        Sleep(100);
    }
    std::printf("\n  still not done; giving up\n");
    return E_PENDING;
}

// Copies the downloaded data from the request's stream into `fileName`, a block at a time.
bool SaveStream(IDownloadRequest* request, const char* fileName) {
    IStream* stream = nullptr;
    HRESULT hr = request->GetStream(&stream);
    if (FAILED(hr)) {
        std::printf("  GetStream failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return false;
    }
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE;
    static char block[65536];
    ULONG read = 0;
    ULONGLONG size = 0;
    DWORD written = 0;
    while (ok && SUCCEEDED(stream->Read(block, sizeof block, &read)) && read > 0) {
        ok = WriteFile(file, block, read, &written, nullptr) && written == read;
        size += read;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    stream->Release();
    std::printf("  %s %s (%llu bytes)\n", ok ? "saved as" : "could not save", fileName, size);
    return ok;
}

void PrintType(IDownloadRequest* request) {
    char type[256];
    if (SUCCEEDED(request->GetContentType(type, sizeof type))) std::printf("  content type: \"%s\"\n", type);
}

// The collection identifier of the first tree whose export is ready (DownloadStatus 2).
std::string ExportedTree(IQueryRequest* trees) {
    for (ULONG row = 0; row < trees->GetRowCount(); ++row)
        if (Value(trees, row, "DownloadStatus") == "2") return Value(trees, row, "CollectionID");
    return "";
}

void PrintPeakMemory(const char* when) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        std::printf("peak memory %s: working set %.1f MiB, private %.1f MiB\n", when,
                    counters.PeakWorkingSetSize / 1048576.0, counters.PeakPagefileUsage / 1048576.0);
}

// The online tree `collectionId` into downloaded-tree.ged, then, when asked, a web file.
bool RunDownloads(const std::string& ticket, const std::string& collectionId, const char* cobrand,
                  const char* fileServer, const char* filePath) {
    auto downloadTree = TARNIX_EXPORT(TarnixDownloadOnlineFamilyTree);
    auto getFile = TARNIX_EXPORT(TarnixGetInternetFile);
    bool ok = true;
    PrintPeakMemory("before downloading");

    std::printf("\ndownload of online tree %s\n", collectionId.empty() ? "(none is exported)" : collectionId.c_str());
    IDownloadRequest* request = nullptr;
    if (!collectionId.empty()) {
        HRESULT hr = downloadTree(ticket.c_str(), collectionId.c_str(), "downloaded-tree.ged", cobrand, &request);
        ok = SUCCEEDED(hr) && SUCCEEDED(WaitForDownload(request));
        if (SUCCEEDED(hr)) {
            if (ok) PrintType(request), std::printf("  saved as downloaded-tree.ged\n");
            request->Release();
        }
    }

    if (fileServer) {
        std::printf("\ndownload of http://%s%s\n", fileServer, filePath);
        HRESULT hr = getFile(fileServer, filePath, &request);
        bool fileOk = SUCCEEDED(hr) && SUCCEEDED(WaitForDownload(request));
        if (SUCCEEDED(hr)) {
            if (fileOk) PrintType(request), fileOk = SaveStream(request, "downloaded-file.bin");
            request->Release();
        }
        ok = ok && fileOk;
    }
    PrintPeakMemory("after downloading");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const char* dllPath = "tarnix.dll";
    const char* fileServer = nullptr;
    const char* filePath = nullptr;
    std::vector<const char*> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dll") == 0 && i + 1 < argc)
            dllPath = argv[++i];
        else if (std::strcmp(argv[i], "--download") == 0 && i + 2 < argc)
            fileServer = argv[++i], filePath = argv[++i];
        else
            args.push_back(argv[i]);
    }
    const char* user = args.size() > 0 ? args[0] : "demo";
    const char* password = args.size() > 1 ? args[1] : "demo-pass";
    const char* cobrand = args.size() > 2 ? args[2] : "demo";

    g_dll = LoadLibraryA(dllPath);
    if (!g_dll) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", dllPath, GetLastError());
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    auto initialize = TARNIX_EXPORT(TARNIXInitialize);
    auto terminate = TARNIX_EXPORT(TARNIXTerminate);
    auto connectedState = TARNIX_EXPORT(TarnixGetConnectedState);
    auto canConnect = TARNIX_EXPORT(TarnixCanConnect);
    auto loginUrl = TARNIX_EXPORT(TarnixGetLoginURL);
    auto treeSearchUrl = TARNIX_EXPORT(TarnixSearchTreeURL);
    auto login = TARNIX_EXPORT(TarnixLogin);
    auto listSites = TARNIX_EXPORT(TarnixListUserSites);
    auto listTrees = TARNIX_EXPORT(TarnixListOnlineFamilyTrees);

    HRESULT hr = initialize(0);
    std::printf("TARNIXInitialize: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;

    std::printf("connected: %s\n", connectedState() ? "yes" : "no");
    std::printf("modem that may be dialled: %s\n", canConnect() ? "yes" : "no");

    char address[512];
    if (SUCCEEDED(loginUrl(address, sizeof address, cobrand))) std::printf("login page: %s\n", address);
    if (SUCCEEDED(treeSearchUrl("O Brien", "Mary", nullptr, 1850, nullptr, 0, nullptr, nullptr, nullptr, cobrand, 2,
                                address, sizeof address)))
        std::printf("tree search page: %s\n", address);

    int exitCode = 1;
    IQueryRequest* request = nullptr;
    std::string title = std::string("sign-in as ") + user;
    if (RunQuery(title.c_str(), login(user, password, &request), &request, {"att"})) {
        std::string ticket = Value(request, 0, "att");
        request->Release();

        IQueryRequest* sites = nullptr;
        if (RunQuery("sites", listSites(ticket.c_str(), &sites), &sites, {"SiteID", "SiteName", "SiteRights", "Rights"}))
            sites->Release();

        IQueryRequest* trees = nullptr;
        if (RunQuery("online trees", listTrees(ticket.c_str(), cobrand, &trees), &trees,
                     {"SiteID", "SiteName", "CollectionID", "OFTName", "Permission", "DownloadStatus"})) {
            std::string exported = ExportedTree(trees);
            trees->Release();
            exitCode = RunDownloads(ticket, exported, cobrand, fileServer, filePath) ? 0 : 1;
        }
    }

    terminate();
    std::printf("\nterminated\n");
    FreeLibrary(g_dll);
    return exitCode;
}
