// The connectivity exports on stand-in machines: the Connectivity() table is swapped for fakes
// that report a chosen state and record the dial. The message box is real; a hook reads it once
// it has filled in its controls and presses a button.
#include "frame/Connectivity.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <set>
#include <string>

#include "tarnix.h"

namespace tarnix {
namespace {

struct FakeMachine {
    BOOL connected;
    DWORD flags;
    BOOL dialResult;
    DWORD reserved = 0xdeadbeef, dialFlags = 0xdeadbeef;
    int dials = 0;
    HWND dialParent = reinterpret_cast<HWND>(1);
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

struct SeenBox {
    int shown = 0;
    HWND owner = nullptr;
    std::string caption, text;
    std::set<int> buttons;
    bool exclamation = false;
} g_box;
int g_press;  // the button the hook presses

LRESULT CALLBACK ReadAndAnswerBox(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT& call = *reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call.message == WM_INITDIALOG) {
        char text[1024] = {}, kind[32] = {};
        ++g_box.shown;
        g_box.owner = GetWindow(call.hwnd, GW_OWNER);
        GetWindowTextA(call.hwnd, text, sizeof text);
        g_box.caption = text;
        for (HWND child = GetWindow(call.hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (!(GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE)) continue;
            GetClassNameA(child, kind, sizeof kind);
            GetWindowTextA(child, text, sizeof text);
            if (_stricmp(kind, "Button") == 0)
                g_box.buttons.insert(GetDlgCtrlID(child));
            else if (*text)
                g_box.text = text;
            else if (SendMessageA(child, STM_GETICON, 0, 0) == reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_EXCLAMATION)))
                g_box.exclamation = true;
        }
        PostMessageA(call.hwnd, WM_COMMAND, g_press, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(ConnectivityTest, ReportsTheMachineDialsAModemOrTellsTheUser) {
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, &ReadAndAnswerBox, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    const ConnectivityApi saved = Connectivity();
    Connectivity() = {&FakeGetConnectedState, &FakeAutodial};
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    const char kMessage[] =
        "Please check that your connection to the Internet is functioning correctly and retry using the Internet "
        "features.\r\n\r\nNote for AOL, CompuServe, and Prodigy users: Please establish a connection to the "
        "Internet before using the Internet features.";
    constexpr DWORD kModem = INTERNET_CONNECTION_MODEM, kLan = INTERNET_CONNECTION_LAN;
    // press: the button to press in the box, 0 if no box may show
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
        g_machine = {c.connected, c.flags, c.dialResult};
        g_box = {};
        g_press = c.press ? c.press : IDCANCEL;
        EXPECT_EQ(TarnixGetConnectedState(), c.connected);
        EXPECT_EQ(TarnixCanConnect(), c.canConnect);
        EXPECT_EQ(TarnixConnect(owner, c.name), c.result);
        EXPECT_EQ(g_machine.reserved, 0u);
        EXPECT_EQ(g_machine.dials, c.dials);
        if (c.dials) {
            EXPECT_EQ(g_machine.dialFlags, static_cast<DWORD>(INTERNET_AUTODIAL_FORCE_ONLINE));
            EXPECT_EQ(g_machine.dialParent, nullptr);
        }
        EXPECT_EQ(g_box.shown, c.press ? 1 : 0);
        if (c.press) {
            EXPECT_EQ(g_box.caption, c.name);
            EXPECT_EQ(g_box.owner, owner);
            EXPECT_EQ(g_box.text, kMessage);
            EXPECT_EQ(g_box.buttons, (std::set<int>{IDOK, IDCANCEL}));
            EXPECT_TRUE(g_box.exclamation);
        }
    }
    DestroyWindow(owner);
    UnhookWindowsHookEx(hook);
    Connectivity() = saved;
}

}  // namespace
}  // namespace tarnix
