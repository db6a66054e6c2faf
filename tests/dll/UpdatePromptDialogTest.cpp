// The update prompt through tarnix.dll: every way a user answers it, with and without a parent
// window, and without TARNIXInitialize, which it does not need.
#include <gtest/gtest.h>

#include "DialogDriver.h"
#include "HostWindow.h"
#include "tarnix.h"

namespace {

using namespace tarnix::test;

TEST(UpdatePromptDialog, AnswersWhetherToUpdateNow) {
    HostWindow host;
    const struct {
        const char* how;
        HWND parent;
        User answer;
        BOOL result;
    } cases[] = {
        {"Yes, Update Velmora Family Tree Now", host.get(), [](auto&, auto& d) { d.Click(IDOK); }, 1},
        {"Enter, without a parent", nullptr, [](auto&, auto& d) { d.Capture("update-prompt"); d.PressKey(VK_RETURN); }, 1},
        {"Remind Me Later", host.get(), [](auto&, auto& d) { d.Click(IDCANCEL); }, 0},
        {"Esc", host.get(), [](auto&, auto& d) { d.PressKey(VK_ESCAPE); }, 0},
        {"the close box, without a parent", nullptr, [](auto&, auto& d) { d.Close(); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        EXPECT_EQ(c.result, DriveDialog("Velmora Family Tree Updates", c.parent, c.answer,
                                        [&] { return TarnixPromptUpdateVelmoraFamilyTreeDialog(c.parent); }));
    }
}

}  // namespace
