#include "dialogs/DialogSupport.h"

#include <commctrl.h>

#include <cstdio>
#include <utility>

#include "frame/Library.h"

namespace tarnix {

namespace {

// A failure recorded by EndDialogOnFailure for the modal loop running on this thread.
thread_local HRESULT t_dialogFailure = S_OK;

void RegisterCommonControls() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)registered;  // a failure shows when the dialog cannot be made
}

}  // namespace

void StartPollTimer(HWND dialog) { ThrowLastErrorIfNull(SetTimer(dialog, kPollTimer, kPollPeriodMs, nullptr)); }

void StopPollTimer(HWND dialog) noexcept { KillTimer(dialog, kPollTimer); }

int ShowMessage(HWND owner, const char* caption, const char* text, UINT type) noexcept {
    return MessageBoxA(owner, text, caption, type);
}

void ShowFailure(HWND owner, const char* caption, const char* format, HRESULT hr) noexcept {
    char text[256];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(hr));
    ShowMessage(owner, caption, text, MB_OK | MB_ICONERROR);
}

INT_PTR RunDialog(HWND parent, int templateId, DLGPROC procedure, void* param) {
    RegisterCommonControls();
    const HRESULT outer = std::exchange(t_dialogFailure, S_OK);
    const INT_PTR result = DialogBoxParamA(ModuleHandle(), MAKEINTRESOURCEA(templateId), parent, procedure,
                                           reinterpret_cast<LPARAM>(param));
    ThrowIfFailed(std::exchange(t_dialogFailure, outer));
    return result;
}

void EndDialogShowingFailure(HWND dialog, const char* caption, const char* format, HRESULT hr) noexcept {
    StopPollTimer(dialog);
    ShowFailure(dialog, caption, format, hr);
    EndDialog(dialog, 0);
}

void EndDialogOnFailure(HWND dialog, HRESULT hr) noexcept {
    if (SUCCEEDED(t_dialogFailure)) t_dialogFailure = FAILED(hr) ? hr : E_FAIL;
    StopPollTimer(dialog);
    EndDialog(dialog, 0);
}

}  // namespace tarnix
