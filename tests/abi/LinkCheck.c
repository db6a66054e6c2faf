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

int main(void)
{
    volatile unsigned n = sizeof kExports / sizeof kExports[0];
    void (*volatile call)(IQueryRequest *) = CallThroughVtable;
    (void)call;
    return n == 0;
}
