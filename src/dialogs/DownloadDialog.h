// The download dialog (102): a modal progress window for one download request, shown by
// TarnixDownloadFileDialog for any web file and by TarnixDownloadOnlineFamilyTreeDialog for an
// online tree.
#pragma once

#include <windows.h>

#include <string>

#include "support/Handles.h"
#include "tarnix.h"

namespace tarnix {

// What an export hands the dialog; the export owns it for the whole modal loop.
struct DownloadDialogParams {
    std::string caption;      // of the failure's message box
    std::string sourceHost;   // the "from" line's server
    std::string sourceName;   // what is fetched: in the "from" line and the title
    std::string destination;  // the local file; only its name and extension are shown
    ComPtr<IDownloadRequest> request;
    int started = 0;          // 1 once a poll has seen the transfer running
    ULONG totalBytes = 0;     // as read at that poll
    DWORD startTick = 0;      // the tick count at that poll
};

// Runs the dialog over `parent` until the download ends (1), fails or is cancelled (0); -1 when
// the dialog could not be made.
INT_PTR RunDownloadDialog(HWND parent, DownloadDialogParams& params);

}  // namespace tarnix
