// The update prompt (dialog 105): asks whether to update the application now. It only asks;
// fetching and running the update is the host's business.
#include <windows.h>

#include "dialogs/DialogSupport.h"
#include "dialogs/resource.h"
#include "tarnix.h"

namespace tarnix {

namespace {

// The dialog's data is the export's choice flag: 1 to update now, 0 to be reminded later.
INT_PTR CALLBACK UpdatePromptDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardDialog(dialog, [&]() -> INT_PTR {
        if (message == WM_INITDIALOG) {
            SetDialogData(dialog, reinterpret_cast<int*>(lParam));
            return TRUE;  // the dialog manager gives the default button the focus
        }
        // OK is also Enter; Cancel is also Esc and the close box.
        if (message != WM_COMMAND || (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL)) return FALSE;
        const int choice = LOWORD(wParam) == IDOK ? 1 : 0;
        if (int* flag = DialogData<int>(dialog)) *flag = choice;
        EndDialog(dialog, choice);
        return TRUE;
    });
}

}  // namespace

}  // namespace tarnix

using namespace tarnix;

extern "C" BOOL TARNIX_CDECL TarnixPromptUpdateVelmoraFamilyTreeDialog(HWND parent) {
    try {
        int choice = 1;
        return RunDialog(parent, IDD_UPDATE_PROMPT, &UpdatePromptDlgProc, &choice) == 1 ? 1 : 0;
    } catch (...) {
        return 0;  // the prompt has no caption to report a failure under: the user is not asked
    }
}
