// Upload: a large local file posted as a new online tree through TarnixCreateOnlineFamilyTree,
// against a bare WinINet POST of the same bytes (the same head, the same multipart body read
// from the same file and written in the same 64 KiB blocks). The server reads the whole body
// before it answers.
#include <cstdio>
#include <vector>

#include "Bench.h"

namespace bench {

namespace {

constexpr char kBoundary[] = "----------------------------839J39AIFUE93CK";
constexpr DWORD kBlock = 64 * 1024;

// The file name as it goes into the part header: every byte but letters, digits and ". - _ *"
// escaped.
std::string Escape(const std::string& text) {
    std::string escaped;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_' || c == '*') {
            escaped += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02x", c);
            escaped += hex;
        }
    }
    return escaped;
}

double LibraryUpload(const std::string& ticket, const std::string& file) {
    IRequest* request = nullptr;
    const double start = Now();
    if (FAILED(TARNIX(TarnixCreateOnlineFamilyTree)(ticket.c_str(), file.c_str(), "4101", "Bench tree", FALSE, "bench",
                                                    &request)))
        Fail("TarnixCreateOnlineFamilyTree failed");
    const HRESULT hr = WaitDone(request);
    const double seconds = Now() - start;
    request->Release();
    if (FAILED(hr)) Fail("library upload: 0x%08lX", static_cast<unsigned long>(hr));
    return seconds;
}

void BareUpload(const std::string& service, const std::string& ticket, const std::string& file) {
    std::string host;
    INTERNET_PORT port = 0;
    SplitHostPort(service, host, port);
    HANDLE input = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) Fail("cannot open %s", file.c_str());
    LARGE_INTEGER size;
    GetFileSizeEx(input, &size);

    char text[1024];
    std::snprintf(text, sizeof text,
                  "--%s\r\nContent-Disposition: form-data; name=\"f1\"; filename=\"%s\"\r\nContent-Type: text/plain\r\n\r\n",
                  kBoundary, Escape(file).c_str());
    const std::string partHeader = text;
    std::snprintf(text, sizeof text, "\r\n--%s--\r\n", kBoundary);
    const std::string closing = text;
    const DWORD bodyLength = static_cast<DWORD>(partHeader.size() + size.QuadPart + closing.size());
    std::snprintf(text, sizeof text,
                  "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows NT)\r\nCookie: ATT=%s;\r\n"
                  "Content-Type: multipart/form-data; boundary=%s\r\nContent-Length: %lu\r\n\r\n",
                  ticket.c_str(), kBoundary, static_cast<unsigned long>(bodyLength));
    const std::string headers = text;

    BareChain chain(host, port, "POST",
                    "/vft/gatekeeper.ashx?op=oftcreate&siteid=4101&oftname=Bench%20tree&forvwt=N&cobrand=bench",
                    {false, 4096, true});
    chain.BeginSend(headers, bodyLength);
    chain.Write(partHeader.data(), static_cast<DWORD>(partHeader.size()));
    std::vector<char> block(kBlock);
    for (DWORD read; ReadFile(input, block.data(), kBlock, &read, nullptr) && read > 0;) chain.Write(block.data(), read);
    chain.Write(closing.data(), static_cast<DWORD>(closing.size()));
    chain.EndSend();
    CloseHandle(input);
    if (chain.StatusCode() != 200) Fail("bare upload: status %lu", chain.StatusCode());
    std::string answer;
    char buffer[4096];
    for (DWORD read; (read = chain.Read(buffer, sizeof buffer)) > 0;) answer.append(buffer, read);
    if (answer.find("<ok/>") == std::string::npos) Fail("bare upload: %s", answer.c_str());
}

}  // namespace

int RunUpload(const Options& options) {
    const std::string service = options.Text("service");
    const std::string file = options.Text("file");
    const int rounds = options.Number("rounds", 5);
    if (service.empty() || file.empty()) Fail("upload needs --service host:port --file PATH");
    InitializeLibrary(service);
    const std::string ticket = SignIn("bench", "bench-pass");
    PolledWorker worker;
    auto bare = [&] {
        const double start = Now();
        worker.Run([&] { BareUpload(service, ticket, file); });
        return Now() - start;
    };

    // --only library|bare runs that variant once (to trace what it calls), and reports nothing.
    const std::string only = options.Text("only");
    if (!only.empty()) {
        if (only == "library") Note("library: %.3f s", LibraryUpload(ticket, file));
        if (only == "bare") Note("bare: %.3f s", bare());
        TerminateLibrary();
        return 0;
    }
    std::vector<double> library, bareSeconds;
    LibraryUpload(ticket, file);  // warm-up
    bare();
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) library.push_back(LibraryUpload(ticket, file));
        bareSeconds.push_back(bare());
        if (round % 2 != 0) library.push_back(LibraryUpload(ticket, file));
    }
    TerminateLibrary();

    HANDLE input = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size = {};
    GetFileSizeEx(input, &size);
    CloseHandle(input);
    const double mib = static_cast<double>(size.QuadPart) / (1 << 20);
    Note("library median %.3f s (%.1f MiB/s), bare POST %.3f s (%.1f MiB/s)", Summarize(library).median,
         mib / Summarize(library).median, Summarize(bareSeconds).median, mib / Summarize(bareSeconds).median);
    std::vector<double> ratio;
    for (int round = 0; round < rounds; ++round) ratio.push_back(bareSeconds[round] / library[round]);
    Report("upload.library_vs_bare_post", ratio, "throughput ratio");
    return 0;
}

}  // namespace bench
