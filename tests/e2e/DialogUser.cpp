// tarnix_dialog_user: plays the user of a dialog that another process shows, for the end-to-end
// run of the command-line host against the local service (tools/run-demo.sh).
//
//   tarnix_dialog_user replace SITE TREE [CAPTION]
//
// finds the tree browser, checks that SITE is offered, picks it, accepts the World Tree terms,
// types TREE into the name box, presses Enter there and answers Yes when asked whether to replace
// the tree (its message box titled CAPTION, "tarnix" by default). Exits with 0 once the browser
// is gone; on any failure it says why, cancels what is open and exits with 1.
#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "DialogDriver.h"

namespace {

using tarnix::test::DialogWindow;

constexpr int kSiteList = 1000, kName = 1008, kAccept = 1011;

// A list box's items, read across processes: Wine hands another process a list box's text whole
// only through the wide message.
std::vector<std::string> ListBoxItems(HWND list) {
    std::vector<std::string> items;
    for (LRESULT i = 0, count = SendMessageW(list, LB_GETCOUNT, 0, 0); i < count; ++i) {
        wchar_t text[256] = {};
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        char narrow[512] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
        items.push_back(narrow);
    }
    return items;
}

std::string TitleOf(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The visible dialog or message box titled `title`, waited for 30 s at most.
HWND WaitForWindow(const std::string& title) {
    for (int tries = 0; tries < 1500; ++tries, Sleep(20)) {
        HWND found = nullptr;
        while ((found = FindWindowExA(nullptr, found, "#32770", nullptr)))
            if (IsWindowVisible(found) && TitleOf(found) == title) return found;
    }
    throw std::runtime_error("no window titled \"" + title + "\" appeared");
}

void WaitUntil(bool (*condition)(HWND), HWND window, const char* what) {
    for (int tries = 0; !condition(window); ++tries, Sleep(20))
        if (tries > 1500) throw std::runtime_error(std::string("waited in vain for ") + what);
}

void Replace(const std::string& site, const std::string& tree, const std::string& caption) {
    const DialogWindow browser(WaitForWindow("Online Family Trees"));
    WaitUntil([](HWND w) { return IsWindowEnabled(GetDlgItem(w, kSiteList)) != FALSE; }, browser.Handle(), "the lists");
    const std::vector<std::string> sites = ListBoxItems(browser.Item(kSiteList));
    std::string offered;
    int position = -1;
    for (size_t i = 0; i < sites.size(); ++i) {
        offered += (i ? ", \"" : "\"") + sites[i] + "\"";
        if (sites[i] == site) position = static_cast<int>(i);
    }
    std::printf("the browser offers %s\n", offered.c_str());
    if (position < 0) throw std::runtime_error("the site \"" + site + "\" is not offered");
    browser.ChooseListBoxItem(kSiteList, position);
    browser.Click(kAccept);
    browser.Type(kName, tree);
    browser.PressKey(VK_RETURN);
    const DialogWindow question(WaitForWindow(caption));
    std::string text;
    for (HWND label = nullptr; (label = FindWindowExA(question.Handle(), label, "Static", nullptr));)
        if (text.empty()) text = TitleOf(label);
    std::printf("asked: %s\n", text.c_str());
    if (text != tree + " already exists.\r\nDo you want to replace it?")
        throw std::runtime_error("not the question whether to replace " + tree);
    question.Click(IDYES);
    WaitUntil([](HWND w) { return !IsWindow(w) || !IsWindowVisible(w); }, browser.Handle(), "the browser to close");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::string(argv[1]) != "replace") {
        std::fprintf(stderr, "usage: tarnix_dialog_user replace SITE TREE [CAPTION]\n");
        return 2;
    }
    try {
        Replace(argv[2], argv[3], argc > 4 ? argv[4] : "tarnix");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnix_dialog_user: %s\n", e.what());
        // Whatever is still open is cancelled (a message box first), so that the host's command ends.
        const std::string titles[] = {argc > 4 ? argv[4] : "tarnix", "Online Family Trees"};
        for (int tries = 0; tries < 50; ++tries, Sleep(100))
            for (const std::string& title : titles)
                if (HWND open = FindWindowExA(nullptr, nullptr, "#32770", title.c_str()))
                    PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
        return 1;
    }
}
