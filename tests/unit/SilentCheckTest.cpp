// The silent update check driven by a real window and message loop, with the timer's period
// shortened: the flag each answer writes, checks that fail or never finish, and the version
// comparison behind the flag.
#include "operations/SilentCheck.h"

#include <gtest/gtest.h>

#include <string>

#include "HostWindow.h"
#include "ProxySetting.h"
#include "TestService.h"
#include "operations/VersionText.h"

namespace tarnix {
namespace {

using test::HostWindow;
using test::HttpAnswer;
using test::ReadUpdateFlag;

constexpr char kCompany[] = "TarnixUnitTestCo";
constexpr char kProduct[] = "Velmora";
constexpr DWORD kMissing = 0xDEADBEEF;

HttpAnswer Xml(const std::string& body) { return HttpAnswer{200, "OK", {{"Content-Type", "text/xml"}}, body}; }
std::string Xapi(const char* exe, const char* webctl, const char* tarnix) {
    return "<r><ok/><xapi><exe>" + std::string(exe) + "</exe><webctl>" + webctl + "</webctl><tarnix>" + tarnix +
           "</tarnix></xapi></r>";
}

class SilentCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        SilentCheckPeriodMs() = 20;
        test::DeleteCompanyKey(kCompany);
        ASSERT_NE(nullptr, window.get());
    }
    void TearDown() override {
        TARNIXTerminate();
        SilentCheckPeriodMs() = 5000;
        test::DeleteCompanyKey(kCompany);
    }

    // Starts a check as a host does and runs the loop until the library keeps no timer on the
    // window; the ticks it took. The host reuses its user data at once: the check must not care.
    int Check(const char* exe, const char* webctl, const char* tarnix) {
        EXPECT_EQ(kSilentCheckTimerId,
                  TarnixUpdateVelmoraFamilyTreeSilentCheck(window.get(), kCompany, kProduct, exe, webctl, tarnix, "cb"));
        auto* record = reinterpret_cast<const SilentCheckRecord*>(GetWindowLongPtrA(window.get(), GWLP_USERDATA));
        EXPECT_TRUE(record && record->companyKey == kCompany && record->exeVersion == exe);
        SetWindowLongPtrA(window.get(), GWLP_USERDATA, 0x5eed);
        return window.RunLoop([&] { return !SilentCheckRunning(window.get()); }, 20000);
    }

    test::TestService service;
    test::ProxySetting proxy{service.Port()};
    HostWindow window;
};

// One check after another in the same process, each flag different from the one it replaces.
TEST_F(SilentCheckTest, EachAnswerWritesWhetherAComponentIsNewer) {
    struct Row {
        const char *exe, *webctl, *tarnix;
        std::string answer;
        DWORD flag;
    } rows[] = {
        {"7.2.15", "3.0.0", "1.0.0", Xapi("7.2.16", "3.0.0", "1.0.0"), 1},
        {"7.2.16", "3.0.0", "1.0.0", Xapi("7.2.16", "3.0.0", "1.0.0"), 0},  // all equal
        {"7.2.16", "7.9.9", "1.0.0", Xapi("7.2.16", "7.10.0", "1.0.0"), 1},  // numbers, not text
        {"7.2.16", "3.0.0", "7.10.0", Xapi("7.2.16", "3.0.0", "7.9.9"), 0},
        {"7.2.16", "3.0.0", "1.0.0", Xapi("7.2.16", "3.0.0", "1.0.1"), 1},
        {"9.0.0", "3.0.0", "1.0.0", "<r><ok/><xapi><webctl>3.0.0</webctl><tarnix>1</tarnix></xapi></r>", 0},
        {"9.0.0", "3.0.0", "1.0.0", Xapi("9.0.0", "3.1.0", "1.0.0"), 1},
        {"9.0.0", "3.0.0", "1.0.0", "<r><ok/><exe>10.0.0</exe></r>", 0},  // no xapi: no row
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        service.SetDefault(Xml(row.answer));
        EXPECT_GE(Check(row.exe, row.webctl, row.tarnix), 1);
        EXPECT_EQ(row.flag, ReadUpdateFlag(kCompany, kProduct));
    }
}

TEST_F(SilentCheckTest, AFailedCheckWritesNothing) {
    service.SetDefault(Xml(Xapi("2.0.0", "1.0.0", "1.0.0")));
    Check("1.0.0", "1.0.0", "1.0.0");
    ASSERT_EQ(1u, ReadUpdateFlag(kCompany, kProduct));
    for (const HttpAnswer& failure : {Xml("<r><error><hresult>80070005</hresult></error></r>"), Xml("busy"),
                                      HttpAnswer{500, "Internal Server Error", {}, Xapi("1.0.0", "1.0.0", "1.0.0")}}) {
        service.SetDefault(failure);
        EXPECT_GE(Check("1.0.0", "1.0.0", "1.0.0"), 1);
        EXPECT_EQ(1u, ReadUpdateFlag(kCompany, kProduct)) << failure.body;
    }
}

// Each check has a limit of its own: the second gives up at its twelfth tick too, and one after
// them still completes.
TEST_F(SilentCheckTest, ACheckThatNeverFinishesGivesUpAtItsTwelfthTick) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer silent = Xml(Xapi("2.0.0", "1.0.0", "1.0.0"));
    silent.hold = never;
    silent.holdBeforeHead = true;
    service.On("exe=silent", silent);
    service.SetDefault(Xml(Xapi("1.0.0", "1.0.0", "1.0.0")));
    EXPECT_EQ(12, Check("silent", "1", "1"));
    EXPECT_EQ(12, Check("silent", "1", "1"));
    EXPECT_EQ(0, window.RunLoopFor(200)) << "the timer still runs";
    EXPECT_EQ(kMissing, ReadUpdateFlag(kCompany, kProduct));
    Check("1.0.0", "1.0.0", "1.0.0");
    EXPECT_EQ(0u, ReadUpdateFlag(kCompany, kProduct));
    SetEvent(never);
    CloseHandle(never);
}

TEST(VersionTextTest, TheServiceIsNewerOnlyWithAGreaterTriple) {
    const std::string longest = "1.0.0" + std::string(58, ' ');  // 63 characters: still compared
    struct Case {
        std::string local, service;
        bool newer;
    } cases[] = {
        {"7.2.15", "7.2.16", true},  {"7.2.16", "7.2.15", false}, {"7.9.9", "7.10.0", true},
        {"7.10.0", "7.9.9", false},  {"7.2.15", "7.2.15", false}, {"7.2", "7.1.5", true},  // 7.2 reads 7.0.0
        {"7", "8", false},           {"1.2.3", "1.2.3.4", false}, {"1.2.3", "", false},
        {"1.0.0", "1.0.-1", true},  // parts are unsigned: -1 is the greatest
        {longest, "2.0.0", true},    {longest + " ", "2.0.0", false}, {"1.0.0", "2.0.0" + longest, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.newer, IsNewerVersion(c.local, c.service)) << "'" << c.local << "' against '" << c.service << "'";
}

}  // namespace
}  // namespace tarnix
