// Downloads (any web file, an online tree) and, when the library has them, uploads.
#include <cstdio>
#include <vector>

#include "Cli.h"

namespace cli {

namespace {

// Follows a download to its end with a progress line drawn from the request's counters; then
// copies the result to `out` when the library kept it in a temporary file.
void FollowDownload(IDownloadRequest* request, const std::string& what, const std::string& out, bool toTemporary) {
    ProgressLine progress(what);
    ULONG received = 0, total = 0;
    Wait(reinterpret_cast<IRequest*>(request), "downloading " + what, [&] {
        // The counters answer once the headers are in (state 1); until then nothing to draw.
        if (SUCCEEDED(request->GetTotalBytes(&total)) && SUCCEEDED(request->GetBytesReceived(&received)))
            progress.Update(received, total);
    });
    Check(request->GetTotalBytes(&total), "reading the size");
    progress.Finish(total);
    char type[256] = {};
    if (SUCCEEDED(request->GetContentType(type, sizeof type)) && *type) std::printf("content type: %s\n", type);
    if (!toTemporary) {
        std::printf("saved to %s\n", out.c_str());
        return;
    }
    // Read back through the request's stream, as a host does with a download to no named file.
    Held<IStream> stream;
    Check(request->GetStream(&stream), "opening the downloaded data");
    FILE* file = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
    if (!file) throw Failure{kFailed, "cannot write " + out};
    std::vector<char> block(65536);
    ULONGLONG copied = 0;
    for (ULONG read = 0; SUCCEEDED(stream->Read(block.data(), static_cast<ULONG>(block.size()), &read)) && read > 0;) {
        std::fwrite(block.data(), 1, read, file);
        copied += read;
    }
    if (file != stdout) std::fclose(file);
    if (out != "-") std::printf("saved %llu bytes to %s\n", copied, out.c_str());
}

int Get(const Args& args) {
    const std::string server = args.At(0, "the server"), path = args.At(1, "the path");
    const std::string out = args.Option("out");
    Initialized initialized;
    Held<IDownloadRequest> request;
    // Without a destination of its own the body goes to a temporary file, read back here.
    Check(TARNIX(TarnixGetInternetFile)(server.c_str(), path.c_str(), &request), "starting the download");
    FollowDownload(request.p, path, out.empty() ? "-" : out, true);
    return 0;
}

int DownloadTree(const Args& args) {
    const std::string ticket = args.Ticket(), tree = args.Option("tree"), out = args.Option("out");
    const std::string cobrand = args.Option("cobrand");
    if (tree.empty()) throw Failure{kUsage, "--tree ID is needed (tarnix trees lists them)"};
    Initialized initialized;
    Held<IDownloadRequest> request;
    Check(TARNIX(TarnixDownloadOnlineFamilyTree)(ticket.c_str(), tree.c_str(), out.c_str(), cobrand.c_str(), &request),
          "starting the tree download");
    FollowDownload(request.p, "tree " + tree, out.empty() ? "-" : out, out.empty());
    return 0;
}

// Follows an upload or an export order to its end; they yield no values, only their status.
void FollowChange(IRequest* request, const std::string& doing) {
    Wait(request, doing);
    std::printf("%s: accepted by the service\n", doing.c_str());
}

int Create(const Args& args) {
    const std::string ticket = args.Ticket(), file = args.At(0, "the GEDCOM file"), site = args.Option("site"),
                      name = args.Option("name"), cobrand = args.Option("cobrand");
    if (site.empty() || name.empty()) throw Failure{kUsage, "--site ID and --name NAME are needed (tarnix sites)"};
    Initialized initialized;
    Held<IRequest> request;
    Check(TARNIX(TarnixCreateOnlineFamilyTree)(ticket.c_str(), file.c_str(), site.c_str(), name.c_str(),
                                                args.Switch("world-tree"), cobrand.c_str(), &request),
          "starting the upload");
    FollowChange(request.p, "creating " + name + " from " + file);
    return 0;
}

int Replace(const Args& args) {
    const std::string ticket = args.Ticket(), file = args.At(0, "the GEDCOM file"), tree = args.Option("tree"),
                      cobrand = args.Option("cobrand");
    if (tree.empty()) throw Failure{kUsage, "--tree ID is needed (tarnix trees lists them)"};
    Initialized initialized;
    Held<IRequest> request;
    Check(TARNIX(TarnixUpdateOnlineFamilyTree)(ticket.c_str(), file.c_str(), tree.c_str(), cobrand.c_str(), &request),
          "starting the upload");
    FollowChange(request.p, "replacing tree " + tree + " with " + file);
    return 0;
}

int Export(const Args& args) {
    const std::string ticket = args.Ticket(), tree = args.Option("tree"), cobrand = args.Option("cobrand");
    if (tree.empty()) throw Failure{kUsage, "--tree ID is needed (tarnix trees lists them)"};
    Initialized initialized;
    Held<IRequest> request;
    Check(TARNIX(TarnixExportOnlineFamilyTree)(ticket.c_str(), tree.c_str(), cobrand.c_str(), &request),
          "ordering the export");
    FollowChange(request.p, "ordering the export of tree " + tree);
    return 0;
}

}  // namespace

std::vector<Command> TransferCommands() {
    return {
        {"create", "FILE --ticket T --site ID --name NAME [--world-tree] [--cobrand C]",
         "Upload a GEDCOM file as a new online tree on one of the user's sites.",
         "--world-tree also submits the tree to the shared World Tree.", {"world-tree"}, Create},
        {"replace", "FILE --ticket T --tree ID [--cobrand C]", "Replace an online tree with a GEDCOM file.", "", {},
         Replace},
        {"export", "--ticket T --tree ID [--cobrand C]",
         "Ask the service to prepare an online tree's GEDCOM file for download.",
         "The service prepares it later; tarnix trees shows its download status, then download-tree.", {}, Export},
        {"get", "SERVER PATH [--out FILE]", "Download any web file, showing its progress.",
         "SERVER is a host name (host:port allowed), PATH the path and query on it. Without --out\n"
         "the file goes to standard output. A status other than 2xx fails, as a body cut short does.",
         {}, Get},
        {"download-tree", "--ticket T --tree ID [--out FILE] [--cobrand C]",
         "Download an exported online tree as a GEDCOM file, showing its progress.",
         "Export it first (tarnix export); tarnix trees shows its download status. Without --out the\n"
         "file goes to standard output.",
         {}, DownloadTree},
    };
}

}  // namespace cli
