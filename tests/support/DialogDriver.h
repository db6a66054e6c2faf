// Driving the library's modal dialogs as a user would: the export runs in this thread's modal loop while a script on
// a second thread (or in another process) works the controls. What a user could not do, or waits for in vain, throws.
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

// The visible windows of a class: the children of `parent`, or the top-level ones of `thread` (0: any).
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

// A dialog or message box of `thread` (0: of any), or none: what finds them. A wait ends once what it waits for
// cannot come any more (`callDone` set, the dialog gone, a message box over it), else after `patienceMs`.
class Dialog {
public:
    Dialog(HWND window, DWORD thread, HANDLE callDone = nullptr, DWORD patienceMs = 10000)
        : m_window(window), m_thread(thread), m_callDone(callDone), m_patienceMs(patienceMs) {}
    HWND Handle() const { return m_window; }
    HWND Item(int id) const {  // once the dialog's thread has handled what was sent to it before
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

    // Only enabled controls, clicks only on visible ones, only items there are. A click returns at once (it may
    // open a message box); a key or a double-click comes once what was posted before is handled.
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
    // A list box's items (through the wide message: Wine hands another process the text whole only so),
    // or a list view's column titles and rows, columns joined by '|'.
    std::vector<std::string> Items(int id) const {
        const HWND list = Item(id);
        const bool view = VisibleWindows("SysHeader32", list).size() == 1;  // the list view's column titles
        std::vector<std::string> items;
        for (int item = view ? -1 : 0; item < (view ? ListView_GetItemCount(list) : SendMessageW(list, LB_GETCOUNT, 0, 0)); ++item) {
            std::string row;
            for (int column = 0; column < (view ? Header_GetItemCount(ListView_GetHeader(list)) : 1); ++column) {
                char text[512] = {};
                wchar_t wide[256] = {};
                LVCOLUMNA title{LVCF_TEXT, 0, 0, text, sizeof text};
                if (!view) SendMessageW(list, LB_GETTEXT, item, reinterpret_cast<LPARAM>(wide));
                if (!view) WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
                else if (item < 0) ListView_GetColumn(list, column, &title);
                else ListView_GetItemText(list, item, column, text, sizeof text);
                row += (column ? "|" : "") + std::string(text);
            }
            items.push_back(row);
        }
        return items;
    }
    void Choose(int id, int position) const {  // a list box's item
        if (SendMessageA(Focus(id), LB_SETCURSEL, position, 0) == LB_ERR) throw std::runtime_error("no item " + std::to_string(position));
        SendMessageA(m_window, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
    }
    void Select(int id, int item, bool doubleClick = false) const {  // a list view's item
        const HWND list = Focus(id);
        if (item >= ListView_GetItemCount(list)) throw std::runtime_error("no item " + std::to_string(item));
        ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        RECT label{};
        if (doubleClick && ListView_GetItemRect(list, item, &label, LVIR_LABEL))
            PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM((label.left + label.right) / 2, (label.top + label.bottom) / 2));
    }

    void WaitUntil(const std::function<bool()>& condition, const std::string& what) const {
        for (const ULONGLONG start = GetTickCount64(); !condition(); Sleep(20)) {
            // The call's end and the dialog's going may be the outcome itself, come since it was asked for.
            if (m_callDone && !WaitForSingleObject(m_callDone, 0) && !condition()) throw std::runtime_error("the call ended before " + what);
            if (m_window && Gone() && !condition()) throw std::runtime_error("the dialog went before " + what);
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
    // Checks the message box titled `caption` (text, icon, buttons, default, owner: this dialog unless given), then presses `press`.
    void AnswerMessageBox(const std::string& caption, const std::string& text, UINT icon, int press,
                          const std::vector<int>& buttons = {IDOK}, int defaultButton = IDOK, HWND owner = nullptr) const {
        const Dialog box = WaitForWindow(caption);
        DWORD process = 0;
        GetWindowThreadProcessId(box.Handle(), &process);
        std::string shownText;
        UINT shownIcon = process == GetCurrentProcessId() ? 0 : icon;  // another process's icons are handles of its own
        for (HWND label : VisibleWindows("Static", box.Handle())) {
            if (shownText.empty()) shownText = TextOf(label);
            const LRESULT image = process == GetCurrentProcessId() ? SendMessageA(label, STM_GETICON, 0, 0) : 0;
            for (UINT kind = 1; kind <= 4; ++kind)  // IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK
                if (image && image == reinterpret_cast<LRESULT>(LoadIconA(nullptr, MAKEINTRESOURCEA(32512 + kind)))) shownIcon = kind << 4;
        }
        std::vector<int> shownButtons;
        for (HWND button : VisibleWindows("Button", box.Handle())) shownButtons.push_back(GetDlgCtrlID(button));
        std::sort(shownButtons.begin(), shownButtons.end());
        const std::string shown = Describe(GetWindow(box.Handle(), GW_OWNER), shownText, shownIcon, shownButtons, box.DefaultButton());
        const std::string wanted = Describe(owner ? owner : m_window, text, icon, buttons, defaultButton);
        if (shown != wanted) throw std::runtime_error("the box \"" + caption + "\" is\n  " + shown + "\nnot\n  " + wanted);
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

// Runs `call` while `user` plays the window titled `title` (owned by `owner`) from a second thread until it is gone;
// no user: nobody watches. What the user throws fails the test, as does a call still running 2 s after, whose
// windows are then cancelled. Returns the call's.
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
        if (WaitForSingleObject(done, 2000) != WAIT_OBJECT_0) ADD_FAILURE() << "the call had not returned 2 s after the script";
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
