// The connectivity exports on stand-in machines: the Connectivity() table is swapped for a fake that
// reports a chosen state and records the dial. The message box is real: the user reads it and
// presses a button.
#include "frame/Connectivity.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include "DialogDriver.h"
#include "tarnix.h"

namespace tarnix {
namespace {

struct {
    BOOL connected, dialResult;
    DWORD flags, reserved, dialFlags;
    int dials;
    HWND dialParent;
} g_machine;

BOOL WINAPI FakeGetConnectedState(LPDWORD flags, DWORD reserved) {
    g_machine.reserved = reserved;
    *flags = g_machine.flags;
    return g_machine.connected;
}

BOOL WINAPI FakeAutodial(DWORD flags, HWND parent) {
    ++g_machine.dials;
    g_machine.dialFlags = flags;
    g_machine.dialParent = parent;
    return g_machine.dialResult;
}

TEST(ConnectivityTest, ReportsTheMachineDialsAModemOrTellsTheUser) {
    const ConnectivityApi saved = Connectivity();
    Connectivity() = {&FakeGetConnectedState, &FakeAutodial};
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    const char kMessage[] = "Please check that your connection to the Internet is functioning correctly and retry using the Internet "
                            "features.\r\n\r\nNote for AOL, CompuServe, and Prodigy users: Please establish a connection to the "
                            "Internet before using the Internet features.";
    constexpr DWORD kModem = INTERNET_CONNECTION_MODEM, kLan = INTERNET_CONNECTION_LAN;
    // press: the button to press in the box, 0 if no box may show (one left open is reported)
    const struct { const char* name; BOOL connected; DWORD flags; BOOL dialResult, result, canConnect; int dials, press; } cases[] = {
        {"online by LAN", TRUE, kLan, TRUE, 1, 0, 0, 0},
        {"online by modem", TRUE, kModem, FALSE, 1, 1, 0, 0},
        {"modem dialled", FALSE, kModem | INTERNET_RAS_INSTALLED, TRUE, 1, 1, 1, 0},
        {"modem dial failed or cancelled", FALSE, kModem, FALSE, 0, 1, 1, 0},
        {"offline, OK pressed", FALSE, 0, TRUE, 0, 0, 0, IDOK},
        {"offline LAN, Cancel pressed", FALSE, kLan | INTERNET_CONNECTION_OFFLINE, TRUE, 0, 0, 0, IDCANCEL},
        {"offline LAN with dial-up merely installed", FALSE, kLan | INTERNET_RAS_INSTALLED, TRUE, 0, 0, 0, IDOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_machine = {c.connected, c.dialResult, c.flags, 0xdeadbeef, 0xdeadbeef, 0, owner};
        EXPECT_EQ(c.connected, TarnixGetConnectedState());
        EXPECT_EQ(c.canConnect, TarnixCanConnect());
        auto answer = [&](auto& box) { box.AnswerMessageBox(c.name, kMessage, MB_ICONEXCLAMATION, c.press, {IDOK, IDCANCEL}, IDOK, owner); };
        EXPECT_EQ(c.result, test::DriveDialog(c.name, owner, c.press ? test::User(answer) : nullptr, [&] { return TarnixConnect(owner, c.name); }));
        EXPECT_EQ(0u, g_machine.reserved);
        EXPECT_EQ(c.dials, g_machine.dials);
        if (c.dials) EXPECT_TRUE(g_machine.dialFlags == INTERNET_AUTODIAL_FORCE_ONLINE && !g_machine.dialParent) << "dialled wrongly";
    }
    DestroyWindow(owner);
    Connectivity() = saved;
}

}  // namespace
}  // namespace tarnix
