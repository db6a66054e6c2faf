// The update prompt through tarnix.dll: every way a user answers it, with and without a parent
// window, and without TARNIXInitialize, which it does not need.
#include <gtest/gtest.h>

#include <functional>

#include "DialogDriver.h"
#include "tarnix.h"

namespace {

using tarnix::test::DialogScript;
using tarnix::test::DialogWindow;
using tarnix::test::DriveDialogs;

TEST(UpdatePromptDialog, AnswersWhetherToUpdateNow) {
    HWND host = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    const struct {
        const char* how;
        HWND parent;
        std::function<void(const DialogWindow&)> answer;
        BOOL result;
    } cases[] = {
        {"Yes, Update Velmora Family Tree Now", host, [](const DialogWindow& d) { d.Click(IDOK); }, 1},
        {"Enter, without a parent", nullptr,
         [](const DialogWindow& d) {
             d.Capture("update-prompt");
             d.PressKey(VK_RETURN);
         },
         1},
        {"Remind Me Later", host, [](const DialogWindow& d) { d.Click(IDCANCEL); }, 0},
        {"Esc", host, [](const DialogWindow& d) { d.PressKey(VK_ESCAPE); }, 0},
        {"the close box, without a parent", nullptr, [](const DialogWindow& d) { d.Close(); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        BOOL result = -1;
        DriveDialogs(
            [&](const DialogScript& script) {
                const DialogWindow prompt = script.WaitForWindow("Velmora Family Tree Updates");
                EXPECT_EQ(c.parent, prompt.Owner());
                c.answer(prompt);
                script.WaitGone(prompt);
            },
            [&] { result = TarnixPromptUpdateVelmoraFamilyTreeDialog(c.parent); });
        EXPECT_EQ(c.result, result);
    }
    DestroyWindow(host);
}

}  // namespace
