// The online family tree browser (dialog 101): the user picks one of his sites, then an online
// tree of that site to open, or the name under which to save a tree there. The dialog lists the
// sites and trees itself: it polls the two list requests that its export started.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dialogs/DialogSupport.h"
#include "dialogs/SubmissionTerms.h"
#include "dialogs/resource.h"
#include "support/Handles.h"
#include "support/Text.h"
#include "tarnix.h"

namespace tarnix {

namespace {

constexpr int kOpenMode = 1;
constexpr int kSaveMode = 0;

constexpr char kSitesFailed[] = "An error has occured while listing the sites. The error code is %08X";
constexpr char kTreesFailed[] = "An error has occured while listing the online family trees. The error code is %08X";
constexpr char kTermsNotAccepted[] =
    "You selected that you would like to submit the tree to the Velmora World Tree\r\nbut did not accept the "
    "terms of the agreement.  Please verify that you have read \r\nthe agreement and checked the acceptance "
    "check box.";
constexpr char kTreeNotFound[] = "%s tree not found.\r\nPlease verify the correct tree name was given.";
constexpr char kReplaceTree[] = "%s already exists.\r\nDo you want to replace it?";
constexpr char kLoadingItem[] = "Loading.   Please wait...";

// Values longer than this cannot be read while loading: such a read fails.
constexpr ULONG kValueBufferSize = 1024;

struct SiteEntry {
    std::string siteId, siteName, siteRights, rights;
};

struct TreeEntry {
    std::string siteId, siteName, collectionId, treeName, permission, downloadStatus;
};

struct TreeBrowserContext {
    std::string caption;
    std::string ticket;
    ComPtr<IQueryRequest> siteRequest;
    ComPtr<IQueryRequest> treeRequest;
    int mode = kSaveMode;
    std::vector<SiteEntry> sites;  // entry 0 is the pseudo-site that holds trees without a site
    std::vector<TreeEntry> trees;
    int selectedSite = -1;
    int selectedTree = -1;
    std::string nameText;  // the name box's text as last seen: only a change of it forgets the tree
    TreeEntry result;
    int worldTree = 0;
};

// Letter case is ignored as the ANSI code page defines it.
bool SameText(std::string a, std::string b) {
    if (a.size() != b.size()) return false;
    if (!a.empty()) {
        CharUpperBuffA(&a[0], static_cast<DWORD>(a.size()));
        CharUpperBuffA(&b[0], static_cast<DWORD>(b.size()));
    }
    return a == b;
}

std::string TrimWhiteSpace(const std::string& text) {
    const char* const kWhite = " \t\n\v\f\r";
    const size_t first = text.find_first_not_of(kWhite);
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(kWhite) - first + 1);
}

std::string ItemText(HWND dialog, int id) {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(GetDlgItem(dialog, id))) + 1, '\0');
    text.resize(static_cast<size_t>(GetDlgItemTextA(dialog, id, &text[0], static_cast<int>(text.size()))));
    return text;
}

bool Ticked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void Enable(HWND dialog, int id, bool enabled) { EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE); }

HRESULT ReadValue(IQueryRequest* request, ULONG row, const char* name, std::string& value) {
    char buffer[kValueBufferSize];
    const HRESULT hr = request->GetValue(row, name, buffer, sizeof buffer);
    value = SUCCEEDED(hr) ? buffer : "";
    return hr;
}

void SetColumn(HWND list, int column, const char* title, int width, bool insert) {
    LVCOLUMNA format{};
    format.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
    format.fmt = LVCFMT_LEFT;
    format.pszText = const_cast<char*>(title);
    format.cx = width;
    if (insert)
        ListView_InsertColumn(list, column, &format);
    else
        ListView_SetColumn(list, column, &format);
}

int ClientWidth(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client.right - client.left;
}

void UpdateOk(HWND dialog, const TreeBrowserContext& context) {
    Enable(dialog, IDOK, context.selectedSite != -1 && !TrimWhiteSpace(ItemText(dialog, IDC_TREE_NAME)).empty());
}

void UpdateTermsBox(HWND dialog) {
    const bool ticked = Ticked(dialog, IDC_WORLD_TREE);
    SetDlgItemTextA(dialog, IDC_TERMS, ticked ? kSubmissionTerms : "");
    Enable(dialog, IDC_ACCEPT_TERMS, ticked);
    if (!ticked) CheckDlgButton(dialog, IDC_ACCEPT_TERMS, BST_UNCHECKED);
}

// The name box notifies focus changes too (a Tab, a message box taking the focus): the chosen
// tree is forgotten only when its text really changed.
void NameEdited(HWND dialog, TreeBrowserContext& context) {
    std::string text = ItemText(dialog, IDC_TREE_NAME);
    if (text != context.nameText) {
        context.nameText = std::move(text);
        context.selectedTree = -1;
    }
    UpdateOk(dialog, context);
}

// Lists the trees of the site chosen in the site list.
void SiteChosen(HWND dialog, TreeBrowserContext& context) {
    const HWND list = GetDlgItem(dialog, IDC_TREE_LIST);
    context.selectedTree = -1;
    ListView_DeleteAllItems(list);
    const LRESULT position = SendDlgItemMessageA(dialog, IDC_SITE_LIST, LB_GETCURSEL, 0, 0);
    context.selectedSite = position == LB_ERR ? -1 : static_cast<int>(position);
    if (context.selectedSite >= 0 && static_cast<size_t>(context.selectedSite) < context.sites.size()) {
        const std::string& siteId = context.sites[static_cast<size_t>(context.selectedSite)].siteId;
        for (size_t index = 0; index < context.trees.size(); ++index) {
            TreeEntry& tree = context.trees[index];
            if (!SameText(tree.siteId, siteId)) continue;
            LVITEMA item{};
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.iItem = ListView_GetItemCount(list);
            item.pszText = &tree.treeName[0];
            item.lParam = static_cast<LPARAM>(index);
            const int at = ListView_InsertItem(list, &item);
            ListView_SetItemText(list, at, 1, &tree.permission[0]);
            ListView_SetItemText(list, at, 2, &tree.downloadStatus[0]);
        }
    }
    UpdateOk(dialog, context);
}

void TreeSelectionChanged(HWND dialog, TreeBrowserContext& context, const NMLISTVIEW& change) {
    if ((change.uChanged & LVIF_STATE) && change.iItem != -1) {
        const bool was = (change.uOldState & LVIS_SELECTED) != 0, now = (change.uNewState & LVIS_SELECTED) != 0;
        if (!was && now) {
            LVITEMA item{};
            item.mask = LVIF_PARAM;
            item.iItem = change.iItem;
            if (ListView_GetItem(change.hdr.hwndFrom, &item) && item.lParam >= 0 &&
                static_cast<size_t>(item.lParam) < context.trees.size()) {
                // Setting the text reports an edit, which forgets the selected tree: store it after.
                SetDlgItemTextA(dialog, IDC_TREE_NAME, context.trees[static_cast<size_t>(item.lParam)].treeName.c_str());
                context.nameText = ItemText(dialog, IDC_TREE_NAME);
                context.selectedTree = static_cast<int>(item.lParam);
            }
        } else if (was && !now) {
            context.selectedTree = -1;
        }
    }
    UpdateOk(dialog, context);
}

// Reads the finished site list into the site table; the failure of a site's id ends loading.
HRESULT BuildSiteTable(TreeBrowserContext& context) {
    IQueryRequest* request = context.siteRequest.get();
    const ULONG rows = request->GetRowCount();
    context.sites.clear();
    context.sites.reserve(rows + 1);
    context.sites.push_back({"", "<<Velmora>>", "PRIV", "ADMN"});
    for (ULONG row = 0; row < rows; ++row) {
        SiteEntry site;
        const HRESULT hr = ReadValue(request, row, "SiteID", site.siteId);
        if (FAILED(hr)) return hr;
        ReadValue(request, row, "SiteName", site.siteName);
        ReadValue(request, row, "SiteRights", site.siteRights);
        ReadValue(request, row, "Rights", site.rights);
        // Only private sites on which the user may work are offered.
        if (SameText(site.siteRights, "PRIV") &&
            (SameText(site.rights, "ADMN") || SameText(site.rights, "USER") || SameText(site.rights, "GEST")))
            context.sites.push_back(std::move(site));
    }
    return S_OK;
}

HRESULT BuildTreeTable(TreeBrowserContext& context) {
    IQueryRequest* request = context.treeRequest.get();
    const ULONG rows = request->GetRowCount();
    context.trees.clear();
    context.trees.reserve(rows);
    for (ULONG row = 0; row < rows; ++row) {
        TreeEntry tree;
        HRESULT hr = ReadValue(request, row, "SiteID", tree.siteId);
        if (FAILED(hr)) return hr;
        ReadValue(request, row, "SiteName", tree.siteName);
        if (FAILED(hr = ReadValue(request, row, "CollectionID", tree.collectionId))) return hr;
        ReadValue(request, row, "OFTName", tree.treeName);
        ReadValue(request, row, "Permission", tree.permission);
        ReadValue(request, row, "DownloadStatus", tree.downloadStatus);
        // The tree list may write a site's id in braces; the site list does not.
        if (!tree.siteId.empty() && tree.siteId.front() == '{') tree.siteId.erase(0, 1);
        if (!tree.siteId.empty() && tree.siteId.back() == '}') tree.siteId.pop_back();
        context.trees.push_back(std::move(tree));
    }
    return S_OK;
}

INT_PTR EndLoading(HWND dialog, const TreeBrowserContext& context, const char* format, HRESULT hr) {
    StopPollTimer(dialog);
    ShowFailure(dialog, context.caption.c_str(), format, hr);
    EndDialog(dialog, 0);
    return 0;
}

void Initialize(HWND dialog, TreeBrowserContext& context) {
    SetDialogData(dialog, &context);
    Enable(dialog, IDOK, false);
    Enable(dialog, IDC_SITE_LIST, false);
    Enable(dialog, IDC_TREE_LIST, false);
    const HWND list = GetDlgItem(dialog, IDC_TREE_LIST);
    SetColumn(list, 0, "", ClientWidth(list), true);
    LVITEMA loading{};
    loading.mask = LVIF_TEXT;
    loading.pszText = const_cast<char*>(kLoadingItem);
    ListView_InsertItem(list, &loading);
    Enable(dialog, IDC_TREE_NAME, false);
    if (context.mode == kOpenMode) {
        ShowWindow(GetDlgItem(dialog, IDC_WORLD_TREE), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_ACCEPT_TERMS), SW_HIDE);
    } else {
        CheckDlgButton(dialog, IDC_WORLD_TREE, BST_CHECKED);
        Enable(dialog, IDC_WORLD_TREE, false);
        Enable(dialog, IDC_ACCEPT_TERMS, false);
    }
    UpdateTermsBox(dialog);
    context.selectedSite = -1;
    context.selectedTree = -1;
    StartPollTimer(dialog);
}

// One poll: once both lists have arrived, fill the dialog and let the user work.
INT_PTR LoadingStep(HWND dialog, TreeBrowserContext& context) {
    LONG siteState = REQUEST_STATE_PENDING, treeState = REQUEST_STATE_PENDING;
    HRESULT hr = context.siteRequest->GetStatus(&siteState);
    if (FAILED(hr)) return EndLoading(dialog, context, kSitesFailed, hr);
    if (FAILED(hr = context.treeRequest->GetStatus(&treeState))) return EndLoading(dialog, context, kTreesFailed, hr);
    if (siteState != REQUEST_STATE_DONE || treeState != REQUEST_STATE_DONE) return 0;
    if (FAILED(hr = BuildSiteTable(context))) return EndLoading(dialog, context, kSitesFailed, hr);
    if (FAILED(hr = BuildTreeTable(context))) return EndLoading(dialog, context, kTreesFailed, hr);

    // A list position is the index of its site in the table: the list is not sorted.
    for (const SiteEntry& site : context.sites)
        SendDlgItemMessageA(dialog, IDC_SITE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(site.siteName.c_str()));
    Enable(dialog, IDC_SITE_LIST, true);

    const HWND list = GetDlgItem(dialog, IDC_TREE_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    const int width = ClientWidth(list);
    SetColumn(list, 0, "Name", width - width / 3 - width / 5, false);
    SetColumn(list, 1, "Permission", width / 5, true);
    SetColumn(list, 2, "Download Status", width / 3, true);
    Enable(dialog, IDC_TREE_LIST, true);
    Enable(dialog, IDC_TREE_NAME, true);
    Enable(dialog, IDC_WORLD_TREE, true);

    SendDlgItemMessageA(dialog, IDC_SITE_LIST, LB_SETCURSEL, 0, 0);
    SiteChosen(dialog, context);
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_TREE_NAME)), TRUE);
    StopPollTimer(dialog);
    return 0;
}

void Confirm(HWND dialog, TreeBrowserContext& context) {
    // Nothing can be confirmed before the lists have arrived.
    if (context.selectedSite < 0 || static_cast<size_t>(context.selectedSite) >= context.sites.size()) return;
    const SiteEntry& site = context.sites[static_cast<size_t>(context.selectedSite)];
    const bool worldTree = Ticked(dialog, IDC_WORLD_TREE), accepted = Ticked(dialog, IDC_ACCEPT_TERMS);
    const std::string name = TrimWhiteSpace(ItemText(dialog, IDC_TREE_NAME));
    if (context.selectedTree == -1) {
        const auto found = std::find_if(context.trees.begin(), context.trees.end(), [&](const TreeEntry& tree) {
            return SameText(tree.siteId, site.siteId) && SameText(tree.treeName, name);
        });
        if (found != context.trees.end()) context.selectedTree = static_cast<int>(found - context.trees.begin());
    }
    // The tree the user is asked about is the one returned, whatever the message boxes' focus
    // changes report meanwhile.
    const int chosen = context.selectedTree;
    const char* caption = context.caption.c_str();
    if (worldTree && !accepted) {
        ShowMessage(dialog, caption, kTermsNotAccepted, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (context.mode == kOpenMode && chosen == -1) {
        ShowMessage(dialog, caption, Format(kTreeNotFound, name.c_str()).c_str(), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (context.mode == kSaveMode && chosen != -1 &&
        ShowMessage(dialog, caption, Format(kReplaceTree, name.c_str()).c_str(),
                    MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDYES)
        return;
    if (chosen != -1)
        context.result = context.trees[static_cast<size_t>(chosen)];
    else
        context.result = {site.siteId, site.siteName, "", name, "", ""};
    context.worldTree = worldTree ? 1 : 0;
    EndDialog(dialog, 1);
}

INT_PTR CALLBACK TreeBrowserDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardDialog(dialog, [&]() -> INT_PTR {
        if (message == WM_INITDIALOG) {
            Initialize(dialog, *reinterpret_cast<TreeBrowserContext*>(lParam));
            return TRUE;
        }
        TreeBrowserContext* context = DialogData<TreeBrowserContext>(dialog);
        if (!context) return FALSE;  // messages that come before WM_INITDIALOG
        switch (message) {
        case WM_TIMER:
            return LoadingStep(dialog, *context);
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDC_TREE_NAME:
                NameEdited(dialog, *context);
                break;
            case IDC_WORLD_TREE:
                UpdateTermsBox(dialog);
                break;
            case IDC_SITE_LIST:
                if (HIWORD(wParam) == LBN_SELCHANGE) SiteChosen(dialog, *context);
                break;
            case IDOK:
                Confirm(dialog, *context);
                break;
            case IDCANCEL:
                EndDialog(dialog, 0);
                break;
            }
            return FALSE;
        case WM_NOTIFY: {
            const NMHDR& header = *reinterpret_cast<const NMHDR*>(lParam);
            if (header.idFrom != IDC_TREE_LIST) return FALSE;
            if (header.code == LVN_ITEMCHANGED)
                TreeSelectionChanged(dialog, *context, *reinterpret_cast<const NMLISTVIEW*>(lParam));
            else if (header.code == NM_DBLCLK && ListView_GetSelectedCount(header.hwndFrom) > 0)
                Confirm(dialog, *context);
            return FALSE;
        }
        }
        return FALSE;
    });
}

struct ResultBuffer {
    char* data;
    ULONG size;
};

// Cut to size - 1 bytes, the rest zero-filled, the last byte zero; a null or empty buffer is
// left alone.
void CopyField(const ResultBuffer& buffer, const std::string& field) {
    if (!buffer.data || buffer.size == 0) return;
    const size_t room = buffer.size - 1, length = std::min<size_t>(field.size(), room);
    std::memcpy(buffer.data, field.data(), length);
    std::memset(buffer.data + length, 0, room - length + 1);
}

BOOL RunTreeBrowser(int mode, HWND parent, const char* caption, const char* ticket, const char* cobrand,
                    const ResultBuffer (&buffers)[6], int* worldTree) {
    return GuardDialogExport(parent, caption, [&]() -> BOOL {
        TreeBrowserContext context;
        context.caption = TextOrEmpty(caption);
        context.ticket = TextOrEmpty(ticket);
        context.mode = mode;
        ThrowIfFailed(TarnixListUserSites(ticket, context.siteRequest.put()));
        ThrowIfFailed(TarnixListOnlineFamilyTrees(ticket, cobrand, context.treeRequest.put()));
        // Leaving releases both requests: one still running is given up.
        if (RunDialog(parent, IDD_TREE_BROWSER, &TreeBrowserDlgProc, &context) <= 0) return 0;
        const TreeEntry& result = context.result;
        const std::string* fields[6] = {&result.siteId,   &result.siteName,   &result.collectionId,
                                        &result.treeName, &result.permission, &result.downloadStatus};
        for (int i = 0; i < 6; ++i) CopyField(buffers[i], *fields[i]);
        if (mode == kSaveMode && worldTree) *worldTree = context.worldTree;
        return 1;
    });
}

}  // namespace

}  // namespace tarnix

using namespace tarnix;

extern "C" BOOL TARNIX_STDCALL TarnixOpenOnlineFamilyTreeDialog(
    HWND parent, const char* caption, const char* ticket, const char* cobrand, char* siteId, ULONG siteIdSize,
    char* siteName, ULONG siteNameSize, char* collectionId, ULONG collectionIdSize, char* treeName,
    ULONG treeNameSize, char* permission, ULONG permissionSize, char* downloadStatus, ULONG downloadStatusSize) {
    const ResultBuffer buffers[6] = {{siteId, siteIdSize},         {siteName, siteNameSize},
                                     {collectionId, collectionIdSize}, {treeName, treeNameSize},
                                     {permission, permissionSize}, {downloadStatus, downloadStatusSize}};
    return RunTreeBrowser(kOpenMode, parent, caption, ticket, cobrand, buffers, nullptr);
}

extern "C" BOOL TARNIX_STDCALL TarnixSaveOnlineFamilyTreeDialog(
    HWND parent, const char* caption, const char* ticket, const char* cobrand, char* siteId, ULONG siteIdSize,
    char* siteName, ULONG siteNameSize, char* collectionId, ULONG collectionIdSize, char* treeName,
    ULONG treeNameSize, char* permission, ULONG permissionSize, char* downloadStatus, ULONG downloadStatusSize,
    int* worldTree) {
    const ResultBuffer buffers[6] = {{siteId, siteIdSize},         {siteName, siteNameSize},
                                     {collectionId, collectionIdSize}, {treeName, treeNameSize},
                                     {permission, permissionSize}, {downloadStatus, downloadStatusSize}};
    return RunTreeBrowser(kSaveMode, parent, caption, ticket, cobrand, buffers, worldTree);
}
