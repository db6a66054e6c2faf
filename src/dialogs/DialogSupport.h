// What the library's dialogs share: running a dialog from the library's own module, message
// boxes titled with the caller's caption, the poll timer, the dialog's data in its window, and
// the boundaries that keep every exception out of Windows and out of the host.
#pragma once

#include <windows.h>

#include <type_traits>

#include "support/Result.h"

namespace tarnix {

// The timer with which a dialog polls its requests.
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollPeriodMs = 500;

// Shown over the host's window when a dialog export fails before or around its dialog.
constexpr char kGeneralErrorFormat[] = "An error has occured. The error code is %08X";
// Shown when a transfer fails under the download dialog or the upload dialog; hosts know this
// one text for both directions.
constexpr char kDownloadFailedFormat[] =
    "An error has occured while downloading the online family tree. The error code is %08X";

void StartPollTimer(HWND dialog);
void StopPollTimer(HWND dialog) noexcept;

// A dialog's data (its export's context) lives in the window's DWLP_USER slot, which is
// pointer-sized on x64 as well.
template <class T>
void SetDialogData(HWND dialog, T* data) noexcept {
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
}
template <class T>
T* DialogData(HWND dialog) noexcept {
    return reinterpret_cast<T*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// A message box over `owner`, titled with the caller's caption; returns the button pressed.
int ShowMessage(HWND owner, const char* caption, const char* text, UINT type) noexcept;
// `format` holds one "%08X" for the failure's code; the box has the error icon.
void ShowFailure(HWND owner, const char* caption, const char* format, HRESULT hr) noexcept;

// Runs dialog `templateId` of the library's module modally over `parent` (which may be null),
// handing `param` to WM_INITDIALOG. Returns the dialog's end value, or -1 when the dialog could
// not be made. A failure that escaped the dialog's procedure (see GuardDialog) is raised here,
// once the modal loop is over.
INT_PTR RunDialog(HWND parent, int templateId, DLGPROC procedure, void* param);

// A request polled by the dialog failed: stops the poll, shows the failure over the dialog
// under the caller's caption and ends the dialog with 0.
void EndDialogShowingFailure(HWND dialog, const char* caption, const char* format, HRESULT hr) noexcept;

// Records a failure in a dialog procedure and ends the dialog with 0 (timer stopped).
void EndDialogOnFailure(HWND dialog, HRESULT hr) noexcept;

// The body of every dialog procedure: whatever it throws ends the dialog instead of unwinding
// into Windows' frames.
template <class F>
INT_PTR GuardDialog(HWND dialog, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        EndDialogOnFailure(dialog, CaughtToHResult());
        return TRUE;
    }
}

// The body of a dialog export that shows failures: anything raised is shown over the parent
// with the general error message, and the export answers 0 (or nothing).
template <class F>
auto GuardDialogExport(HWND parent, const char* caption, F&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        ShowFailure(parent, caption, kGeneralErrorFormat, CaughtToHResult());
        if constexpr (!std::is_void_v<decltype(body())>) return {};
    }
}

}  // namespace tarnix
