#include "DialogDriver.h"

#include <commctrl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace tarnix::test {
namespace {

constexpr DWORD kPatienceMs = 15000;

std::string WindowText(HWND window) {
    char text[4096] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// The visible windows of a class: the children of `parent`, or the top-level windows of `thread`.
std::vector<HWND> VisibleWindows(const char* kind, HWND parent, DWORD thread = 0) {
    std::vector<HWND> found;
    for (HWND w = GetWindow(parent ? parent : GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        char name[32] = {};
        GetClassNameA(w, name, sizeof name);
        if (IsWindowVisible(w) && !_stricmp(name, kind) && (parent || GetWindowThreadProcessId(w, nullptr) == thread))
            found.push_back(w);
    }
    return found;
}
// The visible dialogs and message boxes of a thread.
std::vector<HWND> OpenDialogs(DWORD thread) { return VisibleWindows("#32770", nullptr, thread); }

}  // namespace

HWND DialogWindow::Item(int id) const {
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(m_window, WM_NULL, 0, 0, SMTO_NORMAL, kPatienceMs, &ignored))
        throw std::runtime_error("the dialog's thread does not answer");
    HWND item = GetDlgItem(m_window, id);
    if (!item) throw std::runtime_error("no control " + std::to_string(id) + " in \"" + Title() + "\"");
    return item;
}

HWND DialogWindow::Focus(int id) const {
    if (!Enabled(id)) throw std::runtime_error("used the disabled control " + std::to_string(id));
    const HWND item = Item(id);
    SendMessageA(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
    return item;
}

std::string DialogWindow::Title() const { return WindowText(m_window); }
std::string DialogWindow::Text(int id) const { return WindowText(Item(id)); }

bool DialogWindow::Focused(int id) const {
    GUITHREADINFO thread{sizeof(GUITHREADINFO)};
    const HWND item = Item(id);
    return GetGUIThreadInfo(GetWindowThreadProcessId(m_window, nullptr), &thread) && thread.hwndFocus == item;
}

int DialogWindow::DefaultButton() const {
    for (HWND button : VisibleWindows("Button", m_window))
        if ((GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return GetDlgCtrlID(button);
    return 0;
}

void DialogWindow::Type(int id, const std::string& text) const {
    SendMessageA(Focus(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void DialogWindow::Click(int id) const {
    if (!Visible(id) || !Enabled(id))
        throw std::runtime_error("clicked control " + std::to_string(id) + ", which is hidden or disabled");
    SendNotifyMessageA(Item(id), BM_CLICK, 0, 0);
}

void DialogWindow::PressKey(WORD key) const {
    GUITHREADINFO thread{sizeof(GUITHREADINFO)};
    GetGUIThreadInfo(GetWindowThreadProcessId(m_window, nullptr), &thread);
    HWND focus = thread.hwndFocus && IsChild(m_window, thread.hwndFocus) ? thread.hwndFocus : m_window;
    PostMessageA(focus, WM_KEYDOWN, key, 1);
}

std::vector<std::string> DialogWindow::ListBoxItems(int id) const {
    std::vector<std::string> items;
    const HWND list = Item(id);
    for (LRESULT i = 0, count = SendMessageA(list, LB_GETCOUNT, 0, 0); i < count; ++i) {
        char text[256] = {};
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

void DialogWindow::ChooseListBoxItem(int id, int position) const {
    const HWND list = Focus(id);
    SendMessageA(list, LB_SETCURSEL, position, 0);
    SendMessageA(m_window, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

std::vector<std::string> DialogWindow::ListViewRows(int id) const {
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

void DialogWindow::SelectListViewItem(int id, int item, bool doubleClick) const {
    const HWND list = Focus(id);
    ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    RECT label{};
    if (doubleClick && ListView_GetItemRect(list, item, &label, LVIR_LABEL))
        SendNotifyMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON,
                           MAKELPARAM((label.left + label.right) / 2, (label.top + label.bottom) / 2));
}

void DialogWindow::Capture(const std::string& name) const {
    RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Sleep(300);  // the dialog's own thread paints
    RECT frame{};
    GetWindowRect(m_window, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC window = GetWindowDC(m_window), memory = CreateCompatibleDC(window);
    HBITMAP bitmap = CreateCompatibleBitmap(window, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    bool saved = BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(m_window, window);

    Gdiplus::GdiplusStartupInput startup;
    ULONG_PTR token = 0;
    const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    CreateDirectoryA("screenshots", nullptr);
    const std::wstring path = L"screenshots\\" + std::wstring(name.begin(), name.end()) + L".png";
    saved = saved && Gdiplus::GdiplusStartup(&token, &startup, nullptr) == Gdiplus::Ok &&
            Gdiplus::Bitmap(bitmap, nullptr).Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
    if (token) Gdiplus::GdiplusShutdown(token);
    DeleteObject(bitmap);
    if (!saved) throw std::runtime_error("could not capture \"" + Title() + "\"");
}

DialogWindow DialogScript::WaitForWindow(const std::string& title) const {
    HWND found = nullptr;
    const auto shown = [&] {
        for (HWND window : OpenDialogs(m_thread)) found = WindowText(window) == title ? window : found;
        return found != nullptr;
    };
    WaitUntil(shown, "a window titled \"" + title + "\"");
    return DialogWindow(found);
}

void DialogScript::WaitUntil(const std::function<bool()>& condition, const std::string& what) const {
    for (const ULONGLONG start = GetTickCount64(); !condition(); Sleep(20)) {
        if (WaitForSingleObject(m_callDone, 0) == WAIT_OBJECT_0)
            throw std::runtime_error("the call returned while waiting for " + what);
        if (GetTickCount64() - start > kPatienceMs) throw std::runtime_error("waited in vain for " + what);
    }
}

void DialogScript::WaitGone(const DialogWindow& window) const {
    for (const ULONGLONG start = GetTickCount64(); IsWindow(window.Handle()) && IsWindowVisible(window.Handle()); Sleep(20))
        if (GetTickCount64() - start > kPatienceMs) throw std::runtime_error("\"" + window.Title() + "\" stayed open");
}

void DialogScript::AnswerMessageBox(const std::string& caption, HWND owner, const std::string& text, UINT icon,
                                    int press, const std::vector<int>& buttons, int defaultButton) const {
    const DialogWindow box = WaitForWindow(caption);
    const struct { LPCSTR icon; UINT style; } kinds[] = {{IDI_HAND, MB_ICONERROR}, {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                                                         {IDI_QUESTION, MB_ICONQUESTION}, {IDI_ASTERISK, MB_ICONINFORMATION}};
    std::string shownText;
    UINT shownIcon = 0;
    for (HWND label : VisibleWindows("Static", box.Handle())) {
        if (shownText.empty()) shownText = WindowText(label);
        const LRESULT image = SendMessageA(label, STM_GETICON, 0, 0);
        for (const auto& kind : kinds)
            if (image && image == reinterpret_cast<LRESULT>(LoadIconA(nullptr, kind.icon))) shownIcon = kind.style;
    }
    std::vector<int> ids;
    for (HWND button : VisibleWindows("Button", box.Handle())) ids.push_back(GetDlgCtrlID(button));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(owner, box.Owner());
    EXPECT_EQ(text, shownText);
    EXPECT_EQ(icon, shownIcon);
    EXPECT_EQ(buttons, ids);
    EXPECT_EQ(defaultButton, box.DefaultButton());
    box.Click(press);
    WaitGone(box);
}

void DriveDialogs(const std::function<void(const DialogScript&)>& script, const std::function<void()>& call) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD thread = GetCurrentThreadId();
    std::thread driver([&] {
        try {
            script(DialogScript(thread, done));
        } catch (const std::exception& e) {
            ADD_FAILURE() << "dialog script: " << e.what();
        }
        if (WaitForSingleObject(done, 2000) == WAIT_OBJECT_0) return;
        std::string left;
        for (HWND window : OpenDialogs(thread)) left += " \"" + WindowText(window) + "\"";
        ADD_FAILURE() << "still open after the script:" << left;
        while (WaitForSingleObject(done, 100) == WAIT_TIMEOUT)
            for (HWND window : OpenDialogs(thread)) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    });
    call();
    SetEvent(done);
    driver.join();
    CloseHandle(done);
}

BOOL DriveDialog(const std::string& title, HWND owner, const User& user, const std::function<BOOL()>& call) {
    BOOL result = -1;
    DriveDialogs(
        [&](const DialogScript& script) {
            if (!user) return;
            const DialogWindow dialog = script.WaitForWindow(title);
            EXPECT_EQ(owner, dialog.Owner());
            user(script, dialog);
            script.WaitGone(dialog);
        },
        [&] { result = call(); });
    return result;
}

}  // namespace tarnix::test
