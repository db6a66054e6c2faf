// What the silent update check needs from a host: a window of this thread with its message loop.
#pragma once

#include <windows.h>

namespace tarnix::test {

class HostWindow {
    const HWND m_window = CreateWindowExA(0, "STATIC", "host", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);

public:
    ~HostWindow() { DestroyWindow(m_window); }
    HWND get() const { return m_window; }
    // Runs the message loop until `done()`, `ms` or a tick past a check's 12: the ticks of timer 305 it dispatched.
    template <class Done>
    int RunLoop(Done done, DWORD ms = 10000) {
        int ticks = 0;
        for (ULONGLONG start = GetTickCount64(); !done() && ticks <= 12 && GetTickCount64() - start < ms;
             MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT))
            for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); DispatchMessageA(&msg))
                ticks += msg.message == WM_TIMER && msg.hwnd == m_window && msg.wParam == 305;
        return ticks;
    }
};

}  // namespace tarnix::test
