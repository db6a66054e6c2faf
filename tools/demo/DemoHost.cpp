// A small host program that uses tarnix.dll the way the genealogy application does: it loads
// the DLL at run time, looks its exports up by name and drives them: connectivity, addresses,
// sign-in, the user's sites and online trees, search counts, the version check and the silent
// update check from a window's message loop, printing what comes back.
//
//   tarnix_demo.exe [--dll PATH] [USER PASSWORD [COBRAND]]
//
// Requests go to the library's service host through the system's proxy setting.
#include <windows.h>

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
HRESULT Wait(IRequest* request) {
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

// Runs one search count to its end and prints its three values; false when it failed.
bool RunCount(const char* title, HRESULT started, ISearchCountRequest** requestSlot) {
    std::printf("\n%s\n", title);
    if (FAILED(started)) {
        std::printf("  could not start: 0x%08lX\n", static_cast<unsigned long>(started));
        return false;
    }
    ISearchCountRequest* request = *requestSlot;
    HRESULT hr = Wait(request);
    LONG first = 0, second = 0, last = 0;
    if (SUCCEEDED(hr)) hr = request->GetFirstValue(&first);
    if (SUCCEEDED(hr)) hr = request->GetSecondValue(&second);
    if (SUCCEEDED(hr)) hr = request->GetLastValue(&last);
    request->Release();
    if (FAILED(hr)) {
        std::printf("  failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return false;
    }
    std::printf("  first (matches) %ld, second value (plus one) %ld, last %ld\n", static_cast<long>(first),
                static_cast<long>(second), static_cast<long>(last));
    return true;
}

constexpr char kDemoCompany[] = "TarnixDemo";
constexpr char kDemoProduct[] = "VelmoraFamilyTree";

DWORD ReadUpdateFlag() {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, "software\\TarnixDemo\\VelmoraFamilyTree\\VFTUpdates", "UpdateAvailable",
                     RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

// Starts the silent update check on a window of this thread and runs the window's message loop,
// as the application's main window does, until the library has written the update flag (its
// timer ticks every 5 seconds and gives up after a minute).
bool RunSilentCheck(decltype(&TarnixUpdateVelmoraFamilyTreeSilentCheck) silentCheck, const char* exe,
                    const char* webctl, const char* tarnix, const char* cobrand) {
    std::printf("\nsilent update check (local %s, %s, %s)\n", exe, webctl, tarnix);
    RegDeleteTreeA(HKEY_CURRENT_USER, "software\\TarnixDemo");
    HWND window = CreateWindowExA(0, "STATIC", "demo host", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    UINT timer = silentCheck(window, kDemoCompany, kDemoProduct, exe, webctl, tarnix, cobrand);
    std::printf("  timer %u set; waiting for its ticks\n", timer);
    const ULONGLONG start = GetTickCount64();
    while (timer != 0 && ReadUpdateFlag() == 0xFFFFFFFF && GetTickCount64() - start < 65000) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    DestroyWindow(window);
    DWORD flag = ReadUpdateFlag();
    if (flag == 0xFFFFFFFF) {
        std::printf("  no update flag written\n");
        return false;
    }
    std::printf("  HKCU\\software\\%s\\%s\\VFTUpdates UpdateAvailable = %lu (after %.1f s)\n", kDemoCompany,
                kDemoProduct, static_cast<unsigned long>(flag), (GetTickCount64() - start) / 1000.0);
    return true;
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
    const char* user = args.size() > 0 ? args[0] : "demo.user";
    const char* password = args.size() > 1 ? args[1] : "family & friends";
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
    auto searchTree = TARNIX_EXPORT(TarnixSearchTree);
    auto searchData = TARNIX_EXPORT(TarnixSearchData);
    auto checkVersion = TARNIX_EXPORT(TarnixCheckVelmoraFamilyTreeVersion);
    auto silentCheck = TARNIX_EXPORT(TarnixUpdateVelmoraFamilyTreeSilentCheck);

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
            trees->Release();
            exitCode = 0;
        }
    }

    ISearchCountRequest* treeCount = nullptr;
    bool counted = RunCount("tree search count: surname Haverfield",
                            searchTree("Haverfield", nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, cobrand,
                                       &treeCount),
                            &treeCount);
    ISearchCountRequest* dataCount = nullptr;
    counted = RunCount("record search count: surname Colley",
                       searchData("Colley", nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, cobrand,
                                  &dataCount),
                       &dataCount) && counted;

    const char* exe = "7.2.15";
    const char* webctl = "3.1.0";
    const char* library = "1.0.0";
    IQueryRequest* versions = nullptr;
    std::string versionTitle = std::string("service versions (this host: ") + exe + ", " + webctl + ", " + library + ")";
    bool checked = RunQuery(versionTitle.c_str(), checkVersion(exe, webctl, library, cobrand, &versions), &versions,
                            {"EXE", "WEBCTL", "TARNIX"});
    if (checked) versions->Release();
    checked = RunSilentCheck(silentCheck, exe, webctl, library, cobrand) && checked;
    if (!counted || !checked) exitCode = 1;

    terminate();
    std::printf("\nterminated\n");
    FreeLibrary(g_dll);
    return exitCode;
}
