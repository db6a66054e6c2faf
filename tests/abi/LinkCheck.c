/* Built, never run: the public header compiles as C, and every export resolves through the import
 * library under the name and calling convention (on x86 the decoration) that the header declares.
 * The table has external linkage and main reads it, so that no reference is dropped unlinked. */
#include "tarnix.h"

#define E(name) (const void *)&name
const void *const kExports[] = {
    E(TARNIXInitialize), E(TARNIXTerminate), E(TarnixGetConnectedState), E(TarnixCanConnect), E(TarnixConnect),
    E(TarnixURLEncode), E(TarnixSearchDataURL), E(TarnixSearchTreeURL), E(TarnixSearchBoardsURL), E(TarnixGetLoginURL),
    E(TarnixGetSignUpURL), E(TarnixLogin), E(TarnixListUserSites), E(TarnixListOnlineFamilyTrees), E(TarnixGetInternetFile),
    E(TarnixDownloadOnlineFamilyTree), E(TarnixSearchTree), E(TarnixSearchData), E(TarnixCheckVelmoraFamilyTreeVersion),
    E(TarnixUpdateVelmoraFamilyTreeSilentCheck), E(TarnixOpenOnlineFamilyTreeDialog), E(TarnixSaveOnlineFamilyTreeDialog),
    E(TarnixPromptUpdateVelmoraFamilyTreeDialog), E(TarnixCreateOnlineFamilyTree), E(TarnixUpdateOnlineFamilyTree),
    E(TarnixExportOnlineFamilyTree), E(TarnixCreateOnlineFamilyTreeDialog), E(TarnixUpdateOnlineFamilyTreeDialog),
    E(TarnixExportOnlineFamilyTreeDialog), E(TarnixDownloadOnlineFamilyTreeDialog), E(TarnixDownloadFileDialog),
};

int main(void) { return kExports[sizeof kExports / sizeof *kExports - 1] == 0; }
