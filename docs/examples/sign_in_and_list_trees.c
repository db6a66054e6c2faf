/*
 * Sign in and list the online family trees, from C.
 *
 *   sign_in_and_list_trees USER PASSWORD [COBRAND]
 *
 * A host polls each request until GetStatus fails or reports REQUEST_STATE_DONE, reads its rows
 * and releases it. Every request receives one reference that the host releases.
 */
#include <stdio.h>

#include "tarnix.h"

/* Polls as a host's timer would; the request's failure, or S_OK once it is done. */
static HRESULT WaitDone(IQueryRequest *request)
{
    for (;;) {
        LONG state = REQUEST_STATE_PENDING;
        HRESULT hr = IQueryRequest_GetStatus(request, &state);
        if (FAILED(hr) || state == REQUEST_STATE_DONE)
            return hr;
        Sleep(50);
    }
}

/* Prints one value of a row: its length first, then a buffer of length + 1 bytes. */
static void PrintValue(IQueryRequest *request, ULONG row, const char *name)
{
    char value[1024];
    ULONG length = 0;
    if (SUCCEEDED(IQueryRequest_GetValueLength(request, row, name, &length)) && length < sizeof value &&
        SUCCEEDED(IQueryRequest_GetValue(request, row, name, value, sizeof value)))
        printf(" %s=\"%s\"", name, value);
}

int main(int argc, char **argv)
{
    IQueryRequest *login = NULL, *trees = NULL;
    char ticket[512] = "";
    ULONG row;
    HRESULT hr;

    if (argc < 3) {
        fprintf(stderr, "usage: %s USER PASSWORD [COBRAND]\n", argv[0]);
        return 2;
    }
    hr = TARNIXInitialize(0);
    if (FAILED(hr))
        return 1;

    hr = TarnixLogin(argv[1], argv[2], &login);
    if (SUCCEEDED(hr))
        hr = WaitDone(login);
    if (SUCCEEDED(hr))
        hr = IQueryRequest_GetValue(login, 0, "att", ticket, sizeof ticket);
    if (login)
        IQueryRequest_Release(login);

    if (SUCCEEDED(hr))
        hr = TarnixListOnlineFamilyTrees(ticket, argc > 3 ? argv[3] : "", &trees);
    if (SUCCEEDED(hr))
        hr = WaitDone(trees);
    if (SUCCEEDED(hr)) {
        for (row = 0; row < IQueryRequest_GetRowCount(trees); ++row) {
            printf("tree %lu:", (unsigned long)row);
            PrintValue(trees, row, "CollectionID");
            PrintValue(trees, row, "OFTName");
            PrintValue(trees, row, "SiteName");
            printf("\n");
        }
    }
    if (trees)
        IQueryRequest_Release(trees);

    TARNIXTerminate();
    if (FAILED(hr)) {
        fprintf(stderr, "failed: 0x%08lX\n", (unsigned long)hr);
        return 1;
    }
    return 0;
}
