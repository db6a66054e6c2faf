// tarnix_dialog_user replace SITE TREE [CAPTION]: the user of another process's tree browser in the end-to-end run
// (tools/run-demo.sh). Checks that SITE is offered, picks it, accepts the World Tree terms, types TREE, presses Enter
// and answers Yes to replacing it (box CAPTION, "tarnix" by default); exits with 0 once the browser is gone, else with 1.
#include <cstdio>

#include "DialogDriver.h"

using namespace tarnix::test;

int main(int argc, char** argv) {
    if (argc < 4 || std::string(argv[1]) != "replace") return std::fprintf(stderr, "usage: tarnix_dialog_user replace SITE TREE [CAPTION]\n"), 2;
    const std::string site = argv[2], tree = argv[3], caption = argc > 4 ? argv[4] : "tarnix";
    try {
        const Dialog browser = Dialog(nullptr, 0, nullptr, 30000).WaitForWindow("Online Family Trees");  // another process's: slow to come
        browser.WaitUntil([&] { return browser.Enabled(1000); }, "the lists");
        const std::vector<std::string> sites = browser.Items(1000);
        const auto position = std::find(sites.begin(), sites.end(), site);
        if (position == sites.end()) throw std::runtime_error("the site \"" + site + "\" is not offered");
        browser.Choose(1000, static_cast<int>(position - sites.begin()));
        browser.Click(1011);  // the terms accepted
        browser.Type(1008, tree);
        browser.PressKey(VK_RETURN);
        browser.AnswerMessageBox(caption, tree + " already exists.\r\nDo you want to replace it?", MB_ICONEXCLAMATION, IDYES, {IDYES, IDNO}, IDNO);
        browser.WaitGone();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnix_dialog_user: %s\n", e.what());
        // Whatever is still open is cancelled (a message box first), so that the host's command ends.
        for (int tries = 0; tries < 50; ++tries, Sleep(100))
            for (const std::string& title : {caption, std::string("Online Family Trees")})
                if (HWND open = FindWindowExA(nullptr, nullptr, "#32770", title.c_str())) PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
        return 1;
    }
}
