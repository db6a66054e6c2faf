// A small host program that uses tarnix.dll the way the genealogy application does: it loads
// the DLL at run time, looks its exports up by name and drives them: connectivity, addresses,
// sign-in, the user's sites and online trees, printing what comes back; then it creates an online
// tree from a GEDCOM file, replaces it with another and asks for its export.
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

// ---- Creating, replacing and exporting an online tree ----

// Waits for a request that has no values (create, replace, export) and prints how it ended.
bool RunChange(const char* title, HRESULT started, IRequest** requestSlot) {
    std::printf("\n%s\n", title);
    if (FAILED(started)) {
        std::printf("  could not start: 0x%08lX\n", static_cast<unsigned long>(started));
        return false;
    }
    IRequest* request = *requestSlot;
    HRESULT hr = Wait(request);
    request->Release();
    std::printf(FAILED(hr) ? "  failed: 0x%08lX\n" : "  accepted (0x%08lX)\n", static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

std::string WriteGedcom(const char* fileName, int people) {
    char directory[MAX_PATH + 1];
    GetTempPathA(MAX_PATH, directory);
    std::string name = std::string(directory) + fileName;
    std::string text = "0 HEAD\r\n1 SOUR TARNIX_DEMO\r\n1 CHAR ANSI\r\n";
    for (int i = 1; i <= people; ++i)
        text += "0 @I" + std::to_string(i) + "@ INDI\r\n1 NAME Person" + std::to_string(i) + " /Demo/\r\n";
    text += "0 TRLR\r\n";
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    return written == text.size() ? name : std::string();
}

// The CollectionID of the online tree named `treeName`, or "" when the list has none.
std::string FindTree(const std::string& ticket, const char* cobrand, const std::string& treeName) {
    IQueryRequest* trees = nullptr;
    HRESULT started = TARNIX_EXPORT(TarnixListOnlineFamilyTrees)(ticket.c_str(), cobrand, &trees);
    std::string id;
    if (SUCCEEDED(started) && SUCCEEDED(Wait(trees))) {
        for (ULONG row = 0; row < trees->GetRowCount() && id.empty(); ++row)
            if (Value(trees, row, "OFTName") == treeName) id = Value(trees, row, "CollectionID");
    }
    if (SUCCEEDED(started)) trees->Release();
    return id;
}

// Creates a tree on `siteId` from a small GEDCOM file, replaces it with a larger one and orders
// its export.
bool ChangeOnlineTrees(const std::string& ticket, const std::string& siteId, const char* cobrand) {
    const std::string first = WriteGedcom("tarnix demo tree.ged", 3);
    const std::string second = WriteGedcom("tarnix demo tree v2.ged", 12);
    if (first.empty() || second.empty()) {
        std::printf("\ncannot write the demonstration's GEDCOM files\n");
        return false;
    }
    const std::string treeName = "Demo upload " + std::to_string(GetTickCount());
    IRequest* request = nullptr;
    bool ok = RunChange(("create \"" + treeName + "\" on site " + siteId + " from " + first).c_str(),
                        TARNIX_EXPORT(TarnixCreateOnlineFamilyTree)(ticket.c_str(), first.c_str(), siteId.c_str(),
                                                                    treeName.c_str(), FALSE, cobrand, &request),
                        &request);
    const std::string collectionId = ok ? FindTree(ticket, cobrand, treeName) : std::string();
    if (ok && collectionId.empty()) {
        std::printf("  the new tree is not in the list\n");
        ok = false;
    }
    if (ok) {
        std::printf("  listed as CollectionID %s\n", collectionId.c_str());
        ok = RunChange(("replace tree " + collectionId + " with " + second).c_str(),
                       TARNIX_EXPORT(TarnixUpdateOnlineFamilyTree)(ticket.c_str(), second.c_str(),
                                                                   collectionId.c_str(), cobrand, &request),
                       &request) &&
             RunChange(("export tree " + collectionId).c_str(),
                       TARNIX_EXPORT(TarnixExportOnlineFamilyTree)(ticket.c_str(), collectionId.c_str(), cobrand,
                                                                   &request),
                       &request);
    }
    DeleteFileA(first.c_str());
    DeleteFileA(second.c_str());
    return ok;
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
        std::string siteId;
        if (RunQuery("sites", listSites(ticket.c_str(), &sites), &sites, {"SiteID", "SiteName", "SiteRights", "Rights"})) {
            siteId = Value(sites, 0, "SiteID");
            sites->Release();
        }

        IQueryRequest* trees = nullptr;
        if (RunQuery("online trees", listTrees(ticket.c_str(), cobrand, &trees), &trees,
                     {"SiteID", "SiteName", "CollectionID", "OFTName", "Permission", "DownloadStatus"})) {
            trees->Release();
            exitCode = 0;
        }
        if (exitCode == 0 && !ChangeOnlineTrees(ticket, siteId, cobrand)) exitCode = 1;
    }

    terminate();
    std::printf("\nterminated\n");
    FreeLibrary(g_dll);
    return exitCode;
}
