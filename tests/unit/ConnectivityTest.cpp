// The connectivity exports on stand-in machines: the Connectivity() table is swapped for fakes
// that report a chosen state and record the dial. The message box is real, driven from a second
// thread.
#include "frame/Connectivity.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <set>
#include <string>

#include "JobProbe.h"
#include "tarnix.h"

namespace tarnix {
namespace {

struct FakeMachine {
    BOOL connected = FALSE;
    DWORD flags = 0;
    BOOL dialResult = FALSE;
    int queries = 0;
    DWORD reserved = 0xdeadbeef;
    int dials = 0;
    DWORD dialFlags = 0xdeadbeef;
    HWND dialParent = reinterpret_cast<HWND>(1);
} g_machine;

BOOL WINAPI FakeGetConnectedState(LPDWORD flags, DWORD reserved) {
    ++g_machine.queries;
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

// Counts and blocks the windows created on this thread, so that an unexpected message box fails
// the test instead of waiting for a click.
int g_windowsCreated;
LRESULT CALLBACK BlockWindows(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) return ++g_windowsCreated, 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class ConnectivityTest : public testing::Test {
protected:
    void SetUp() override {
        m_saved = Connectivity();
        Connectivity() = {&FakeGetConnectedState, &FakeAutodial};
    }
    void TearDown() override { Connectivity() = m_saved; }

    static void Machine(BOOL connected, DWORD flags, BOOL dialResult = FALSE) {
        g_machine = FakeMachine();
        g_machine.connected = connected;
        g_machine.flags = flags;
        g_machine.dialResult = dialResult;
    }
    // TarnixConnect with no window allowed; returns its result.
    static BOOL ConnectWithoutWindows(HWND owner) {
        g_windowsCreated = 0;
        HHOOK hook = SetWindowsHookExA(WH_CBT, &BlockWindows, nullptr, GetCurrentThreadId());
        EXPECT_NE(hook, nullptr);
        BOOL result = TarnixConnect(owner, "Tarnix test");
        UnhookWindowsHookEx(hook);
        EXPECT_EQ(g_windowsCreated, 0) << "a window was shown";
        return result;
    }

private:
    ConnectivityApi m_saved;
};

TEST_F(ConnectivityTest, StateAndModemFlagComeFromTheSystem) {
    const std::pair<BOOL, DWORD> machines[] = {
        {TRUE, INTERNET_CONNECTION_LAN},
        {FALSE, 0},
        {FALSE, INTERNET_CONNECTION_MODEM | INTERNET_RAS_INSTALLED},
        {TRUE, INTERNET_CONNECTION_MODEM},
        {FALSE, INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_OFFLINE},
    };
    for (const auto& [connected, flags] : machines) {
        SCOPED_TRACE(testing::Message() << "connected " << connected << ", flags 0x" << std::hex << flags);
        Machine(connected, flags);
        EXPECT_EQ(TarnixGetConnectedState() != 0, connected != 0);
        EXPECT_EQ(TarnixCanConnect(), (flags & INTERNET_CONNECTION_MODEM) ? 1 : 0);
        EXPECT_EQ(g_machine.queries, 2);
        EXPECT_EQ(g_machine.reserved, 0u);
        EXPECT_EQ(g_machine.dials, 0);
    }
}

TEST_F(ConnectivityTest, ConnectedMachineConnectsAtOnce) {
    for (DWORD flags : {INTERNET_CONNECTION_LAN, INTERNET_CONNECTION_MODEM}) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << flags);
        Machine(TRUE, flags);
        EXPECT_EQ(ConnectWithoutWindows(nullptr), 1);
        EXPECT_EQ(g_machine.dials, 0);
    }
}

TEST_F(ConnectivityTest, OfflineModemDialsWithoutAWindowAndReportsTheDial) {
    HWND owner =
        CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    for (BOOL dialResult : {TRUE, FALSE}) {
        SCOPED_TRACE(dialResult ? "dialled" : "dial failed or cancelled");
        Machine(FALSE, INTERNET_CONNECTION_MODEM, dialResult);
        EXPECT_EQ(ConnectWithoutWindows(owner), dialResult);
        EXPECT_EQ(g_machine.dials, 1);
        EXPECT_EQ(g_machine.dialFlags, static_cast<DWORD>(INTERNET_AUTODIAL_FORCE_ONLINE));
        EXPECT_EQ(g_machine.dialParent, nullptr);
    }
    DestroyWindow(owner);
}

// What the driver thread saw of the message box.
struct SeenBox {
    bool found = false;
    HWND owner = nullptr;
    bool ownerEnabled = true;
    std::string text;
    std::set<int> buttons;
    bool exclamation = false;
};

BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

// Waits for the box titled `caption`, reads it and presses `button`. If no such box shows, the
// windows of `boxThread` are cancelled so that the test ends.
void DriveMessageBox(const std::string& caption, int button, DWORD boxThread, SeenBox& seen) {
    HWND box;
    // A dialog is shown only once its controls are filled in.
    for (DWORD begin = GetTickCount(); !(box = FindWindowA("#32770", caption.c_str())) || !IsWindowVisible(box);) {
        if (GetTickCount() - begin > test::kGenerousWaitMs) return (void)EnumThreadWindows(boxThread, &CancelDialog, 0);
        Sleep(10);
    }
    seen.found = true;
    seen.owner = GetWindow(box, GW_OWNER);
    seen.ownerEnabled = seen.owner && IsWindowEnabled(seen.owner);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char kind[32] = {}, text[1024] = {};
        GetClassNameA(child, kind, sizeof kind);
        GetWindowTextA(child, text, sizeof text);
        if (!IsWindowVisible(child)) continue;
        if (_stricmp(kind, "Button") == 0) seen.buttons.insert(GetDlgCtrlID(child));
        if (_stricmp(kind, "Static") == 0 && *text) seen.text = text;
        if (_stricmp(kind, "Static") == 0 && SendMessageA(child, STM_GETICON, 0, 0) ==
                                                  reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_EXCLAMATION)))
            seen.exclamation = true;
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

TEST_F(ConnectivityTest, OfflineWithoutModemTellsTheUserAndReturnsZero) {
    const char kMessage[] =
        "Please check that your connection to the Internet is functioning correctly and retry using the Internet "
        "features.\r\n\r\nNote for AOL, CompuServe, and Prodigy users: Please establish a connection to the "
        "Internet before using the Internet features.";
    struct Case {
        const char* name;
        DWORD flags;
        bool withOwner;
        int button;
    } const cases[] = {
        {"OK pressed", 0, true, IDOK},
        {"Cancel pressed", INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_OFFLINE, true, IDCANCEL},
        {"no owner", INTERNET_RAS_INSTALLED, false, IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine(FALSE, c.flags, TRUE);
        const std::string caption = std::string("Tarnix connect: ") + c.name;
        HWND owner = c.withOwner ? CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                                   100, nullptr, nullptr, nullptr, nullptr)
                                 : nullptr;
        ASSERT_EQ(owner != nullptr, c.withOwner);

        SeenBox seen;
        DWORD self = GetCurrentThreadId();
        UniqueKernelHandle driver = test::RunOnThread([&] { DriveMessageBox(caption, c.button, self, seen); });
        ASSERT_TRUE(driver);
        EXPECT_EQ(TarnixConnect(owner, caption.c_str()), 0);
        ASSERT_EQ(WaitForSingleObject(driver.get(), test::kGenerousWaitMs), WAIT_OBJECT_0);
        if (owner) DestroyWindow(owner);

        ASSERT_TRUE(seen.found) << "no message box titled \"" << caption << "\"";
        EXPECT_EQ(seen.owner, owner);
        EXPECT_EQ(seen.ownerEnabled, false) << "the box is not modal to its owner";
        EXPECT_EQ(seen.text, kMessage);
        EXPECT_EQ(seen.buttons, (std::set<int>{IDOK, IDCANCEL}));
        EXPECT_TRUE(seen.exclamation);
        EXPECT_EQ(g_machine.dials, 0);
    }
}

}  // namespace
}  // namespace tarnix
