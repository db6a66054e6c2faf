// What the user sees of the update check through tarnix.dll: the prompt, answered every way with
// and without a parent window and without TARNIXInitialize, which it does not need; and the box
// that tells of a silent check that cannot start.
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

TEST(SilentCheckExport, ANullWindowStartsNothingAndAFailedStartIsShownToTheUser) {
    EXPECT_EQ(0u, TarnixUpdateVelmoraFamilyTreeSilentCheck(nullptr, "TarnixDllTestCo", "P", "1", "1", "1", ""));

    // Not initialized: the check cannot start. The user reads the box and closes it.
    HostWindow window;
    EXPECT_EQ(0, DriveDialog("Version Check", window.get(), [&](auto& script, auto&) {
        script.AnswerMessageBox("Version Check", window.get(), "An error has occured. The error code is 80004005",
                                MB_ICONERROR, IDOK);
    }, [&] { return BOOL(TarnixUpdateVelmoraFamilyTreeSilentCheck(window.get(), "TarnixDllTestCo", "P", "1", "1", "1", "")); }));
    EXPECT_FALSE(KillTimer(window.get(), 305)) << "a timer was set for a check that did not start";
}

}  // namespace
