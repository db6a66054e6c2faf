// Download: one large file from a local web server into a file, through TarnixGetInternetFile
// (timed from the export until the request reports done; the file is then whole on disk),
// against bare WinINet loops that read the same body in the library's block (256 KiB,
// blocking or asynchronous) or in the 4096-byte block of the original design, and write each
// block to a file created as the library creates its own (timed until the last block is
// written). Each round prints one "TIME <variant> <seconds>" line: tools/run-bench.sh runs one
// round per process, curl beside it, and computes the ratios (see the report command).
#include <cstdio>
#include <vector>

#include "Bench.h"

namespace bench {

namespace {

struct DownloadRun {
    double seconds = 0;
    double releaseSeconds = 0;  // giving the request (or the file) up afterwards
};

DownloadRun LibraryDownload(const std::string& server, const std::string& path, ULONGLONG expected) {
    IDownloadRequest* request = nullptr;
    const double start = Now();
    if (FAILED(TARNIX(TarnixGetInternetFile)(server.c_str(), path.c_str(), &request)))
        Fail("TarnixGetInternetFile failed");
    const HRESULT hr = WaitDone(request);
    DownloadRun run;
    run.seconds = Now() - start;
    ULONG received = 0;
    if (FAILED(hr) || FAILED(request->GetBytesReceived(&received)) || received != expected)
        Fail("library download: 0x%08lX, %lu bytes of %llu", static_cast<unsigned long>(hr), received, expected);
    // Once the worker has let go, the host's release is the last one and closes the file.
    Sleep(200);
    const double releaseStart = Now();
    request->Release();
    run.releaseSeconds = Now() - releaseStart;
    return run;
}

DownloadRun BareDownload(const std::string& server, const std::string& path, ULONGLONG expected,
                         const BareOptions& options) {
    std::string host;
    INTERNET_PORT port = 0;
    SplitHostPort(server, host, port);
    std::vector<char> block(options.blockSize);
    DownloadRun run;
    const double start = Now();
    HANDLE file = INVALID_HANDLE_VALUE;
    {
        BareChain chain(host, port, "GET", path, options);
        chain.Send();
        if (chain.StatusCode() != 200) Fail("bare download: status %lu", chain.StatusCode());
        file = CreateOutputFile(TempFileName("BAR"), true);
        ULONGLONG total = 0;
        for (DWORD read; (read = chain.Read(block.data(), options.blockSize)) > 0; total += read) {
            DWORD written = 0;
            if (!WriteFile(file, block.data(), read, &written, nullptr) || written != read) Fail("WriteFile failed");
        }
        run.seconds = Now() - start;
        if (total != expected) Fail("bare download: %llu bytes of %llu", total, expected);
    }
    const double releaseStart = Now();
    CloseHandle(file);
    run.releaseSeconds = Now() - releaseStart;
    return run;
}

}  // namespace

int RunDownload(const Options& options) {
    const std::string server = options.Text("server");
    const int rounds = options.Number("rounds", 5);
    // What the variants fetch: the measured file, or first the smaller one that warms up the
    // server, WinINet and the file system (--warm-path, --warm-mib).
    struct Target {
        std::string path;
        ULONGLONG size;
    };
    const Target measured = {options.Text("path"), static_cast<ULONGLONG>(options.Number("mib", 256)) << 20};
    Target target = {options.Text("warm-path", measured.path.c_str()),
                     static_cast<ULONGLONG>(options.Number("warm-mib", options.Number("mib", 256))) << 20};
    const std::string& path = target.path;
    const ULONGLONG& size = target.size;
    if (server.empty() || measured.path.empty()) Fail("download needs --server host:port --path /file");
    InitializeLibrary("");
    PolledWorker worker;
    // The bare loops run on the worker, polled as the library's request is.
    auto polled = [&](BareOptions bare) {
        return [&, bare] {
            DownloadRun run;
            worker.Run([&] { run = BareDownload(server, path, size, bare); });
            return run;
        };
    };

    struct Variant {
        const char* name;
        std::function<DownloadRun()> run;
        std::vector<double> seconds, releaseSeconds, cpuSeconds;
    };
    std::vector<Variant> variants = {
        {"library", [&] { return LibraryDownload(server, path, size); }, {}, {}, {}},
        {"bare sync 256 KiB", polled({false, 256 * 1024}), {}, {}, {}},
        {"bare async 256 KiB", polled({true, 256 * 1024}), {}, {}, {}},
        {"bare sync 4 KiB", polled({false, 4096}), {}, {}, {}},
    };
    // --only NAME runs one variant once (to trace what it calls), and reports nothing.
    const std::string only = options.Text("only");
    if (!only.empty()) {
        target = measured;
        for (Variant& variant : variants)
            if (only == variant.name) Note("%s: %.3f s", variant.name, variant.run().seconds);
        TerminateLibrary();
        return 0;
    }
    for (Variant& variant : variants) variant.run();  // unmeasured
    target = measured;
    for (int round = 0; round < rounds; ++round) {
        // Interleaved, each round starting one variant further on, so that no variant always
        // follows the same one.
        std::string line = "round " + std::to_string(round + 1) + ":";
        for (size_t i = 0; i < variants.size(); ++i) {
            Variant& variant = variants[(round + i) % variants.size()];
            const double cpuStart = WorkerCpuSeconds();
            const DownloadRun run = variant.run();
            variant.cpuSeconds.push_back(WorkerCpuSeconds() - cpuStart);
            variant.seconds.push_back(run.seconds);
            variant.releaseSeconds.push_back(run.releaseSeconds);
            char text[96];
            std::snprintf(text, sizeof text, " %s %.3f s (processor %.2f s);", variant.name, run.seconds,
                          variant.cpuSeconds.back());
            line += text;
            std::printf("TIME %s %.6f\n", variant.name, run.seconds);
        }
        Note("%s", line.c_str());
    }
    TerminateLibrary();

    const double mib = static_cast<double>(size) / (1 << 20);
    for (const Variant& variant : variants) {
        const Spread time = Summarize(variant.seconds);
        Note("%-18s median %7.3f s (%6.1f MiB/s), release or close %.3f s, processor %.3f s", variant.name, time.median,
             mib / time.median, Summarize(variant.releaseSeconds).median, Summarize(variant.cpuSeconds).median);
    }
    return 0;
}

}  // namespace bench
