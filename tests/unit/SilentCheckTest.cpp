// The silent update check driven by a real window and message loop, the timer's period shortened: the
// flag each answer writes, checks that fail, never finish or cannot start. (How versions compare is
// the fuzz target version_text's.)
#include "operations/SilentCheck.h"

#include <gtest/gtest.h>

#include "DialogDriver.h"
#include "HostWindow.h"
#include "TestService.h"

namespace tarnix {
namespace {

using test::HttpAnswer;

constexpr char kCompany[] = "TarnixUnitTestCo", kCompanyKey[] = "software\\TarnixUnitTestCo";

HttpAnswer Xapi(const std::string& exe, const std::string& webctl, const std::string& tarnix) {
    return HttpAnswer{200, "OK", {}, "<r><ok/><xapi><exe>" + exe + "</exe><webctl>" + webctl + "</webctl><tarnix>" + tarnix + "</tarnix></xapi></r>"};
}

class SilentCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ReachDirectly(service);
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        SilentCheckPeriodMs() = 20;
        RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey);
    }
    void TearDown() override {
        TARNIXTerminate();
        RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey);
    }

    test::TestService service;
    test::HostWindow window;
};

// One check after another in the same process, each flag different from the one before but where
// nothing is written: a check that never finishes gives up at its twelfth tick, the next one too (each
// has a limit of its own), and a failed one. Each version is the newer one once; with all of them
// equal, one compared with another's field would show. No check leaves its timer running.
TEST_F(SilentCheckTest, EachAnswerWritesWhetherAComponentIsNewer) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HttpAnswer silent{200, "OK", {}, Xapi("2.0.0", "1.0.0", "1.0.0").body, true, "", {test::Hold(never)}};
    const struct { const char *exe, *webctl, *tarnix; HttpAnswer answer; DWORD flag; int ticks = 0; } rows[] = {
        {"1.0.0", "1.0.0", "1.0.0", silent, 0xDEADBEEF, 12},
        {"1.0.0", "1.0.0", "1.0.0", silent, 0xDEADBEEF, 12},
        {"7.2.15", "3.0.0", "1.0.0", Xapi("7.2.16", "3.0.0", "1.0.0"), 1},
        {"7.2.16", "3.0.0", "1.0.0", Xapi("7.2.16", "3.0.0", "1.0.0"), 0},
        {"9.0.0", "3.0.0", "1.0.0", Xapi("9.0.0", "3.0.1", "1.0.0"), 1},
        {"9.0.0", "3.0.0", "1.0.0", HttpAnswer{200, "OK", {}, "<r><ok/><exe>10.0.0</exe></r>"}, 0},  // no xapi
        {"1.0.0", "3.0.0", "1.0.0", Xapi("1.0.0", "3.0.0", "1.0.1"), 1},
        {"1.0.0", "1.0.0", "1.0.0", HttpAnswer{200, "OK", {}, "<r><error><hresult>80070005</hresult></error></r>"}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer.body);
        service.SetDefault(row.answer);
        EXPECT_EQ(305u, TarnixUpdateVelmoraFamilyTreeSilentCheck(window.get(), kCompany, "Velmora", row.exe, row.webctl, row.tarnix, ""));
        auto* record = reinterpret_cast<const SilentCheckRecord*>(GetWindowLongPtrA(window.get(), GWLP_USERDATA));
        EXPECT_TRUE(record && record->companyKey == kCompany && record->exeVersion == row.exe);
        SetWindowLongPtrA(window.get(), GWLP_USERDATA, 0x5eed);  // the host takes it back: the check must not care
        const int ticks = window.RunLoop([&] { return !SilentCheckRunning(window.get()); });
        EXPECT_TRUE(row.ticks ? ticks == row.ticks : ticks >= 1) << ticks << " ticks";
        EXPECT_EQ(0, window.RunLoop([] { return false; }, 60)) << "the timer still runs";
        // A host reads a REG_DWORD: any other type fails there (Wine's RegGetValue fills the buffer all
        // the same), so the type is checked here.
        DWORD flag = 0xDEADBEEF, size = sizeof flag, type = REG_DWORD;
        const LSTATUS status = RegGetValueA(HKEY_CURRENT_USER, "software\\TarnixUnitTestCo\\Velmora\\VFTUpdates", "UpdateAvailable",
                                            RRF_RT_ANY, &type, &flag, &size);
        EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && type == REG_DWORD && size == 4)) << status << " " << type;
        EXPECT_EQ(row.flag, flag);
    }
    SetEvent(never);
    CloseHandle(never);
}

// Without a window nothing could run the timer. Without a company or a product name the flag would
// land under another key, and a version text that could end the request line cannot be sent: the
// start fails, with its message box over the window. Nothing runs, nothing is sent.
TEST_F(SilentCheckTest, ACheckThatCannotStartSetsNoTimerAndSaysWhy) {
    const HWND w = window.get();
    const struct { HWND window; const char *company, *product, *exe; } cases[] = {
        {nullptr, kCompany, "Velmora", "1.0.0"}, {w, nullptr, "Velmora", "1.0.0"}, {w, "", "Velmora", "1.0.0"},
        {w, kCompany, nullptr, "1.0.0"},         {w, kCompany, "", "1.0.0"},       {w, kCompany, "Velmora", "1.0\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.company ? c.company : "(null)") + ", " + (c.product ? c.product : "(null)") + ", " + c.exe);
        auto says = [&](auto& box) {
            box.AnswerMessageBox("Version Check", "An error has occured. The error code is 80070057", MB_ICONERROR, IDOK, {IDOK}, IDOK, w);
        };
        EXPECT_EQ(0, test::DriveDialog("Version Check", c.window, c.window ? test::User(says) : nullptr, [&] {
            return BOOL(TarnixUpdateVelmoraFamilyTreeSilentCheck(c.window, c.company, c.product, c.exe, "1.0.0", "1.0.0", ""));
        }));
        EXPECT_FALSE(KillTimer(w, 305)) << "a timer was set for a check that did not start";
    }
    EXPECT_EQ(0u, service.RequestCount());
}

}  // namespace
}  // namespace tarnix
