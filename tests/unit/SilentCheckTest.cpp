// The silent update check driven by a real window and message loop, with the timer's period
// shortened: the flag each answer writes, checks that fail, never finish or cannot start. (How
// versions compare is the fuzz target version_text's.)
#include "operations/SilentCheck.h"

#include <gtest/gtest.h>

#include <string>

#include "DialogDriver.h"
#include "HostWindow.h"
#include "TestService.h"

namespace tarnix {
namespace {

using test::HttpAnswer;

constexpr char kCompany[] = "TarnixUnitTestCo";
const std::string kCompanyKey = std::string("software\\") + kCompany;

HttpAnswer Xapi(const std::string& exe, const std::string& webctl, const std::string& tarnix) {
    return HttpAnswer{200, "OK", {}, "<r><ok/><xapi><exe>" + exe + "</exe><webctl>" + webctl + "</webctl><tarnix>" +
                                         tarnix + "</tarnix></xapi></r>"};
}

class SilentCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ReachDirectly(service);
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        SilentCheckPeriodMs() = 20;
        RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey.c_str());
    }
    void TearDown() override {
        TARNIXTerminate();
        RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey.c_str());
    }
    // 0xDEADBEEF while nothing has been written. A host reads a REG_DWORD: any other type fails
    // there (Wine's RegGetValue fills the buffer all the same), so the type is checked here.
    DWORD Flag() {
        DWORD value = 0, size = sizeof value, type = REG_NONE;
        const LSTATUS status = RegGetValueA(HKEY_CURRENT_USER, (kCompanyKey + "\\Velmora\\VFTUpdates").c_str(),
                                            "UpdateAvailable", RRF_RT_ANY, &type, &value, &size);
        if (status == ERROR_FILE_NOT_FOUND) return 0xDEADBEEF;
        EXPECT_EQ(ERROR_SUCCESS, status);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        EXPECT_EQ(sizeof(DWORD), size);
        return value;
    }

    // Starts a check as a host does and runs the loop until the check is over; the ticks it took.
    // The host takes its user data back at once: the check must not care.
    int Check(const char* exe, const char* webctl, const char* tarnix) {
        EXPECT_EQ(305u, TarnixUpdateVelmoraFamilyTreeSilentCheck(window.get(), kCompany, "Velmora", exe, webctl, tarnix, ""));
        auto* record = reinterpret_cast<const SilentCheckRecord*>(GetWindowLongPtrA(window.get(), GWLP_USERDATA));
        EXPECT_TRUE(record && record->companyKey == kCompany && record->exeVersion == exe);
        SetWindowLongPtrA(window.get(), GWLP_USERDATA, 0x5eed);
        return window.RunLoop([&] { return !SilentCheckRunning(window.get()); });
    }

    test::TestService service;
    test::HostWindow window;
};

// One check after another in the same process, each flag different from the one it replaces, but
// for the failed check, which writes nothing. Each version compared alone is newer once; with all
// equal, a version compared with another's field would show.
TEST_F(SilentCheckTest, EachAnswerWritesWhetherAComponentIsNewer) {
    const struct {
        const char *exe, *webctl, *tarnix;
        HttpAnswer answer;
        DWORD flag;
    } rows[] = {
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
        EXPECT_GE(Check(row.exe, row.webctl, row.tarnix), 1);
        EXPECT_EQ(row.flag, Flag());
    }
}

// Each check has a limit of its own: the second gives up at its twelfth tick too, its timer gone,
// and one after them still completes.
TEST_F(SilentCheckTest, ACheckThatNeverFinishesGivesUpAtItsTwelfthTick) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer silent = Xapi("2.0.0", "1.0.0", "1.0.0");
    silent.steps = {test::Hold(never)};
    service.On("exe=silent", silent);
    service.SetDefault(Xapi("1.0.0", "1.0.0", "1.0.0"));
    EXPECT_EQ(12, Check("silent", "1", "1"));
    EXPECT_EQ(12, Check("silent", "1", "1"));
    EXPECT_EQ(0, window.RunLoop([] { return false; }, 200)) << "the timer still runs";
    EXPECT_EQ(0xDEADBEEFu, Flag());
    Check("1.0.0", "1.0.0", "1.0.0");
    EXPECT_EQ(0u, Flag());
    SetEvent(never);
    CloseHandle(never);
}

// Without a window nothing could run the timer. Without a company or a product name the flag would
// land under another key, and a version text that could end the request line cannot be sent: the
// start fails, with its message box over the window. Nothing runs, nothing is sent.
TEST_F(SilentCheckTest, ACheckThatCannotStartSetsNoTimerAndSaysWhy) {
    const struct {
        HWND window;
        const char *company, *product, *exe;
    } cases[] = {{nullptr, kCompany, "Velmora", "1.0.0"},    {window.get(), nullptr, "Velmora", "1.0.0"},
                 {window.get(), "", "Velmora", "1.0.0"},     {window.get(), kCompany, nullptr, "1.0.0"},
                 {window.get(), kCompany, "", "1.0.0"},      {window.get(), kCompany, "Velmora", "1.0\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.company ? c.company : "(null)") + ", " + (c.product ? c.product : "(null)") + ", " + c.exe);
        auto says = [&](auto& script, auto&) {
            script.AnswerMessageBox("Version Check", c.window, "An error has occured. The error code is 80070057", MB_ICONERROR, IDOK);
        };
        EXPECT_EQ(0, test::DriveDialog("Version Check", c.window, c.window ? test::User(says) : nullptr, [&] {
            return BOOL(TarnixUpdateVelmoraFamilyTreeSilentCheck(c.window, c.company, c.product, c.exe, "1.0.0", "1.0.0", ""));
        }));
        EXPECT_FALSE(KillTimer(window.get(), 305)) << "a timer was set for a check that did not start";
    }
    EXPECT_EQ(0u, service.RequestCount());
}

}  // namespace
}  // namespace tarnix
