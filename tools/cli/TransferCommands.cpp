// Downloads (any web file, an online tree) and, when the library has them, uploads.
#include <cstdio>
#include <string>
#include <vector>

#include "Cli.h"

namespace cli {

namespace {

std::string LastError() { return Describe(HRESULT_FROM_WIN32(GetLastError())); }

// Where a download's bytes go. Standard output, or a device (NUL, a console, a full disk's test
// device), takes them as they come; a file is written beside its destination and takes its place
// only once whole, so that a failed copy leaves nothing that looks complete (and an existing file
// as it was). Every failed write fails the command.
class Output {
public:
    explicit Output(const std::string& path) : m_path(path) {
        if (path == "-") {
            std::fflush(stdout);
            m_file = GetStdHandle(STD_OUTPUT_HANDLE);
            return;
        }
        m_file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
        if (m_file != INVALID_HANDLE_VALUE && GetFileType(m_file) != FILE_TYPE_DISK) {
            m_owned = true;
            return;
        }
        if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
        const size_t slash = path.find_last_of("\\/");
        const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        char partial[MAX_PATH];
        if (!GetTempFileNameA(folder.c_str(), "tnx", 0, partial))
            throw Failure{kFailed, "cannot write beside " + path + ": " + LastError()};
        m_partial = partial;
        m_file = CreateFileA(partial, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_file == INVALID_HANDLE_VALUE) {
            const std::string reason = LastError();
            DeleteFileA(partial);
            throw Failure{kFailed, "cannot write " + m_partial + ": " + reason};
        }
        m_owned = true;
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        Close();
        if (!m_partial.empty()) DeleteFileA(m_partial.c_str());  // not put in place: incomplete
    }

    void Write(const char* data, ULONG size) {
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(m_file, data, size, &written, nullptr) || written == 0)
                throw Failure{kFailed, "writing " + Name() + " failed: " + LastError()};
            data += written;
            size -= written;
        }
    }

    // The bytes are all there: a file takes its destination's place.
    void Complete() {
        Close();
        if (m_partial.empty()) return;
        if (!MoveFileExA(m_partial.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING))
            throw Failure{kFailed, "cannot put the download in place as " + m_path + ": " + LastError()};
        m_partial.clear();
    }

private:
    std::string Name() const { return m_path == "-" ? "to standard output" : m_path; }
    void Close() {
        if (m_owned) CloseHandle(m_file);
        m_owned = false;
    }

    std::string m_path, m_partial;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    bool m_owned = false;
};

// Follows a download to its end with a progress line drawn from the request's counters; then
// copies the result to `out` when the library kept it in a temporary file. What the command says
// goes to standard error when the data goes to standard output.
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
    FILE* says = out == "-" ? stderr : stdout;
    char type[256] = {};
    if (SUCCEEDED(request->GetContentType(type, sizeof type)) && *type) std::fprintf(says, "content type: %s\n", type);
    if (!toTemporary) {
        std::fprintf(says, "saved to %s\n", out.c_str());
        return;
    }
    // Read back through the request's stream, as a host does with a download to no named file.
    Held<IStream> stream;
    Check(request->GetStream(&stream), "opening the downloaded data");
    Output output(out);
    std::vector<char> block(65536);
    ULONGLONG copied = 0;
    for (;;) {
        ULONG read = 0;
        Check(stream->Read(block.data(), static_cast<ULONG>(block.size()), &read), "reading the downloaded data");
        if (read == 0) break;
        output.Write(block.data(), read);
        copied += read;
    }
    if (total != 0 && copied != total)
        throw Failure{kFailed, "the downloaded data held " + std::to_string(copied) + " of its " +
                                   std::to_string(total) + " bytes"};
    output.Complete();
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
         "the file goes to standard output. A status other than 2xx fails, as a body cut short does,\n"
         "and so does a failed write: FILE is written beside itself and put in place only when whole.",
         {}, Get},
        {"download-tree", "--ticket T --tree ID [--out FILE] [--cobrand C]",
         "Download an exported online tree as a GEDCOM file, showing its progress.",
         "Export it first (tarnix export); tarnix trees shows its download status. With --out the\n"
         "library writes FILE; without, the file goes to standard output, and a failed write fails.",
         {}, DownloadTree},
    };
}

}  // namespace cli
