// tarnix_pictures FOLDER: shows each of the library's dialogs in the state that the README's pictures
// show (docs/dialogs), against a local service of its own reached through the proxy setting, and
// writes each window, frame included, to FOLDER\<name>.png. Run on demand by tools/take-pictures.sh,
// never by the tests; exits with the number of pictures it could not take.
#include <windows.h>
#include <gdiplus.h>

#include <cstdio>
#include <fstream>

#include "DialogDriver.h"
#include "ProxySetting.h"
#include "TestService.h"
#include "tarnix.h"

using namespace tarnix::test;

namespace {

std::string g_folder;
int g_missing = 0;

// The window, frame included, once its own thread has painted it.
void Capture(HWND window, const std::string& name) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    RECT frame{};
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetWindowDC(window), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    bool saved = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    Gdiplus::GdiplusStartupInput startup;
    ULONG_PTR token = 0;
    const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    const std::string path = g_folder + "\\" + name + ".png";
    const std::wstring wide(path.begin(), path.end());
    saved = saved && Gdiplus::GdiplusStartup(&token, &startup, nullptr) == Gdiplus::Ok &&
            Gdiplus::Bitmap(bitmap, nullptr).Save(wide.c_str(), &png, nullptr) == Gdiplus::Ok;
    if (token) Gdiplus::GdiplusShutdown(token);
    DeleteObject(bitmap);
    if (!saved) throw std::runtime_error("could not write " + path);
    std::printf("%s\n", path.c_str());
}

// Runs `call` (which shows the dialog titled `title`) while a second thread lets `pose` put the dialog
// in the picture's state, takes the picture and cancels the dialog.
void Picture(const char* name, const char* title, const std::function<void(const Dialog&)>& pose, const std::function<void()>& call) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD thread = GetCurrentThreadId();
    std::thread taker([&] {
        try {
            const Dialog dialog = Dialog(nullptr, thread, done).WaitForWindow(title);
            pose(dialog);
            Capture(dialog.Handle(), name);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarnix_pictures: %s: %s\n", name, e.what());
            ++g_missing;
        }
        while (WaitForSingleObject(done, 100) == WAIT_TIMEOUT)
            for (HWND window : VisibleWindows("#32770", nullptr, thread)) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    });
    call();
    SetEvent(done);
    taker.join();
    CloseHandle(done);
}

std::string Row(const char* tag, std::initializer_list<std::pair<const char*, const char*>> values) {
    std::string xml = std::string("<") + tag + ">";
    for (const auto& [name, value] : values) xml += std::string("<") + name + ">" + value + "</" + name + ">";
    return xml + "</" + tag + ">";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnix_pictures FOLDER\n");
        return 2;
    }
    g_folder = argv[1];
    TestService service;
    const ProxySetting proxy(service.Port());  // every host name, the service's and files.example, is this service
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto ok = [](const std::string& rows) { return HttpAnswer{200, "OK", {}, "<r><ok/>" + rows + "</r>"}; };
    auto site = [](const char* id, const char* name) {
        return Row("Site", {{"SiteID", id}, {"SiteName", name}, {"SiteRights", "PRIV"}, {"Rights", "ADMN"}});
    };
    auto tree = [](const char* id, const char* name, const char* permission, const char* status) {
        return Row("oft", {{"SiteID", "4101"}, {"CollectionID", id}, {"OFTName", name}, {"Permission", permission}, {"DownloadStatus", status}});
    };
    service.On("op=apilistusersites", ok(site("4101", "Haverfield family") + site("4102", "Cousins in Ohio")));
    service.On("op=oftlist", ok(tree("c-1", "Smith Family", "15", "2") + tree("c-2", "Jones", "7", "0") + tree("c-5", "Jones", "3", "1")));
    HttpAnswer held = ok("");
    held.steps = {Hold(release)};
    service.On("op=oftcreate", held);
    service.On("op=oftexport", held);
    // Half of it at some 160 KB/s, then held: the dialog has a rate to show.
    HttpAnswer file{200, "OK", {{"Content-Type", "text/plain"}}, std::string(819200, 'g'), true, "", {Trickle(8192, 50, 409600), Hold(release)}};
    service.On("/files/t.ged", file);
    if (TARNIXInitialize(0) != S_OK) return 5;
    std::ofstream("C:\\tarnix-pictures.ged", std::ios::binary) << "0 HEAD\r\n0 TRLR\r\n";
    char buffers[6][64];
    int worldTree = 0;
    Picture("tree-browser", "Online Family Trees", [](const Dialog& d) {
        d.WaitUntil([&] { return d.Enabled(1000); }, "the lists");
        d.Choose(1000, 1);
        d.Select(1007, 0);
    }, [&] {
        TarnixSaveOnlineFamilyTreeDialog(nullptr, "tarnix", "tk", "", buffers[0], 64, buffers[1], 64, buffers[2], 64, buffers[3], 64,
                                         buffers[4], 64, buffers[5], 64, &worldTree);
    });
    Picture("update-prompt", "Velmora Family Tree Updates", [](const Dialog&) {}, [] { TarnixPromptUpdateVelmoraFamilyTreeDialog(nullptr); });
    Picture("upload-progress", "Exporting Smith Family", [](const Dialog&) {}, [] {
        TarnixCreateOnlineFamilyTreeDialog(nullptr, "tarnix", "tk", "C:\\tarnix-pictures.ged", "4101", "Smith Family", 0, "");
    });
    Picture("export-order", "Online Family Tree", [&](const Dialog& d) {
        SetEvent(release);
        d.WaitUntil([&] { return d.Text(IDCANCEL) == "Close"; }, "the order taken");
        ResetEvent(release);
    }, [] { TarnixExportOnlineFamilyTreeDialog(nullptr, "tarnix", "tk", "c-1", "Smith Family", ""); });
    Picture("download-progress", "0% of /files/t.ged?v=2 Completed", [](const Dialog& d) {
        // The first poll that sees the transfer running has nothing to measure yet: a later one.
        d.WaitUntil([&] { return d.Title() == "50% of /files/t.ged?v=2 Completed" && d.Text(1006) != "3.60 KB/Sec"; }, "half-way");
    }, [&] {
        char type[64];
        TarnixDownloadFileDialog(nullptr, "tarnix", "files.example", "/files/t.ged?v=2", "C:\\users\\smith.family.ged", type, sizeof type);
    });
    SetEvent(release);
    TARNIXTerminate();
    DeleteFileA("C:\\tarnix-pictures.ged");
    DeleteFileA("C:\\users\\smith.family.ged");
    CloseHandle(release);
    return g_missing;
}
