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
    HWND Item(int id) const;
    std::string Title() const;
    std::string Text(int id) const;
    // Both are read once the dialog's thread has handled what it was busy with.
    bool Enabled(int id) const;
    bool Visible(int id) const;
    bool Ticked(int id) const;

    // Replaces the text of an edit control, after giving it the focus, as typing does.
    void Type(int id, const std::string& text) const;
    // Clicks a visible, enabled button or check box. It returns at once: a click may open a
    // message box, which the script then answers.
    void Click(int id) const;
    // Posts a key (VK_RETURN, VK_ESCAPE) to the focused control, as the keyboard does. Keys are
    // handled in order, after what was sent before: wait for the key's effect.
    void PressKey(WORD key) const;
    // The close box.
    void Close() const;

    std::vector<std::string> ListBoxItems(int id) const;
    void ChooseListBoxItem(int id, int position) const;  // as a click: focus, select, notify
    std::vector<std::string> ListViewColumns(int id) const;
    std::vector<std::string> ListViewRows(int id) const;  // each row's column texts joined by '|'
    void SelectListViewItem(int id, int item) const;  // as a click: focus, then select
    void DoubleClickListViewItem(int id, int item) const;  // selects it first, as a click does

    // A message box's text, its icon (MB_ICONERROR, MB_ICONEXCLAMATION, ...; 0 for none), its
    // buttons and its default button.
    std::string MessageText() const;
    UINT MessageIcon() const;
    std::vector<int> Buttons() const;
    int DefaultButton() const;

    // Writes the window, frame included, to screenshots/<name>.png in the working directory.
    void Capture(const std::string& name) const;

private:
    // Returns once the dialog's thread has handled every message sent to it before.
    void Sync() const;
    // Moves the focus to a control, as a click on it does.
    void Focus(int id) const;

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

}  // namespace tarnix::test
