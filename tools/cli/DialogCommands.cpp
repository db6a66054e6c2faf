// The library's dialogs, one command each: the dialog appears as it does over the application's
// window, and the command prints what the export returned and what it wrote into the buffers.
#include <cstdio>
#include <string>

#include "Cli.h"

namespace cli {

namespace {

// The console's window when there is one to own the dialog, else none: the dialog is unowned.
HWND Parent() {
    HWND console = GetConsoleWindow();
    return console && IsWindowVisible(console) ? console : nullptr;
}

// Prints the export's result; the exit code tells a script whether the user's operation completed.
int Returned(BOOL result) {
    std::printf("returned: %d\n", result);
    return result == 1 ? 0 : kFailed;
}

// Six buffers for the chosen tree, as the application passes them.
struct TreeBuffers {
    static constexpr ULONG kSize = 256;
    char fields[6][kSize] = {};
    void Print() const {
        static const char* const kNames[6] = {"SiteID", "SiteName", "CollectionID", "OFTName", "Permission",
                                              "DownloadStatus"};
        for (int i = 0; i < 6; ++i) std::printf("%s: %s\n", kNames[i], fields[i]);
    }
};

int Browse(const Args& args, bool save) {
    const std::string caption = args.Option("caption", "tarnix"), ticket = args.Ticket(), cobrand = args.Option("cobrand");
    Initialized initialized;
    TreeBuffers b;
    constexpr ULONG n = TreeBuffers::kSize;
    int worldTree = -1;
    const BOOL result =
        save ? TARNIX(TarnixSaveOnlineFamilyTreeDialog)(Parent(), caption.c_str(), ticket.c_str(), cobrand.c_str(),
                                                        b.fields[0], n, b.fields[1], n, b.fields[2], n, b.fields[3], n,
                                                        b.fields[4], n, b.fields[5], n, &worldTree)
             : TARNIX(TarnixOpenOnlineFamilyTreeDialog)(Parent(), caption.c_str(), ticket.c_str(), cobrand.c_str(),
                                                        b.fields[0], n, b.fields[1], n, b.fields[2], n, b.fields[3], n,
                                                        b.fields[4], n, b.fields[5], n);
    const int code = Returned(result);
    b.Print();
    if (save) std::printf("world tree: %d\n", worldTree);
    return code;
}

int Open(const Args& args) { return Browse(args, false); }
int Save(const Args& args) { return Browse(args, true); }

int Create(const Args& args) {
    const std::string file = args.At(0, "the GEDCOM file"), caption = args.Option("caption", "tarnix");
    const std::string ticket = args.Ticket(), site = args.Option("site"), name = args.Option("name"),
                      cobrand = args.Option("cobrand");
    if (site.empty() || name.empty()) throw Failure{kUsage, "--site ID and --name NAME are needed"};
    Initialized initialized;
    return Returned(TARNIX(TarnixCreateOnlineFamilyTreeDialog)(Parent(), caption.c_str(), ticket.c_str(),
                                                               file.c_str(), site.c_str(), name.c_str(),
                                                               args.Switch("world-tree"), cobrand.c_str()));
}

int Update(const Args& args) {
    const std::string file = args.At(0, "the GEDCOM file"), caption = args.Option("caption", "tarnix");
    const std::string ticket = args.Ticket(), tree = args.Option("tree"), name = args.Option("name", tree.c_str()),
                      cobrand = args.Option("cobrand");
    if (tree.empty()) throw Failure{kUsage, "--tree ID is needed (tarnix trees lists them)"};
    Initialized initialized;
    return Returned(TARNIX(TarnixUpdateOnlineFamilyTreeDialog)(Parent(), caption.c_str(), ticket.c_str(),
                                                               file.c_str(), tree.c_str(), name.c_str(),
                                                               cobrand.c_str()));
}

int Export(const Args& args) {
    const std::string caption = args.Option("caption", "tarnix"), ticket = args.Ticket(), tree = args.Option("tree"),
                      name = args.Option("name", tree.c_str()), cobrand = args.Option("cobrand");
    if (tree.empty()) throw Failure{kUsage, "--tree ID is needed (tarnix trees lists them)"};
    Initialized initialized;
    TARNIX(TarnixExportOnlineFamilyTreeDialog)(Parent(), caption.c_str(), ticket.c_str(), tree.c_str(), name.c_str(),
                                               cobrand.c_str());
    std::printf("returned (nothing to return)\n");
    return 0;
}

int DownloadTree(const Args& args) {
    const std::string caption = args.Option("caption", "tarnix"), ticket = args.Ticket(), tree = args.Option("tree"),
                      name = args.Option("name", tree.c_str()), out = args.Option("out"),
                      cobrand = args.Option("cobrand");
    if (tree.empty() || out.empty()) throw Failure{kUsage, "--tree ID and --out FILE are needed"};
    Initialized initialized;
    return Returned(TARNIX(TarnixDownloadOnlineFamilyTreeDialog)(Parent(), caption.c_str(), ticket.c_str(),
                                                                 tree.c_str(), name.c_str(), out.c_str(),
                                                                 cobrand.c_str()));
}

int Download(const Args& args) {
    const std::string server = args.At(0, "the server"), path = args.At(1, "the path"), file = args.At(2, "the file");
    const std::string caption = args.Option("caption", "tarnix");
    const int size = args.Number("type-size", 256);
    if (size < 0 || size > 4096) throw Failure{kUsage, "--type-size takes 0 to 4096"};
    Initialized initialized;
    char type[4096] = {};
    const int code = Returned(TARNIX(TarnixDownloadFileDialog)(Parent(), caption.c_str(), server.c_str(),
                                                               path.c_str(), file.c_str(), type,
                                                               static_cast<ULONG>(size)));
    std::printf("content type: %s\n", type);
    return code;
}

int UpdatePrompt(const Args&) { return Returned(TARNIX(TarnixPromptUpdateVelmoraFamilyTreeDialog)(Parent())); }

#define CLI_DIALOG_NOTE                                                                         \
    "The dialog is owned by the console's window when it has one. The command prints what the\n" \
    "export returned, and exits with 0 when that is 1, else 1. --caption C titles the message\n"  \
    "boxes (tarnix)."

}  // namespace

std::vector<Command> DialogCommands() {
    return {
        {"dialog-open", "--ticket T [--cobrand C] [--caption C]", "Pick an online tree to open in the library's browser.",
         "Prints the chosen tree's six values as the application's buffers (256 bytes each) hold them.\n" CLI_DIALOG_NOTE,
         {}, Open},
        {"dialog-save", "--ticket T [--cobrand C] [--caption C]", "Name an online tree to save in the library's browser.",
         "Prints the six values and the World Tree flag (-1 when the export left it alone).\n" CLI_DIALOG_NOTE, {}, Save},
        {"dialog-create", "FILE --ticket T --site ID --name NAME [--world-tree] [--cobrand C]",
         "Create an online tree from a GEDCOM file under the upload dialog.",
         "--world-tree also submits it to the World Tree.\n" CLI_DIALOG_NOTE, {"world-tree"}, Create},
        {"dialog-update", "FILE --ticket T --tree ID [--name NAME] [--cobrand C]",
         "Replace an online tree with a GEDCOM file under the upload dialog.",
         "ID is the tree's collection id (tarnix trees); NAME, only shown, defaults to it.\n" CLI_DIALOG_NOTE, {}, Update},
        {"dialog-export", "--ticket T --tree ID [--name NAME] [--cobrand C]",
         "Order the export of an online tree under the export dialog.",
         "The export returns nothing: the dialog tells the user how it went.\n" CLI_DIALOG_NOTE, {}, Export},
        {"dialog-download-tree", "--ticket T --tree ID --out FILE [--name NAME] [--cobrand C]",
         "Download an exported online tree into FILE under the download dialog.",
         "Export it first (dialog-export); NAME is what the dialog says it fetches.\n" CLI_DIALOG_NOTE, {}, DownloadTree},
        {"dialog-download", "SERVER PATH FILE [--type-size N]", "Download a web file into FILE under the download dialog.",
         "SERVER is a host name, PATH the path and query on it. Prints the content type that the\n"
         "export copied into a buffer of N bytes (256; 0 asks for none).\n" CLI_DIALOG_NOTE,
         {}, Download},
        {"dialog-update-prompt", "", "Ask whether to update the application now.",
         "Needs no sign-in and no initialization.\n" CLI_DIALOG_NOTE, {}, UpdatePrompt},
    };
}

}  // namespace cli
