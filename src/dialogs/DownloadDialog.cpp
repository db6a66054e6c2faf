// The download dialog (102): where the file comes from and goes, the time left with the bytes
// copied, the rate, a progress bar and the percentage in the title, updated at every poll of
// the download request; it closes itself once the file is complete.
#include "dialogs/DownloadDialog.h"

#include <commctrl.h>

#include "dialogs/DialogSupport.h"
#include "dialogs/TransferText.h"
#include "dialogs/resource.h"
#include "operations/StartRequest.h"
#include "support/Text.h"
#include "transport/DownloadRequest.h"

namespace tarnix {

namespace {

void Initialize(HWND dialog, DownloadDialogParams& params) {
    SetDialogData(dialog, &params);
    params.started = 0;
    params.totalBytes = 0;
    SetDlgItemTextA(dialog, IDC_SOURCE,
                    Format("%s from %s", params.sourceName.c_str(), params.sourceHost.c_str()).c_str());
    SetDlgItemTextA(dialog, IDC_TIME_LEFT, "Locating file...");
    SetDlgItemTextA(dialog, IDC_DESTINATION, FileNameAndExtension(params.destination).c_str());
    SetDlgItemTextA(dialog, IDC_RATE, "");
    SetWindowTextA(dialog, CompletedTitle(0, params.sourceName).c_str());
    StartPollTimer(dialog);
}

void Poll(HWND dialog, DownloadDialogParams& params) {
    IDownloadRequest* request = params.request.get();
    LONG state = REQUEST_STATE_PENDING;
    const HRESULT hr = request->GetStatus(&state);
    if (FAILED(hr)) return EndDialogShowingFailure(dialog, params.caption.c_str(), kDownloadFailedFormat, hr);
    // Until the answer's headers are in, the dialog keeps saying that it locates the file.
    if (state != REQUEST_STATE_RUNNING && state != REQUEST_STATE_DONE) return;

    // The rate and the time left are measured from the first poll that sees the transfer.
    if (!params.started) {
        ULONG total = 0;
        if (SUCCEEDED(request->GetTotalBytes(&total))) {
            params.totalBytes = total;
            SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
        }
        params.startTick = GetTickCount();
        params.started = 1;
    }
    ULONG received = 0;
    if (SUCCEEDED(request->GetBytesReceived(&received))) {
        const std::uint32_t rate = TransferRate(received, params.startTick, GetTickCount());
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, received, 0);
        SetDlgItemTextA(dialog, IDC_TIME_LEFT, ProgressText(params.totalBytes, received, rate).c_str());
        SetWindowTextA(dialog, CompletedTitle(Percentage(received, params.totalBytes), params.sourceName).c_str());
        SetDlgItemTextA(dialog, IDC_RATE, RateText(rate).c_str());
    }
    if (state == REQUEST_STATE_DONE) {
        StopPollTimer(dialog);
        EndDialog(dialog, 1);
    }
}

INT_PTR CALLBACK DownloadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardDialog(dialog, [&]() -> INT_PTR {
        if (message == WM_INITDIALOG) {
            Initialize(dialog, *reinterpret_cast<DownloadDialogParams*>(lParam));
            return TRUE;
        }
        DownloadDialogParams* params = DialogData<DownloadDialogParams>(dialog);
        if (!params) return FALSE;  // messages that come before WM_INITDIALOG
        if (message == WM_TIMER && wParam == kPollTimer) Poll(dialog, *params);
        // Cancel and Esc; nothing else, the hidden OK (Enter) included, ends the download.
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
        return FALSE;
    });
}

}  // namespace

INT_PTR RunDownloadDialog(HWND parent, DownloadDialogParams& params) {
    return RunDialog(parent, IDD_DOWNLOAD_FILE, &DownloadDialogProc, &params);
}

}  // namespace tarnix

using namespace tarnix;

extern "C" BOOL TARNIX_STDCALL TarnixDownloadFileDialog(HWND parent, const char* caption, const char* server,
                                                        const char* objectPath, const char* destination,
                                                        char* contentType, ULONG contentTypeSize) {
    return GuardDialogExport(parent, caption, [&]() -> BOOL {
        DownloadDialogParams params;
        params.caption = TextOrEmpty(caption);
        params.sourceHost = TextOrEmpty(server);
        params.sourceName = TextOrEmpty(objectPath);
        params.destination = TextOrEmpty(destination);
        ThrowIfFailed(StartRequest<CDownloadRequest>(params.request.put(), [&](CDownloadRequest& download) {
            download.Configure(WireText(server), WireText(objectPath), destination);
        }));
        // Leaving releases the request: a download still running is given up, and a named file
        // keeps what it had received.
        if (RunDownloadDialog(parent, params) <= 0) return 0;
        // A buffer too small for the type fails the call, although the file is complete.
        if (contentType && contentTypeSize != 0 && FAILED(params.request->GetContentType(contentType, contentTypeSize)))
            return 0;
        return 1;
    });
}
