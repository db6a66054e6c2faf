// A host's window outside the dialogs: the silent update check (its timer shortened) and the connectivity exports
// (the Connectivity() table swapped for a fake). The message boxes are real: the user answers them.
#include "frame/Connectivity.h"
#include "operations/SilentCheck.h"

#include <gtest/gtest.h>
#include <wininet.h>

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

// One check after another, each flag unlike the one before but where nothing is written: a check never answered
// (given up at its own twelfth tick; the next too, while the first's worker must let go), and a failed one. Each
// component is newer once. No timer outlives its check; the host may take its user data back. No window, company or
// product name, or a version text that could end the request line: no check, the box over the window, nothing sent.
TEST(SilentCheckTest, EachAnswerWritesWhetherAComponentIsNewerAndAFailedStartSaysWhy) {
    test::TestService service;
    test::ReachDirectly(service);
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    SilentCheckPeriodMs() = 20;
    RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey);
    test::HostWindow window;
    const HWND w = window.get();
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
        EXPECT_EQ(305u, TarnixUpdateVelmoraFamilyTreeSilentCheck(w, kCompany, "Velmora", row.exe, row.webctl, row.tarnix, ""));
        auto* record = reinterpret_cast<const SilentCheckRecord*>(GetWindowLongPtrA(w, GWLP_USERDATA));
        EXPECT_TRUE(record && record->companyKey == kCompany && record->exeVersion == row.exe);
        SetWindowLongPtrA(w, GWLP_USERDATA, 0x5eed);
        const int ticks = window.RunLoop([&] { return !SilentCheckRunning(w); });
        EXPECT_TRUE(row.ticks ? ticks == row.ticks : ticks >= 1) << ticks << " ticks";
        EXPECT_EQ(0, window.RunLoop([] { return false; }, 60)) << "the timer still runs";
        // A host reads a REG_DWORD: another type fails there (0xBAD here), not in Wine's RegGetValue.
        DWORD flag = 0xDEADBEEF, size = sizeof flag, type = REG_DWORD;
        const LSTATUS status = RegGetValueA(HKEY_CURRENT_USER, "software\\TarnixUnitTestCo\\Velmora\\VFTUpdates", "UpdateAvailable",
                                            RRF_RT_ANY, &type, &flag, &size);
        EXPECT_EQ(row.flag, status == ERROR_SUCCESS && (type != REG_DWORD || size != 4) ? 0xBADu : flag) << status << " " << type;
    }
    SetEvent(never);
    CloseHandle(never);
    const size_t sent = service.RequestCount();
    const struct { HWND window; const char *company, *product, *exe; } cases[] = {
        {nullptr, kCompany, "Velmora", "1.0.0"}, {w, nullptr, "Velmora", "1.0.0"}, {w, "", "Velmora", "1.0.0"},
        {w, kCompany, nullptr, "1.0.0"},         {w, kCompany, "", "1.0.0"},       {w, kCompany, "Velmora", "1.0\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const test::User says = [&](auto& box) {
            box.AnswerMessageBox("Version Check", "An error has occured. The error code is 80070057", MB_ICONERROR, IDOK, {IDOK}, IDOK, w);
        };
        EXPECT_EQ(0, test::DriveDialog("Version Check", c.window, c.window ? says : nullptr, [&] {
            return BOOL(TarnixUpdateVelmoraFamilyTreeSilentCheck(c.window, c.company, c.product, c.exe, "1.0.0", "1.0.0", ""));
        }));
        EXPECT_FALSE(KillTimer(w, 305)) << "a timer was set for a check that did not start";
    }
    EXPECT_EQ(sent, service.RequestCount());
    TARNIXTerminate();
    RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey);
}

using Dials = std::vector<std::pair<DWORD, HWND>>;  // the flags and parent of each dial
struct { BOOL connected, dialResult; DWORD flags; Dials dials; } g_machine;

BOOL WINAPI FakeGetConnectedState(LPDWORD flags, DWORD) {
    *flags = g_machine.flags;
    return g_machine.connected;
}

BOOL WINAPI FakeAutodial(DWORD flags, HWND parent) {
    g_machine.dials.emplace_back(flags, parent);
    return g_machine.dialResult;
}

TEST(ConnectivityTest, ReportsTheMachineDialsAModemOrTellsTheUser) {
    const ConnectivityApi saved = Connectivity();
    Connectivity() = {&FakeGetConnectedState, &FakeAutodial};
    const test::HostWindow host;
    const HWND owner = host.get();
    const char kMessage[] = "Please check that your connection to the Internet is functioning correctly and retry using the Internet "
                            "features.\r\n\r\nNote for AOL, CompuServe, and Prodigy users: Please establish a connection to the "
                            "Internet before using the Internet features.";
    constexpr DWORD kModem = INTERNET_CONNECTION_MODEM, kLan = INTERNET_CONNECTION_LAN;
    // press: the button to press in the box, 0 if no box may show (one left open is reported)
    const struct { const char* name; BOOL connected; DWORD flags; BOOL dialResult, result, canConnect, dials; int press; } cases[] = {
        {"online by LAN", TRUE, kLan, TRUE, 1, 0, 0, 0},
        {"online by modem", TRUE, kModem, FALSE, 1, 1, 0, 0},
        {"modem dialled", FALSE, kModem | INTERNET_RAS_INSTALLED, TRUE, 1, 1, 1, 0},
        {"modem dial failed or cancelled", FALSE, kModem, FALSE, 0, 1, 1, 0},
        {"offline LAN, Cancel pressed", FALSE, kLan | INTERNET_CONNECTION_OFFLINE, TRUE, 0, 0, 0, IDCANCEL},
        {"offline LAN with dial-up merely installed, OK pressed", FALSE, kLan | INTERNET_RAS_INSTALLED, TRUE, 0, 0, 0, IDOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_machine = {c.connected, c.dialResult, c.flags, {}};
        EXPECT_EQ(std::make_pair(c.connected, c.canConnect), std::make_pair(TarnixGetConnectedState(), TarnixCanConnect()));
        auto answer = [&](auto& box) { box.AnswerMessageBox(c.name, kMessage, MB_ICONEXCLAMATION, c.press, {IDOK, IDCANCEL}, IDOK, owner); };
        EXPECT_EQ(c.result, test::DriveDialog(c.name, owner, c.press ? test::User(answer) : nullptr, [&] { return TarnixConnect(owner, c.name); }));
        EXPECT_EQ((c.dials ? Dials{{INTERNET_AUTODIAL_FORCE_ONLINE, nullptr}} : Dials{}), g_machine.dials);
    }
    Connectivity() = saved;
}

}  // namespace
}  // namespace tarnix
