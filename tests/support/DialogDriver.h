// Driving the library's modal dialogs as a user would. The export under test runs on the test's own
// thread, inside its modal loop; a script on a second thread (or in another process) finds the dialog
// and its message boxes, reads their controls, types, ticks, picks list items and presses buttons and
// keys. Every failure (a missing control, one that a user could not use, a wait in vain) throws.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tarnix::test {

inline std::string TextOf(HWND window) {
    char text[4096] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// The visible windows of a class: the children of `parent`, or the top-level windows of `thread` (0: of
// every thread).
inline std::vector<HWND> VisibleWindows(const char* kind, HWND parent, DWORD thread = 0) {
    std::vector<HWND> found;
    for (HWND w = GetWindow(parent ? parent : GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        char name[32] = {};
        GetClassNameA(w, name, sizeof name);
        if (IsWindowVisible(w) && !_stricmp(name, kind) && (parent || !thread || GetWindowThreadProcessId(w, nullptr) == thread))
            found.push_back(w);
    }
    return found;
}

// A dialog or message box of `thread` (0: of any thread), or none: what finds them. A wait ends as soon
// as what it waits for cannot come any more (`callDone`, when given, is set: the call under test
// returned; the dialog is gone; a message box stands over it), else after `patienceMs`.
class Dialog {
public:
    Dialog(HWND window, DWORD thread, HANDLE callDone = nullptr, DWORD patienceMs = 10000)
        : m_window(window), m_thread(thread), m_callDone(callDone), m_patienceMs(patienceMs) {}
    HWND Handle() const { return m_window; }
    // A control, once the dialog's thread has handled what was sent to it before.
    HWND Item(int id) const {
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(m_window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored)) throw std::runtime_error("the dialog hangs");
        if (HWND item = GetDlgItem(m_window, id)) return item;
        throw std::runtime_error("no control " + std::to_string(id) + " in \"" + Title() + "\"");
    }
    std::string Title() const { return TextOf(m_window); }
    std::string Text(int id) const { return TextOf(Item(id)); }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    bool Ticked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Gone() const { return !IsWindow(m_window) || !IsWindowVisible(m_window); }
    int DefaultButton() const {  // by its style; 0 for none
        for (HWND button : VisibleWindows("Button", m_window))
            if ((GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return GetDlgCtrlID(button);
        return 0;
    }

    // Only enabled controls, clicks only on visible ones. A click returns at once (it may open a message
    // box); a key goes to the focused control once what was posted before is handled.
    void Type(int id, const std::string& text) const { SendMessageA(Focus(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); }
    void Click(int id) const {
        if (!Visible(id) || !Enabled(id)) throw std::runtime_error("clicked control " + std::to_string(id) + ", hidden or disabled");
        SendNotifyMessageA(Item(id), BM_CLICK, 0, 0);
    }
    void PressKey(WORD key) const {
        GUITHREADINFO thread{sizeof(GUITHREADINFO)};
        GetGUIThreadInfo(GetWindowThreadProcessId(m_window, nullptr), &thread);
        PostMessageA(thread.hwndFocus && IsChild(m_window, thread.hwndFocus) ? thread.hwndFocus : m_window, WM_KEYDOWN, key, 1);
    }
    // Through the wide message: Wine hands another process a list box's text whole only so.
    std::vector<std::string> ListBoxItems(int id) const {
        std::vector<std::string> items;
        for (LRESULT i = 0, count = SendMessageW(Item(id), LB_GETCOUNT, 0, 0); i < count; ++i) {
            wchar_t text[256] = {};
            char narrow[512] = {};
            SendMessageW(Item(id), LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            items.push_back(WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr) ? narrow : "");
        }
        return items;
    }
    void ChooseListBoxItem(int id, int position) const {
        SendMessageA(Focus(id), LB_SETCURSEL, position, 0);
        SendMessageA(m_window, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
    }
    // The column titles, then each row: column texts joined by '|'.
    std::vector<std::string> ListViewRows(int id) const {
        std::vector<std::string> rows;
        const HWND list = Item(id);
        for (int item = -1; item < ListView_GetItemCount(list); ++item) {  // -1: the column titles
            std::string row;
            for (int column = 0; column < Header_GetItemCount(ListView_GetHeader(list)); ++column) {
                char text[256] = {};
                LVCOLUMNA title{LVCF_TEXT, 0, 0, text, sizeof text};
                if (item < 0) ListView_GetColumn(list, column, &title);
                else ListView_GetItemText(list, item, column, text, sizeof text);
                row += (column ? "|" : "") + std::string(text);
            }
            rows.push_back(row);
        }
        return rows;
    }
    void SelectListViewItem(int id, int item, bool doubleClick = false) const {
        const HWND list = Focus(id);
        ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        RECT label{};
        if (doubleClick && ListView_GetItemRect(list, item, &label, LVIR_LABEL))
            SendNotifyMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM((label.left + label.right) / 2, (label.top + label.bottom) / 2));
    }

    void WaitUntil(const std::function<bool()>& condition, const std::string& what) const {
        for (const ULONGLONG start = GetTickCount64(); !condition(); Sleep(20)) {
            if (m_callDone && WaitForSingleObject(m_callDone, 0) == WAIT_OBJECT_0) throw std::runtime_error("the call returned before " + what);
            if (m_window && Gone()) throw std::runtime_error("the dialog went before " + what);
            for (HWND box : VisibleWindows("#32770", nullptr, m_thread))
                if (m_window && GetWindow(box, GW_OWNER) == m_window) throw std::runtime_error("\"" + TextOf(box) + "\" came before " + what);
            if (GetTickCount64() - start > m_patienceMs) throw std::runtime_error("waited in vain for " + what);
        }
    }
    void WaitGone() const { WaitUntil([&] { return Gone(); }, "\"" + Title() + "\" closed"); }
    Dialog WaitForWindow(const std::string& title) const {  // a dialog or message box of the same thread
        HWND found = nullptr;
        Dialog(nullptr, m_thread, m_callDone, m_patienceMs).WaitUntil([&] {
            for (HWND window : VisibleWindows("#32770", nullptr, m_thread)) found = TextOf(window) == title ? window : found;
            return found != nullptr;
        }, "a window titled \"" + title + "\"");
        return Dialog(found, m_thread, m_callDone, m_patienceMs);
    }
    // Checks the message box titled `caption`: text, icon, buttons, default, owner (this dialog unless
    // given); presses `press`.
    void AnswerMessageBox(const std::string& caption, const std::string& text, UINT icon, int press, const std::vector<int>& buttons = {IDOK},
                          int defaultButton = IDOK, HWND owner = nullptr) const {
        const Dialog box = WaitForWindow(caption);
        owner = owner ? owner : m_window;
        std::string shownText;
        UINT shownIcon = 0;
        for (HWND label : VisibleWindows("Static", box.Handle())) {
            if (shownText.empty()) shownText = TextOf(label);
            const LRESULT image = SendMessageA(label, STM_GETICON, 0, 0);
            for (UINT kind = 1; kind <= 4; ++kind)  // IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK
                if (image && image == reinterpret_cast<LRESULT>(LoadIconA(nullptr, MAKEINTRESOURCEA(32512 + kind)))) shownIcon = kind << 4;
        }
        std::vector<int> shownButtons;
        for (HWND button : VisibleWindows("Button", box.Handle())) shownButtons.push_back(GetDlgCtrlID(button));
        std::sort(shownButtons.begin(), shownButtons.end());
        const std::string shown = Describe(GetWindow(box.Handle(), GW_OWNER), shownText, shownIcon, shownButtons, box.DefaultButton());
        if (shown != Describe(owner, text, icon, buttons, defaultButton))
            throw std::runtime_error("the box \"" + caption + "\" is\n  " + shown + "\nnot\n  " + Describe(owner, text, icon, buttons, defaultButton));
        box.Click(press);
        box.WaitGone();
    }

private:
    static std::string Describe(HWND owner, const std::string& text, UINT icon, const std::vector<int>& buttons, int defaultButton) {
        std::string line = "owner " + std::to_string(reinterpret_cast<UINT_PTR>(owner)) + ", icon " + std::to_string(icon) + ", buttons";
        for (int id : buttons) line += " " + std::to_string(id);
        return line + ", default " + std::to_string(defaultButton) + ": \"" + text + "\"";
    }
    HWND Focus(int id) const {
        if (!Enabled(id)) throw std::runtime_error("used the disabled control " + std::to_string(id));
        SendMessageA(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
        return Item(id);
    }
    HWND m_window;
    DWORD m_thread;
    HANDLE m_callDone;
    DWORD m_patienceMs;
};

// Runs `call` on this thread while `user` plays the window titled `title` (owned by `owner`) from a
// second thread, from its opening until it is gone; no user: nobody watches. What the user throws is a
// test failure; so is a call that has not returned 2 s after the user is done, whose windows are then
// cancelled so that the test goes on. Returns what `call` returned.
using User = std::function<void(const Dialog&)>;
inline BOOL DriveDialog(const std::string& title, HWND owner, const User& user, const std::function<BOOL()>& call) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD thread = GetCurrentThreadId();
    std::thread driver([&] {
        try {
            const Dialog dialog = user ? Dialog(nullptr, thread, done).WaitForWindow(title) : Dialog(nullptr, thread);
            if (user && GetWindow(dialog.Handle(), GW_OWNER) != owner) throw std::runtime_error("\"" + title + "\" has another owner");
            if (user) user(dialog), dialog.WaitGone();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "dialog script: " << e.what();
        }
        if (WaitForSingleObject(done, 2000) == WAIT_OBJECT_0) return;
        std::string left;
        for (HWND window : VisibleWindows("#32770", nullptr, thread)) left += " \"" + TextOf(window) + "\"";
        ADD_FAILURE() << "the call had not returned 2 s after the script; still open:" << left;
        while (WaitForSingleObject(done, 100) == WAIT_TIMEOUT)
            for (HWND window : VisibleWindows("#32770", nullptr, thread)) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    });
    const BOOL result = call();
    SetEvent(done);
    driver.join();
    CloseHandle(done);
    return result;
}

}  // namespace tarnix::test
