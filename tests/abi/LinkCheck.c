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
