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
    explicit DialogWindow(HWND window) : m_window(window) {}
    HWND Handle() const { return m_window; }
    HWND Owner() const { return GetWindow(m_window, GW_OWNER); }
    // A control, once the dialog's thread has handled what was sent to it before.
    HWND Item(int id) const;
    std::string Title() const;
    std::string Text(int id) const;
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    bool Ticked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Focused(int id) const;  // holds the keyboard focus of the dialog's thread
    int DefaultButton() const;  // 0 for none

    // As a user would: only enabled controls, clicks only on visible ones. A click returns at once
    // (it may open a message box); a key goes to the focused control after what was sent before.
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
    // The visible dialog or message box titled `title`. Waits 15 s at most, and no longer than the call.
    DialogWindow WaitForWindow(const std::string& title) const;
    // Waits (15 s at most) until `condition` holds; throws with `what` if it never does.
    void WaitUntil(const std::function<bool()>& condition, const std::string& what) const;
    void WaitGone(const DialogWindow& window) const;
    // Checks the message box titled `caption`: owner, text, icon, buttons, default; presses `press`.
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

// While `call` runs, `user` plays the dialog titled `title` (owned by `owner`) from its opening
// until it is gone; no user: nobody watches. Returns what `call` returned.
using User = std::function<void(const DialogScript&, const DialogWindow&)>;
BOOL DriveDialog(const std::string& title, HWND owner, const User& user, const std::function<BOOL()>& call);

}  // namespace tarnix::test
