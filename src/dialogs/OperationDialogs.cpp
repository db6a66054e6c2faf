// The operations on online trees that run under a dialog of the library: create and replace
// (dialog 104, which closes itself once the upload is in), the export order (dialog 103, which
// says when the order was taken and waits for the user) and the download of an online tree (the
// download dialog). Each export starts its request, then polls it from the dialog.
#include <windows.h>

#include <cstdio>
#include <string>

#include "dialogs/DialogSupport.h"
#include "dialogs/DownloadDialog.h"
#include "dialogs/resource.h"
#include "frame/Library.h"
#include "support/Handles.h"
#include "support/Text.h"
#include "tarnix.h"

namespace tarnix {

namespace {

constexpr char kExportFailed[] = "This operation failed with error %08X";
constexpr char kExportMessage[] = "The online family tree '%s' needs to be prepared for download.";
constexpr char kExportStatus[] = "Submitting a request to export the online family tree.\r\nPlease wait...";
constexpr char kExportFinished[] =
    "The request to export the online family tree has been submitted.\r\nPlease check again later to download the "
    "GEDCOM file.";

// The server that the dialogs name is the service's own name, as the browser addresses give it,
// also when a developer's TARNIX_SERVICE sends the requests elsewhere: users know that name.
std::string ShownServer() { return ServiceHostName(); }

struct UploadDialogParams {
    std::string caption;
    std::string server;
    std::string localFile;
    std::string treeName;
    ComPtr<IRequest> request;
};

struct ExportDialogParams {
    std::string caption;
    std::string message;
    std::string statusText;
    std::string finishedText;
    ComPtr<IRequest> request;
};

// The dialog's texts are formatted into 1024 bytes: longer ones are cut.
template <class... Args>
void SetCutText(HWND window, const char* format, Args... args) {
    char text[1024];
    std::snprintf(text, sizeof text, format, args...);
    SetWindowTextA(window, text);
}

// The state of a polled request; a failure has ended the dialog (false).
bool PollState(HWND dialog, IRequest* request, const std::string& caption, const char* failure, LONG& state) {
    state = REQUEST_STATE_PENDING;
    const HRESULT hr = request->GetStatus(&state);
    if (FAILED(hr)) EndDialogShowingFailure(dialog, caption.c_str(), failure, hr);
    return SUCCEEDED(hr);
}

INT_PTR CALLBACK UploadDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardDialog(dialog, [&]() -> INT_PTR {
        if (message == WM_INITDIALOG) {
            const auto& params = *reinterpret_cast<UploadDialogParams*>(lParam);
            SetDialogData(dialog, &params);
            SetCutText(GetDlgItem(dialog, IDC_SOURCE), "Exporting %s to %s", params.treeName.c_str(),
                       params.server.c_str());
            SetCutText(dialog, "Exporting %s", params.treeName.c_str());
            StartPollTimer(dialog);
            return TRUE;
        }
        const auto* params = DialogData<const UploadDialogParams>(dialog);
        if (!params) return FALSE;  // messages that come before WM_INITDIALOG
        LONG state;
        if (message == WM_TIMER && wParam == kPollTimer &&
            PollState(dialog, params->request.get(), params->caption, kDownloadFailedFormat, state) &&
            state == REQUEST_STATE_DONE) {
            StopPollTimer(dialog);
            EndDialog(dialog, 1);
        }
        // Cancel (Esc, the close box) gives the upload up; the hidden OK (Enter) does nothing.
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
        return FALSE;
    });
}

INT_PTR CALLBACK ExportDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardDialog(dialog, [&]() -> INT_PTR {
        if (message == WM_INITDIALOG) {
            const auto& params = *reinterpret_cast<ExportDialogParams*>(lParam);
            SetDialogData(dialog, &params);
            SetDlgItemTextA(dialog, IDC_MESSAGE, params.message.c_str());
            SetDlgItemTextA(dialog, IDC_STATUS, params.statusText.c_str());
            StartPollTimer(dialog);
            return TRUE;
        }
        const auto* params = DialogData<const ExportDialogParams>(dialog);
        if (!params) return FALSE;
        LONG state;
        if (message == WM_TIMER && wParam == kPollTimer &&
            PollState(dialog, params->request.get(), params->caption, kExportFailed, state) &&
            state == REQUEST_STATE_DONE) {
            // The order is taken: the dialog stays until the user has read that. Close becomes
            // the default in the dialog's own record (Enter) as well as in its drawing.
            SetDlgItemTextA(dialog, IDC_STATUS, params->finishedText.c_str());
            const HWND button = GetDlgItem(dialog, IDCANCEL);
            SetWindowTextA(button, "Close");
            SendMessageA(dialog, DM_SETDEFID, IDCANCEL, 0);
            SendMessageA(button, BM_SETSTYLE, static_cast<WPARAM>(GetWindowLongA(button, GWL_STYLE) | BS_DEFPUSHBUTTON),
                         TRUE);
            StopPollTimer(dialog);
        }
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
        return FALSE;
    });
}

template <class Start>
BOOL RunUpload(HWND parent, const char* caption, const char* localFile, const char* treeName, Start start) {
    return GuardDialogExport(parent, caption, [&]() -> BOOL {
        UploadDialogParams params{TextOrEmpty(caption), ShownServer(), TextOrEmpty(localFile), TextOrEmpty(treeName),
                                  nullptr};
        ThrowIfFailed(start(params.request.put()));
        // Leaving releases the request: an upload still running is given up.
        return RunDialog(parent, IDD_UPLOAD, &UploadDlgProc, &params) > 0 ? 1 : 0;
    });
}

}  // namespace

}  // namespace tarnix

using namespace tarnix;

extern "C" BOOL TARNIX_STDCALL TarnixCreateOnlineFamilyTreeDialog(HWND parent, const char* caption,
                                                                  const char* ticket, const char* localFile,
                                                                  const char* siteId, const char* treeName,
                                                                  BOOL submitToWorldTree, const char* cobrand) {
    return RunUpload(parent, caption, localFile, treeName, [&](IRequest** request) {
        return TarnixCreateOnlineFamilyTree(ticket, localFile, siteId, treeName, submitToWorldTree, cobrand, request);
    });
}

extern "C" BOOL TARNIX_STDCALL TarnixUpdateOnlineFamilyTreeDialog(HWND parent, const char* caption,
                                                                  const char* ticket, const char* localFile,
                                                                  const char* collectionId, const char* treeName,
                                                                  const char* cobrand) {
    return RunUpload(parent, caption, localFile, treeName, [&](IRequest** request) {
        return TarnixUpdateOnlineFamilyTree(ticket, localFile, collectionId, cobrand, request);
    });
}

extern "C" void TARNIX_STDCALL TarnixExportOnlineFamilyTreeDialog(HWND parent, const char* caption,
                                                                  const char* ticket, const char* collectionId,
                                                                  const char* treeName, const char* cobrand) {
    GuardDialogExport(parent, caption, [&] {
        ExportDialogParams params{TextOrEmpty(caption), Format(kExportMessage, TextOrEmpty(treeName).c_str()),
                                  kExportStatus, kExportFinished, nullptr};
        ThrowIfFailed(TarnixExportOnlineFamilyTree(ticket, collectionId, cobrand, params.request.put()));
        // However it ends, the caller learns nothing more: the dialog has told the user.
        RunDialog(parent, IDD_EXPORT_REQUEST, &ExportDlgProc, &params);
    });
}

extern "C" BOOL TARNIX_STDCALL TarnixDownloadOnlineFamilyTreeDialog(HWND parent, const char* caption,
                                                                    const char* ticket, const char* collectionId,
                                                                    const char* treeName, const char* destination,
                                                                    const char* cobrand) {
    return GuardDialogExport(parent, caption, [&]() -> BOOL {
        DownloadDialogParams params;
        params.caption = TextOrEmpty(caption);
        params.sourceHost = ShownServer();
        params.sourceName = TextOrEmpty(treeName);
        params.destination = TextOrEmpty(destination);
        ThrowIfFailed(TarnixDownloadOnlineFamilyTree(ticket, collectionId, destination, cobrand, params.request.put()));
        return RunDownloadDialog(parent, params) > 0 ? 1 : 0;
    });
}
