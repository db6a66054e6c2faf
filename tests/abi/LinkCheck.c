/* Built, never run: the public header compiles as C, and every export resolves through the
 * import library under the name and calling convention that the header declares. */
#include "tarnix.h"

static const void *const kExports[] = {
    (const void *)&TARNIXInitialize,
    (const void *)&TARNIXTerminate,
    (const void *)&TarnixGetConnectedState,
    (const void *)&TarnixCanConnect,
    (const void *)&TarnixConnect,
    (const void *)&TarnixURLEncode,
    (const void *)&TarnixSearchDataURL,
    (const void *)&TarnixSearchTreeURL,
    (const void *)&TarnixSearchBoardsURL,
    (const void *)&TarnixGetLoginURL,
    (const void *)&TarnixGetSignUpURL,
    (const void *)&TarnixLogin,
    (const void *)&TarnixListUserSites,
    (const void *)&TarnixListOnlineFamilyTrees,
    /* search counts and version checks */
    (const void *)&TarnixSearchTree,
    (const void *)&TarnixSearchData,
    (const void *)&TarnixCheckVelmoraFamilyTreeVersion,
    (const void *)&TarnixUpdateVelmoraFamilyTreeSilentCheck,
    /* the library's dialogs */
    (const void *)&TarnixOpenOnlineFamilyTreeDialog,
    (const void *)&TarnixSaveOnlineFamilyTreeDialog,
    (const void *)&TarnixPromptUpdateVelmoraFamilyTreeDialog,
};

static void CallThroughVtable(IQueryRequest *request)
{
    LONG state = 0;
    char value[8];
    ULONG length = 0;
    IQueryRequest_GetStatus(request, &state);
    IQueryRequest_GetValue(request, 0, "name", value, sizeof value);
    IQueryRequest_GetValueLength(request, 0, "name", &length);
    IQueryRequest_GetRowCount(request);
    IQueryRequest_Release(request);
}

static void CallSearchCount(ISearchCountRequest *request)
{
    LONG value = 0;
    ISearchCountRequest_GetStatus(request, &value);
    ISearchCountRequest_GetFirstValue(request, &value);
    ISearchCountRequest_GetSecondValue(request, &value);
    ISearchCountRequest_GetLastValue(request, &value);
    ISearchCountRequest_AddRef(request);
    ISearchCountRequest_Release(request);
}

/* Create, replace and export of online trees: upload requests, the IRequest front alone. Kept
 * with external linkage so that the compiler cannot drop the references. */
const void *const kTreeChangeExports[] = {
    (const void *)&TarnixCreateOnlineFamilyTree,
    (const void *)&TarnixUpdateOnlineFamilyTree,
    (const void *)&TarnixExportOnlineFamilyTree,
};

void CallRequestThroughVtable(IRequest *request)
{
    static const IID kUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    LONG state = 0;
    IRequest *same = NULL;
    IRequest_QueryInterface(request, &kUnknown, (void **)&same);
    IRequest_AddRef(request);
    IRequest_GetStatus(request, &state);
    IRequest_Release(request);
}

int main(void)
{
    volatile unsigned n = sizeof kExports / sizeof kExports[0];
    void (*volatile call)(IQueryRequest *) = CallThroughVtable;
    void (*volatile count)(ISearchCountRequest *) = CallSearchCount;
    (void)call;
    (void)count;
    return n == 0;
}

/* Downloads: external, so that both are kept and their imports must resolve. */
const void *const kDownloadExports[] = {
    (const void *)&TarnixGetInternetFile,
    (const void *)&TarnixDownloadOnlineFamilyTree,
};

void CallDownloadThroughVtable(IDownloadRequest *request)
{
    LONG state = 0;
    char type[8];
    ULONG count = 0;
    IStream *stream = NULL;
    IDownloadRequest_GetStatus(request, &state);
    IDownloadRequest_GetContentType(request, type, sizeof type);
    IDownloadRequest_GetTotalBytes(request, &count);
    IDownloadRequest_GetBytesReceived(request, &count);
    if (SUCCEEDED(IDownloadRequest_GetStream(request, &stream)))
        stream->lpVtbl->Release(stream);
    IDownloadRequest_Release(request);
}

/* Transfers under a progress window: external, so that their imports must resolve. */
const void *const kTransferDialogExports[] = {
    (const void *)&TarnixCreateOnlineFamilyTreeDialog,
    (const void *)&TarnixUpdateOnlineFamilyTreeDialog,
    (const void *)&TarnixExportOnlineFamilyTreeDialog,
    (const void *)&TarnixDownloadOnlineFamilyTreeDialog,
    (const void *)&TarnixDownloadFileDialog,
};
