// A host's window with its message loop, and the update flag it reads back: what the silent
// update check needs from a host.
#pragma once

#include <windows.h>

#include <string>

namespace tarnix::test {

class HostWindow {
public:
    HostWindow() : m_window(CreateWindowExA(0, "STATIC", "host", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)) {}
    ~HostWindow() { DestroyWindow(m_window); }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND get() const { return m_window; }

    // Runs this thread's message loop until `done()` holds (asked between messages) or
    // `timeoutMs` has passed; returns how many ticks of timer 305 on the window it dispatched.
    template <class Done>
    int RunLoop(Done done, DWORD timeoutMs) {
        int ticks = 0;
        const ULONGLONG start = GetTickCount64();
        while (!done() && GetTickCount64() - start < timeoutMs) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_TIMER && msg.hwnd == m_window && msg.wParam == 305) ++ticks;
                DispatchMessageA(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
        return ticks;
    }
    int RunLoopFor(DWORD ms) {
        return RunLoop([] { return false; }, ms);
    }

private:
    HWND m_window;
};

// HKEY_CURRENT_USER\software\<company>\<product>\VFTUpdates "UpdateAvailable", or 0xDEADBEEF
// when it is missing or not a DWORD.
inline DWORD ReadUpdateFlag(const std::string& company, const std::string& product) {
    DWORD value = 0xDEADBEEF, size = sizeof value;
    std::string key = "software\\" + company + "\\" + product + "\\VFTUpdates";
    if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "UpdateAvailable", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0xDEADBEEF;
    return value;
}

inline void DeleteCompanyKey(const std::string& company) {
    RegDeleteTreeA(HKEY_CURRENT_USER, ("software\\" + company).c_str());
}

}  // namespace tarnix::test
