// The silent update check driven by a real window and message loop, with the timer's period
// shortened: the flag each answer writes (the version comparison behind it included), and checks
// that fail or never finish.
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
        return window.RunLoop([&] { return !SilentCheckRunning(window.get()); }, 20000);
    }

    test::TestService service;
    test::HostWindow window;
};

// One check after another in the same process, each flag different from the one it replaces, but
// for the failed checks, which write nothing. (How versions compare is the fuzz target version_text's.)
TEST_F(SilentCheckTest, EachAnswerWritesWhetherAComponentIsNewer) {
    const std::string tooLong = "1.0.0" + std::string(59, ' ');  // 64 characters: never cut to 1.0.0
    struct Row {
        std::string exe, webctl, tarnix;
        HttpAnswer answer;
        DWORD flag;
    } rows[] = {
        {"7.2.15", "3.0.0", "1.0.0", Xapi("7.2.16", "3.0.0", "1.0.0"), 1},
        {"7.10.0", "3.0.0", "1.0.0", Xapi("7.9.9", "3.0.0", "1.0.0"), 0},  // numbers, not texts
        {"7.9.9", "3.0.0", "1.0.0", Xapi("7.10.0", "3.0.0", "1.0.0"), 1},
        {"7.2.16", "3.0.0", "1.0.0", Xapi("7.2.16", "3.0.0", "1.0.0"), 0},  // all equal
        {"7.2.16", "3.0.0", "7.2", Xapi("7.2.16", "3.0.0", "7.1.5"), 1},  // one dot only: 7.0.0
        {"9.0.0", "3.0.0", "1.0.0", Xapi("", "3.0.0", "1.0.0"), 0},  // no value from the service
        {"9.0.0", "3.0.0", "1.0.0", Xapi("9.0.0", "3.1.0", "1.2.3.4"), 1},
        // Negative or overflowing parts are no version: never newer, however they would wrap.
        {"1.0.0", "3.0.0", "1.0.0", Xapi("-1.-1.-1", "3.0.0", "1.0.0"), 0},
        {"9.0.0", "3.0.0", "1.0.0", Xapi("9.0.0", "3.0.1", "1.0.0"), 1},
        {tooLong, "3.0.0", "1.0.0", Xapi("9.0.0", "3.0.0", "1.0.0"), 0},
        {"1.0.0", "3.0.0", "1.0.0", Xapi("1.0.0", "3.0.0", "1.0.1"), 1},
        {"1.0.0", "3.0.0", "1.0.0", Xapi("99999999999.1.1", "3.0.0", "1.0.0"), 0},
        {"9.0.0", "3.0.0", "1.0.0", Xapi("9.0.0", "3.0.1", "1.0.0"), 1},
        {"1.0.0", "1.0.0", "1.0.0", HttpAnswer{200, "OK", {}, "<r><error><hresult>80070005</hresult></error></r>"}, 1},  // failed:
        {"1.0.0", "1.0.0", "1.0.0", HttpAnswer{200, "OK", {}, "busy"}, 1},  // the 1 stays
        {"9.0.0", "3.0.0", "1.0.0", HttpAnswer{200, "OK", {}, "<r><ok/><exe>10.0.0</exe></r>"}, 0},  // no xapi
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer.body);
        service.SetDefault(row.answer);
        EXPECT_GE(Check(row.exe.c_str(), row.webctl.c_str(), row.tarnix.c_str()), 1);
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

// Without a company or a product name the flag would land under another key: the start fails as
// any other does, with its message box over the window, and nothing runs, is sent or written.
TEST_F(SilentCheckTest, ACheckWithoutBothKeyNamesFailsToStart) {
    const std::string landings[] = {"software\\VFTUpdates", "software\\TarnixUnitTestProduct\\VFTUpdates",
                                    kCompanyKey + "\\VFTUpdates"};
    service.SetDefault(Xapi("9.0.0", "9.0.0", "9.0.0"));
    const struct {
        const char *company, *product;
    } cases[] = {{nullptr, "TarnixUnitTestProduct"}, {"", "TarnixUnitTestProduct"}, {kCompany, nullptr}, {kCompany, ""}, {"", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.company ? c.company : "(null)") + ", " + (c.product ? c.product : "(null)"));
        UINT timer = 1;
        test::DriveDialogs([&](const test::DialogScript& script) {
            script.AnswerMessageBox("Version Check", window.get(), "An error has occured. The error code is 80070057",
                                    MB_ICONERROR, IDOK);
        }, [&] { timer = TarnixUpdateVelmoraFamilyTreeSilentCheck(window.get(), c.company, c.product, "1.0.0", "1.0.0", "1.0.0", ""); });
        EXPECT_EQ(0u, timer);
        EXPECT_FALSE(SilentCheckRunning(window.get()));
        EXPECT_EQ(0, window.RunLoop([] { return false; }, 100)) << "a timer runs";
        for (const std::string& key : landings) {
            HKEY opened = nullptr;
            EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened)) << key;
            if (opened) RegCloseKey(opened), RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
        }
    }
    EXPECT_EQ(0u, service.RequestCount());
    RegDeleteTreeA(HKEY_CURRENT_USER, "software\\TarnixUnitTestProduct");
}

}  // namespace
}  // namespace tarnix
