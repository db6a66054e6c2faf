// Driving the library's modal dialogs as a user would. The export under test runs on the test's
// own thread, inside its modal loop; a script on a second thread finds the dialog and its message
// boxes, reads their controls, types, ticks, picks list items and presses buttons and keys.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tarnix::test {

// A dialog or message box of the thread under test, seen from the script's thread. Every failure
// (a missing control, one that a user could not click) throws std::runtime_error.
class DialogWindow {
public:
    explicit DialogWindow(HWND window = nullptr) : m_window(window) {}
    HWND Handle() const { return m_window; }
    HWND Owner() const { return GetWindow(m_window, GW_OWNER); }
    // A control, once the dialog's thread has handled what was sent to it before.
    HWND Item(int id) const;
    std::string Title() const;
    std::string Text(int id) const;
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    bool Ticked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    int DefaultButton() const;  // 0 for none

    // Typing replaces an edit control's text, after giving it the focus. A click (of a visible,
    // enabled control) returns at once: it may open a message box, which the script then answers.
    // A key (VK_RETURN, VK_ESCAPE) goes to the focused control after what was sent before: wait
    // for its effect. Close is the close box. Picking a list's item acts as a click on it.
    void Type(int id, const std::string& text) const;
    void Click(int id) const;
    void PressKey(WORD key) const;
    void Close() const { PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0); }
    std::vector<std::string> ListBoxItems(int id) const;
    void ChooseListBoxItem(int id, int position) const;
    // The column titles, then each row: column texts joined by '|'.
    std::vector<std::string> ListViewRows(int id) const;
    void SelectListViewItem(int id, int item, bool doubleClick = false) const;

    // Writes the window, frame included, to screenshots/<name>.png in the working directory.
    void Capture(const std::string& name) const;

private:
    HWND Focus(int id) const;  // throws if the control is disabled

    HWND m_window;
};

class DialogScript {
public:
    DialogScript(DWORD thread, HANDLE callDone) : m_thread(thread), m_callDone(callDone) {}
    // The visible dialog or message box of the thread under test with this title. Throws after
    // 15 s, or at once when the call under test has returned.
    DialogWindow WaitForWindow(const std::string& title) const;
    // Waits (15 s at most) until `condition` holds; throws with `what` if it never does.
    void WaitUntil(const std::function<bool()>& condition, const std::string& what) const;
    void WaitGone(const DialogWindow& window) const;
    // Waits for the message box titled `caption`, checks its owner, text, icon, buttons and default
    // button, presses `press` and waits until it is gone.
    void AnswerMessageBox(const std::string& caption, HWND owner, const std::string& text, UINT icon, int press,
                          const std::vector<int>& buttons = {IDOK}, int defaultButton = IDOK) const;

private:
    DWORD m_thread;
    HANDLE m_callDone;
};

// Runs `call` on this thread while `script` drives its dialogs from a second thread. What the
// script throws is a test failure; so is a dialog of this thread still open 2 s after the script
// ended, which is then cancelled so that the test goes on.
void DriveDialogs(const std::function<void(const DialogScript&)>& script, const std::function<void()>& call);

// The common case: while `call` runs, `user` plays the dialog titled `title` (whose owner must
// be `owner`) from its opening until it is gone; no user: nobody watches. Returns what `call`
// returned.
using User = std::function<void(const DialogScript&, const DialogWindow&)>;
BOOL DriveDialog(const std::string& title, HWND owner, const User& user, const std::function<BOOL()>& call);

}  // namespace tarnix::test
