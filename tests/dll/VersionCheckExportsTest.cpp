// The version check and the silent update check through tarnix.dll: the path and the rows, and
// the silent check as a host runs it (its window, its message loop, the library's own timer
// period), with the message box of a check that cannot start.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "HostWindow.h"
#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using tarnix::test::HostWindow;
using tarnix::test::HttpAnswer;
using tarnix::test::ProxySetting;
using tarnix::test::ReadUpdateFlag;
using tarnix::test::TestService;
using tarnix::test::WaitForRequest;

constexpr char kCompany[] = "TarnixDllTestCo";

HttpAnswer Xml(const std::string& body) { return HttpAnswer{200, "OK", {{"Content-Type", "text/xml"}}, body}; }

std::string Value(IQueryRequest* request, const char* name) {
    char buffer[64] = "<none>";
    request->GetValue(0, name, buffer, sizeof buffer);
    return buffer;
}

class VersionCheckExportsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, TARNIXInitialize(0)); }
    void TearDown() override {
        TARNIXTerminate();
        tarnix::test::DeleteCompanyKey(kCompany);
    }

    TestService service;
    ProxySetting proxy{service.Port()};
};

TEST_F(VersionCheckExportsTest, TheTextsGoUnchangedAndTheRowComesFromTheFirstXapi) {
    service.On("op=versioncompare", Xml("<r><ok/><a><xapi><exe>7.2.16</exe><webctl>3.1.0</webctl></xapi></a>"
                                        "<xapi><exe>9.9.9</exe><tarnix>9.9.9</tarnix></xapi></r>"));
    IQueryRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixCheckVelmoraFamilyTreeVersion("7.2.15", "3.1+b%41", "1.0.0", "co&x=1", &request));
    ASSERT_EQ(S_OK, WaitForRequest(request));
    ASSERT_EQ(1u, service.RequestCount());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=versioncompare&exe=7.2.15&webctl=3.1+b%41&tarnix=1.0.0&cobrand=co&x=1",
              service.Requests()[0].Path());
    EXPECT_EQ(1u, request->GetRowCount());
    EXPECT_EQ("7.2.16", Value(request, "EXE"));
    EXPECT_EQ("3.1.0", Value(request, "webctl"));
    EXPECT_EQ("", Value(request, "TARNIX")) << "a component the first xapi lacks is empty";
    request->Release();
}

TEST_F(VersionCheckExportsTest, AnAnswerWithoutXapiFinishesWithNoRowAndAnErrorFails) {
    service.On("exe=none", Xml("<r><ok/><exe>1.0.0</exe></r>"));
    service.On("exe=refused", Xml("<r><error><hresult>80070005</hresult></error></r>"));
    IQueryRequest* none = nullptr;
    ASSERT_EQ(S_OK, TarnixCheckVelmoraFamilyTreeVersion("none", nullptr, nullptr, nullptr, &none));
    EXPECT_EQ(S_OK, WaitForRequest(none));
    EXPECT_EQ(0u, none->GetRowCount());
    none->Release();
    IQueryRequest* refused = nullptr;
    ASSERT_EQ(S_OK, TarnixCheckVelmoraFamilyTreeVersion("refused", "", "", "", &refused));
    EXPECT_EQ(static_cast<HRESULT>(0x80070005), WaitForRequest(refused));
    refused->Release();
    EXPECT_EQ(E_POINTER, TarnixCheckVelmoraFamilyTreeVersion("1", "1", "1", "", nullptr));
}

// At the library's own 5-second period: the first tick finds the answer in and writes the flag,
// whatever the host did with its user data meanwhile, and no timer is left on the window.
TEST_F(VersionCheckExportsTest, ASilentCheckWritesTheFlagFromTheHostsMessageLoop) {
    service.On("op=versioncompare", Xml("<r><ok/><xapi><exe>7.2.16</exe><webctl>3.0.0</webctl>"
                                        "<tarnix>1.0.0</tarnix></xapi></r>"));
    HostWindow window;
    ASSERT_EQ(305u, TarnixUpdateVelmoraFamilyTreeSilentCheck(window.get(), kCompany, "Product", "7.2.15", "3.0.0",
                                                             "1.0.0", "cb"));
    EXPECT_NE(0, GetWindowLongPtrA(window.get(), GWLP_USERDATA)) << "the record's address";
    SetWindowLongPtrA(window.get(), GWLP_USERDATA, 0x5eed);
    int ticks = window.RunLoop([] { return ReadUpdateFlag(kCompany, "Product") != 0xDEADBEEF; }, 20000);
    EXPECT_EQ(1u, ReadUpdateFlag(kCompany, "Product"));
    EXPECT_EQ(1, ticks);
    EXPECT_FALSE(KillTimer(window.get(), 305)) << "the check left its timer running";
}

TEST(SilentCheckExport, ANullWindowStartsNothingAndAFailedStartIsShownToTheUser) {
    EXPECT_EQ(0u, TarnixUpdateVelmoraFamilyTreeSilentCheck(nullptr, kCompany, "P", "1", "1", "1", ""));

    // Not initialized: the check cannot start. The box is read and closed from another thread.
    HostWindow window;
    std::string text, owner;
    std::thread user([&] {
        for (int i = 0; i < 400; ++i, Sleep(25)) {
            HWND box = FindWindowA("#32770", "Version Check");
            if (!box) continue;
            char buffer[128] = {};
            GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);  // a message box's text control
            text = buffer;
            owner = GetWindow(box, GW_OWNER) == window.get() ? "host window" : "other";
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return;
        }
    });
    EXPECT_EQ(0u, TarnixUpdateVelmoraFamilyTreeSilentCheck(window.get(), kCompany, "P", "1", "1", "1", ""));
    user.join();
    EXPECT_EQ("An error has occured. The error code is 80004005", text);
    EXPECT_EQ("host window", owner);
    EXPECT_FALSE(KillTimer(window.get(), 305)) << "a timer was set for a check that did not start";
}

}  // namespace
