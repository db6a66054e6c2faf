/*
 * Let the user choose an online tree in the library's own dialog, from C.
 *
 *   choose_tree_dialog TICKET [COBRAND]
 *
 * The dialog loads the user's sites and trees itself and copies the chosen tree's values into
 * the caller's buffers (each cut to its size - 1 bytes and terminated).
 */
#include <stdio.h>

#include "tarnix.h"

int main(int argc, char **argv)
{
    char siteId[64], siteName[256], collectionId[64], treeName[256], permission[16], status[16];
    BOOL chosen;

    if (argc < 2) {
        fprintf(stderr, "usage: %s TICKET [COBRAND]\n", argv[0]);
        return 2;
    }
    if (FAILED(TARNIXInitialize(0)))
        return 1;
    chosen = TarnixOpenOnlineFamilyTreeDialog(NULL, "Open an online tree", argv[1], argc > 2 ? argv[2] : "",
                                              siteId, sizeof siteId, siteName, sizeof siteName, collectionId,
                                              sizeof collectionId, treeName, sizeof treeName, permission,
                                              sizeof permission, status, sizeof status);
    TARNIXTerminate();
    if (!chosen)
        return 1; /* cancelled, or the failure was shown to the user */
    printf("%s (collection %s) on %s\n", treeName, collectionId, siteName);
    return 0;
}
