// The version check and the start of the silent update check through tarnix.dll: the path and
// the row, and what a host sees of a silent check that cannot start.
#include <gtest/gtest.h>

#include <string>

#include "DialogDriver.h"
#include "HostWindow.h"
#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using tarnix::test::HttpAnswer;

std::string Value(IQueryRequest* request, const char* name) {
    char buffer[64] = "<none>";
    request->GetValue(0, name, buffer, sizeof buffer);
    return buffer;
}

TEST(VersionCheckExportsTest, TheTextsGoUnchangedAndTheRowComesFromTheFirstXapi) {
    tarnix::test::TestService service;
    tarnix::test::ProxySetting proxy(service.Port());
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    service.On("exe=7", HttpAnswer{200, "OK", {}, "<r><ok/><a><xapi><exe>7.2.16</exe><webctl>3.1.0</webctl></xapi></a>"
                                                  "<xapi><exe>9.9.9</exe><tarnix>9.9.9</tarnix></xapi></r>"});
    service.SetDefault(HttpAnswer{200, "OK", {}, "<r><ok/><exe>1.0.0</exe></r>"});
    IQueryRequest *request = nullptr, *none = nullptr;
    ASSERT_EQ(S_OK, TarnixCheckVelmoraFamilyTreeVersion("7.2.15", "3.1+b%41", "1.0.0", "co&x=1", &request));
    ASSERT_EQ(S_OK, tarnix::test::WaitForRequest(request));
    EXPECT_EQ("/vft/gatekeeper.ashx?op=versioncompare&exe=7.2.15&webctl=3.1+b%41&tarnix=1.0.0&cobrand=co&x=1",
              service.Requests().at(0).Path());
    EXPECT_EQ(1u, request->GetRowCount());
    EXPECT_EQ("7.2.16 3.1.0 ", Value(request, "EXE") + " " + Value(request, "webctl") + " " + Value(request, "TARNIX"));
    request->Release();

    ASSERT_EQ(S_OK, TarnixCheckVelmoraFamilyTreeVersion(nullptr, nullptr, nullptr, nullptr, &none));
    EXPECT_EQ(S_OK, tarnix::test::WaitForRequest(none));
    EXPECT_EQ(0u, none->GetRowCount()) << "no xapi, no row";
    none->Release();
    EXPECT_EQ(E_POINTER, TarnixCheckVelmoraFamilyTreeVersion("1", "1", "1", "", nullptr));
    TARNIXTerminate();
}

TEST(SilentCheckExport, ANullWindowStartsNothingAndAFailedStartIsShownToTheUser) {
    EXPECT_EQ(0u, TarnixUpdateVelmoraFamilyTreeSilentCheck(nullptr, "TarnixDllTestCo", "P", "1", "1", "1", ""));

    // Not initialized: the check cannot start. The user reads the box and closes it.
    tarnix::test::HostWindow window;
    UINT timer = 1;
    tarnix::test::DriveDialogs(
        [&](const tarnix::test::DialogScript& script) {
            script.AnswerMessageBox("Version Check", window.get(), "An error has occured. The error code is 80004005",
                                    MB_ICONERROR, IDOK);
        },
        [&] { timer = TarnixUpdateVelmoraFamilyTreeSilentCheck(window.get(), "TarnixDllTestCo", "P", "1", "1", "1", ""); });
    EXPECT_EQ(0u, timer);
    EXPECT_FALSE(KillTimer(window.get(), 305)) << "a timer was set for a check that did not start";
}

}  // namespace
